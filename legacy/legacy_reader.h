#pragma once

#include "legacy/legacy_decode.h"
#include "core/database.h"
#include "core/status.h"
#include "records/report_fields.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace korvela::legacy {

// A column of the old table the reader brings over: found by name without regard to case, its
// value read as the field kind says.
struct LegacyColumn
{
    QString name;
    FieldKind kind;
    QString label; // for messages: “姓名”（A1）
};

// The table the reader reads and the columns it takes from it, in the order of the values.
struct LegacyLayout
{
    QString table;
    QString description; // for messages: 报告数据表 A
    std::vector<LegacyColumn> columns;
};

// Table A of the old program, the 27 columns of the field table.
const LegacyLayout& reportLayout();

// One row of the old table, its values as the old program showed them: a text as stored
// (QString) or null; a date the day as 'YYYY-MM-DD' or null; an option the integer 1 where the
// stored value was 1 (a number or the text "1"), else 0.
struct LegacyReport
{
    std::int64_t ordinal = 0; // its place in the file's row order, from 1
    std::vector<Value> values;
    // Why the row cannot be brought over as it was shown (a date outside the years 1 to 9999, a
    // text that is no text); empty when it can. The values it names are null.
    QString problem;
};

// Table A of the old program's database (a Jet 4 file, or a Jet 3 / Access 97 one whose texts are
// in a Windows code page), read through libmdb. Where libmdb's formatting is wrong the values are
// decoded from the raw bytes it gives: dates from Jet's double, Jet 4 texts from UTF-16 with
// Jet's Unicode compression, memos from their pages. Rows come in the file's order (data pages as
// the table's usage map lists them, rows as each page lists them), deleted ones passed over and
// moved ones followed to where they now lie.
//
// libmdb trusts the file, so a damaged file can make it crash or loop: the import runs a reader in
// a process of its own (legacy_process.h).
class LegacyReader
{
public:
    explicit LegacyReader(const LegacyLayout& layout = reportLayout());
    ~LegacyReader();
    LegacyReader(const LegacyReader&) = delete;
    LegacyReader& operator=(const LegacyReader&) = delete;

    // Opens the file and table A, and checks that the 27 columns are there (found by name without
    // regard to case) with types that can hold their values. A failure names the problem: no such
    // file, not a Jet database (an empty file, a text ...), encoded, truncated or damaged, no table
    // A, a column missing or unfit. `codePage` is for the texts of a Jet 3 file.
    Status open(const QString& path, const QString& codePage = QString::fromLatin1(kDefaultCodePage));
    // The same for a file held in memory (`name` for messages); the bytes must outlive the reader.
    Status openBuffer(const std::uint8_t* data, std::size_t size, const QString& name,
                      const QString& codePage = QString::fromLatin1(kDefaultCodePage));

    // 3 or 4.
    int jetVersion() const;
    // How many reports the table's definition says it holds.
    std::int64_t declaredCount() const;

    // The next report: true with `report` filled in, false after the last. A failure when a page or
    // row is damaged, when fewer or more reports were found than the table declares, or when the
    // table holds none.
    Result<bool> next(LegacyReport& report);

private:
    struct State;
    Status openHandle(const QString& name, const QString& codePage);
    std::unique_ptr<State> m;
};

} // namespace korvela::legacy
