#include "store/report_checksum.h"

#include <charconv>

namespace korvela {

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

ReportDigest CanonicalRow::digest()
{
    m_md5.reset();
    m_md5.addData(QByteArrayView(m_text.data(), qsizetype(m_text.size())));
    const QByteArrayView bytes = m_md5.resultView();
    ReportDigest d;
    for (int i = 0; i < 8; ++i) {
        d.first = (d.first << 8) | std::uint8_t(bytes[i]);
        d.second = (d.second << 8) | std::uint8_t(bytes[i + 8]);
    }
    return d;
}

} // namespace korvela
