#include "legacy/legacy_decode.h"

#include <cerrno>
#include <cmath>
#include <iconv.h>
#include <vector>

namespace korvela::legacy {

std::optional<QDate> jetDay(double value)
{
    // Beyond about 8,000 years either way no day of the years 1 to 9999 remains.
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6)
        return std::nullopt;
    const double whole = std::trunc(value);
    const long long seconds = std::llround(std::fabs(value - whole) * 86400.0);
    const long long day = static_cast<long long>(whole) + (seconds >= 86400 ? 1 : 0);
    const QDate date = QDate(1899, 12, 30).addDays(day);
    if (!date.isValid() || date.year() < 1 || date.year() > 9999)
        return std::nullopt;
    return date;
}

QString jet4Text(const std::uint8_t* data, std::size_t size)
{
    QString text;
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        text.reserve(qsizetype(size - 2));
        bool single = true;
        for (std::size_t i = 2; i < size;) {
            if (data[i] == 0) {
                single = !single;
                ++i;
            } else if (single) {
                text += QChar(char16_t(data[i]));
                ++i;
            } else if (i + 1 < size) {
                text += QChar(char16_t(data[i] | (data[i + 1] << 8)));
                i += 2;
            } else {
                break;
            }
        }
        return text;
    }
    text.resize(qsizetype(size / 2));
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text[qsizetype(i / 2)] = QChar(char16_t(data[i] | (data[i + 1] << 8)));
    return text;
}

QString textProblem(const QString& text)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c.unicode() == 0)
            return QStringLiteral("含有控制字符 U+0000");
        if (c.isHighSurrogate() && i + 1 < n && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c.isSurrogate())
            return QStringLiteral("含有不成对的 UTF-16 代理码元 U+%1")
                .arg(QString::number(c.unicode(), 16).toUpper());
    }
    return {};
}

struct CodePage::Converter
{
    iconv_t cd = reinterpret_cast<iconv_t>(-1);
    ~Converter()
    {
        if (cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd);
    }
};

std::optional<CodePage> CodePage::open(const QString& name)
{
    QString system = name.trimmed().toUpper();
    bool number = false;
    system.toUInt(&number);
    if (number)
        system.prepend(u"CP");
    if (system.isEmpty())
        return std::nullopt;
    CodePage page;
    page.m_converter = std::make_unique<Converter>();
    page.m_converter->cd = iconv_open("UTF-8", system.toLatin1().constData());
    if (page.m_converter->cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    page.m_name = system;
    return page;
}

CodePage::CodePage(CodePage&&) noexcept = default;
CodePage& CodePage::operator=(CodePage&&) noexcept = default;
CodePage::~CodePage() = default;

std::optional<QString> CodePage::decode(const std::uint8_t* data, std::size_t size)
{
    // Every code page character becomes at most four bytes of UTF-8.
    std::vector<char> out(size * 4 + 4);
    iconv(m_converter->cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(data));
    std::size_t inLeft = size;
    char* to = out.data();
    std::size_t outLeft = out.size();
    if (iconv(m_converter->cd, &in, &inLeft, &to, &outLeft) == std::size_t(-1) ||
        iconv(m_converter->cd, nullptr, nullptr, &to, &outLeft) == std::size_t(-1))
        return std::nullopt;
    return QString::fromUtf8(out.data(), qsizetype(out.size() - outLeft));
}

} // namespace korvela::legacy
