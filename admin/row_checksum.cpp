#include "admin/row_checksum.h"

#include <QStringList>
#include <charconv>

namespace korvela::admin {

QString Checksum::text() const
{
    return QStringLiteral("%1").arg(sum, 16, 16, QLatin1Char('0'));
}

void CanonicalRow::addText(std::string_view utf8)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, utf8.size()).ptr;
    m_text += 'v';
    m_text.append(digits, end);
    m_text += ':';
    m_text.append(utf8);
}

void CanonicalRow::addInteger(std::int64_t value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    addText(std::string_view(digits, std::size_t(end - digits)));
}

std::uint64_t CanonicalRow::hash()
{
    m_md5.reset();
    m_md5.addData(QByteArrayView(m_text.data(), qsizetype(m_text.size())));
    const QByteArrayView digest = m_md5.resultView();
    std::uint64_t h = 0;
    for (int i = 0; i < 8; ++i)
        h = (h << 8) | std::uint8_t(digest[i]);
    return h;
}

void CanonicalRow::addTo(Checksum& checksum)
{
    ++checksum.count;
    checksum.sum += hash(); // wraps: the sum is mod 2^64
}

QString serverChecksumQuery()
{
    // Each value as the canonical text above: octet_length counts the UTF-8 bytes the client
    // counts, to_char writes the date whatever the session's DateStyle.
    QStringList values;
    for (int c = 1; c <= 27; ++c) {
        const QString column = QStringLiteral("a%1").arg(c);
        const QString text = c == 13   ? QStringLiteral("to_char(a13, 'YYYY-MM-DD')")
                             : c >= 15 ? column + u"::text"
                                       : column;
        values << QStringLiteral("coalesce('v' || octet_length(%1) || ':' || %1, 'n')").arg(text);
    }
    // The first 16 hex digits of the MD5 as a signed 64-bit number; the sum brought into 0..2^64-1.
    return QStringLiteral(
               "SELECT count(*), ((coalesce(sum(('x' || left(md5(%1), 16))::bit(64)::bigint::numeric), 0)"
               " % 18446744073709551616) + 18446744073709551616) % 18446744073709551616"
               " FROM a WHERE rowid > $1::bigint")
        .arg(values.join(QStringLiteral(" || ")));
}

} // namespace korvela::admin
