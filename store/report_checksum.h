#pragma once

#include <QCryptographicHash>
#include <QString>

#include <cstdint>
#include <string>
#include <string_view>

namespace korvela {

// The MD5 of a report's canonical text (CanonicalRow), as two big-endian halves: it stands for
// the report.
struct ReportDigest
{
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    bool operator==(const ReportDigest&) const = default;
};

// The fingerprint of a set of reports that each end computes on its own: how many, and the sum
// (mod 2^64) of the first half of each report's digest (what the server's md5() gives). A sum
// does not depend on the order the rows are read in, and a report stored twice counts twice.
struct Checksum
{
    std::uint64_t count = 0;
    std::uint64_t sum = 0;

    void add(const ReportDigest& digest)
    {
        ++count;
        sum += digest.first; // wraps: the sum is mod 2^64
    }
    bool operator==(const Checksum&) const = default;
    // The sum as 16 hex digits, for messages.
    QString text() const;
};

// The canonical text of one report: its 27 values in column order, each "n" when null, else
// "v<length in bytes>:<text>" (a date as YYYY-MM-DD, an integer in decimal). The lengths keep any
// text, separators included, from running into the next value. Two reports are the same report
// exactly when their texts are equal. The server's checksum query (server_connection.cpp) writes
// the same text from its own values.
class CanonicalRow
{
public:
    void clear() { m_text.clear(); }
    void addNull() { m_text += 'n'; }
    void addText(std::string_view utf8);
    void addInteger(std::int64_t value);

    ReportDigest digest();

private:
    std::string m_text;
    QCryptographicHash m_md5{QCryptographicHash::Md5};
};

} // namespace korvela
