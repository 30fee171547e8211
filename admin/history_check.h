#pragma once

#include "core/database.h"
#include "store/history_chain.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace korvela {
class StoreReader;
}

namespace korvela::admin {

// Where a hash chain (store/history_chain.h) stops fitting: the first row whose stored hash is not the digest of the row
// before it and its own columns, and what most likely happened there.
struct ChainBreak
{
    enum class Kind {
        Edited,   // the row's own columns (or its hash) were changed after it was written
        Inserted, // the row was put in by hand: the row after it still follows the row before it
        Removed,  // rows before it are gone: its seq does not follow the seq before it
    };
    Kind kind = Kind::Edited;
    std::int64_t seq = 0;
    std::int64_t previousSeq = 0; // the last row that fits before it; 0 when none
};

// A chain followed row by row in seq order, holding no more than the rows around the break.
class ChainFollower
{
public:
    // `row`: the digest's columns in their order, seq first, then the stored hash. False once the
    // break is known: no row after it can be checked.
    bool add(const std::vector<Value>& row);
    // After the last row: the break, or none when every row fits.
    std::optional<ChainBreak> finish();
    std::int64_t rows() const { return m_rows; }
    // The last row that fits: its seq (0 before any) and hash (null before any).
    std::int64_t lastSeq() const { return m_previousSeq; }
    const QString& lastHash() const { return m_previousHash; }

private:
    bool fits(const QString& previous, const std::vector<Value>& row) const;
    std::optional<ChainBreak> judge(const std::vector<Value>* next) const;

    mutable ChainDigest m_digest;

    std::int64_t m_rows = 0;
    QString m_previousHash;       // null before the first row
    QString m_beforePreviousHash; // the hash the previous row followed
    std::int64_t m_previousSeq = 0;
    std::optional<std::vector<Value>> m_suspect; // the first row that does not fit, until the next is read
    std::optional<ChainBreak> m_break;
};

// What the history and access log tell of a store: the rows of each chain, the problems (a chain
// broken, reports changed outside Korvela) and the warnings (the staff cannot be told apart).
struct HistoryFindings
{
    std::int64_t historyRows = -1; // -1 when the chain was not read
    std::int64_t accessRows = -1;
    QStringList problems;
    QStringList warnings;
};

// Both chains of a store at the program's version recomputed with the digest, every report held
// against its latest version in the history, and on the server whether the history can tell the
// staff apart.
HistoryFindings checkHistory(StoreReader& store);

} // namespace korvela::admin
