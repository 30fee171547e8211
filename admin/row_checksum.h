#pragma once

#include <QCryptographicHash>
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvela::admin {

// The fingerprint of a set of reports that both ends compute on their own: how many, and the sum
// (mod 2^64) of a 64-bit hash of each report's canonical text. A sum does not depend on the order
// the rows are read in, and a report stored twice counts twice.
struct Checksum
{
    std::uint64_t count = 0;
    std::uint64_t sum = 0;

    bool operator==(const Checksum&) const = default;
    // The sum as 16 hex digits, for messages.
    QString text() const;
};

// The canonical text of one report: its 27 values in column order, each "n" when null, else
// "v<length in bytes>:<text>" (a date as YYYY-MM-DD, an integer in decimal). The lengths keep any
// text, separators included, from running into the next value.
class CanonicalRow
{
public:
    void clear() { m_text.clear(); }
    void addNull() { m_text += 'n'; }
    void addText(std::string_view utf8);
    void addInteger(std::int64_t value);

    // The first 64 bits of the MD5 of the text, big-endian (what the server's md5() gives).
    std::uint64_t hash();
    void addTo(Checksum& checksum);

private:
    std::string m_text;
    QCryptographicHash m_md5{QCryptographicHash::Md5};
};

// A query giving the count and the checksum (as an unsigned decimal) of the rows of table a with
// rowid greater than $1, computed by the server from its own values.
QString serverChecksumQuery();

} // namespace korvela::admin
