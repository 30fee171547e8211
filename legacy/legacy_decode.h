#pragma once

#include <QDate>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace korvela::legacy {

// The old program's values as Jet stores them, decoded from the raw bytes.

// A Jet Date/Time: days since 1899-12-30 as a double, the fraction the time of day. Before that
// day the whole part counts back while the fraction still runs forward (-1.25 is 1899-12-29 06:00).
// Gives the day as the old program showed it (the time rounded to the second, so 23:59:59.6 is
// the next day), or nothing when that day is not in the years 1 to 9999 (or no number at all).
std::optional<QDate> jetDay(double value);

// A Jet 4 text: UTF-16LE, or, after the header 0xFF 0xFE, Jet's Unicode compression: runs of one
// byte per character (the character's low byte, its high byte 0) and runs of UTF-16LE pairs, the
// first run of single bytes, each byte 0x00 where a character would start switching to the other
// kind of run. A last odd byte is no character and is dropped.
QString jet4Text(const std::uint8_t* data, std::size_t size);

// Why a decoded text cannot be stored as it was shown: a UTF-16 surrogate without its partner, or
// the character U+0000. Empty when it can.
QString textProblem(const QString& text);

// Texts of a Jet 3 file: bytes in the code page of the Windows that wrote them.
class CodePage
{
public:
    // "936", "CP936", "GBK", "GB18030", "BIG5", "1252" ...: a number is a Windows code page. Fails
    // (nothing) when the system cannot convert from it.
    static std::optional<CodePage> open(const QString& name);

    CodePage(CodePage&&) noexcept;
    CodePage& operator=(CodePage&&) noexcept;
    ~CodePage();

    // The name it was opened by, as the system knows it ("CP936").
    const QString& name() const { return m_name; }
    // The text, or nothing when the bytes are no text in this code page.
    std::optional<QString> decode(const std::uint8_t* data, std::size_t size);

private:
    CodePage() = default;
    struct Converter;
    std::unique_ptr<Converter> m_converter;
    QString m_name;
};

// The code page of a Chinese (PRC) Windows, which wrote the old program's Jet 3 files.
inline constexpr char kDefaultCodePage[] = "936";

} // namespace korvela::legacy
