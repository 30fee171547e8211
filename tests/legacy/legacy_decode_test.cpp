// The old program's values decoded from Jet's raw bytes where libmdb's own formatting is wrong.
#include "legacy/legacy_decode.h"
#include "legacy/legacy_files.h"
#include "legacy/legacy_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace korvela;
using namespace korvela::legacy;
using namespace korvela::test;

namespace {

TEST(JetDay, IsTheDayTheOldProgramShowedForEveryStoredValue)
{
    const struct
    {
        double stored;
        const char* day; // nullptr: no day of the years 1 to 9999
    } cases[] = {
        {0.0, "1899-12-30"},
        {0.75, "1899-12-30"},
        {-0.5, "1899-12-30"}, // noon of day zero: the fraction runs forward before it too
        {-1.25, "1899-12-29"},
        {-1.75, "1899-12-29"},
        {36525.0, "1999-12-31"},
        {40237.604166666664, "2010-02-28"}, // 14:30
        {40237.99999, "2010-02-28"},        // 23:59:59.1
        {40237.999995, "2010-03-01"},       // 23:59:59.6 is shown as the next midnight
        {50424.0, "2038-01-19"},
        {-657434.0, "0100-01-01"},
        {-693593.0, "0001-01-01"},
        {2958465.9, "9999-12-31"},
        {-693594.0, nullptr},
        {2958466.0, nullptr},
        {1e300, nullptr},
        {std::numeric_limits<double>::quiet_NaN(), nullptr},
        {std::numeric_limits<double>::infinity(), nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<QDate> day = jetDay(c.stored);
        EXPECT_EQ(day ? day->toString(u"yyyy-MM-dd").toStdString() : std::string("none"),
                  std::string(c.day ? c.day : "none"))
            << c.stored;
    }
}

TEST(Jet4Text, DecodesUtf16AndJetsUnicodeCompression)
{
    const struct
    {
        std::vector<std::uint8_t> bytes;
        const char16_t* text;
    } cases[] = {
        {{}, u""},
        {{0x41, 0x00, 0x2D, 0x4E}, u"A中"},
        {{0x42, 0xD8, 0xB7, 0xDF}, u"𠮷"},
        {{0x41, 0x00, 0x42}, u"A"}, // a last odd byte is no character
        {{0xFF, 0xFE}, u""},
        {{0xFF, 0xFE, 'a', ' ', 'b'}, u"a b"},
        {{0xFF, 0xFE, 'A', 0x00, 0x2D, 0x4E, 0x00, 'B'}, u"A中B"},
        {{0xFF, 0xFE, 0x00, 0x42, 0xD8, 0xB7, 0xDF, 0x00, '\r', '\n', '\t'}, u"𠮷\r\n\t"},
        {{0xFF, 0xFE, 0x00, 0x2D}, u""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(jet4Text(c.bytes.data(), c.bytes.size()), QString::fromUtf16(c.text));

    EXPECT_EQ(textProblem(QString::fromUtf16(u"李𠮷\r\n\t")), QString());
    EXPECT_TRUE(textProblem(QString::fromUtf16(u"a\0b", 3)).contains(u"U+0000"));
    EXPECT_TRUE(textProblem(QString(QChar(0xD842)) + u'x').contains(u"U+D842"));
    EXPECT_TRUE(textProblem(QString(QChar(0xDFB7))).contains(u"U+DFB7"));
}

TEST(CodePage, DecodesJet3TextsThroughTheWindowsCodePage)
{
    const struct
    {
        const char* page;
        std::vector<std::uint8_t> bytes;
        const char16_t* text; // nullptr: no text in that code page
    } cases[] = {
        {"936", {0xC0, 0xEE, 0xCB, 0xC4}, u"李四"},
        {"936", {0xC8, 0xE9, 0xCF, 0xD9, ' ', 'A', '0', '1', '\r', '\n'}, u"乳腺 A01\r\n"},
        {"CP936", {0xD5, 0xC5, 0xD2, 0xBD, 0xCA, 0xA6}, u"张医师"},
        {"gbk", {0xB9, 0xF0}, u"桂"},
        {"936", {0x81, 0x20}, nullptr}, // a lead byte without its second byte
        {"936", {0xC0}, nullptr},
        {"GB18030", {0x81, 0x30, 0x81, 0x30}, u"\u0080"},
        {"950", {0xA7, 0xF5}, u"李"},
        {"1252", {'J', 'o', 's', 0xE9}, u"José"},
    };
    for (const auto& c : cases) {
        std::optional<CodePage> page = CodePage::open(QString::fromLatin1(c.page));
        ASSERT_TRUE(page) << c.page;
        const std::optional<QString> text = page->decode(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(text.has_value(), c.text != nullptr) << c.page;
        if (text && c.text) {
            EXPECT_EQ(*text, QString::fromUtf16(c.text)) << c.page;
        }
    }
    EXPECT_EQ(CodePage::open(QStringLiteral("936"))->name(), QStringLiteral("CP936"));
    EXPECT_FALSE(CodePage::open(QStringLiteral("no-such-page")));
    EXPECT_FALSE(CodePage::open(QString()));
}

// A database Microsoft Access saved, with dates Access allows from 0100 to 9999 and a memo of
// several lines.
TEST(LegacyReaderOnAccessFile, GivesTheDatesAndTextsAccessStored)
{
    const QString file = sharedLegacyFile(QStringLiteral("DateTestDatabase.mdb"));
    if (file.isEmpty())
        GTEST_SKIP() << "../shared/fixtures/legacy/DateTestDatabase.mdb is absent (the shared fixtures are not "
                        "beside the source tree)";
    const LegacyLayout layout{QStringLiteral("datetest"),
                              QStringLiteral("表 DateTest"),
                              {{QStringLiteral("DATETIMECOL"), FieldKind::Date, QStringLiteral("DateTimeCol")},
                               {QStringLiteral("datecol"), FieldKind::Date, QStringLiteral("DateCol")},
                               {QStringLiteral("TimeCol"), FieldKind::Date, QStringLiteral("TimeCol")},
                               {QStringLiteral("LongTextCol"), FieldKind::Text, QStringLiteral("LongTextCol")}}};
    const std::vector<std::vector<QString>> expected = {
        {QStringLiteral("2021-12-02"), QStringLiteral("2021-12-02"), QStringLiteral("2021-12-02"),
         QStringLiteral("Hello")},
        {QStringLiteral("9999-01-01"), QStringLiteral("9999-01-01"), QStringLiteral("9999-01-01"),
         QStringLiteral("Year 9999")},
        {QStringLiteral("1898-01-01"), QStringLiteral("1899-01-01"), QStringLiteral("1900-01-01"),
         QStringLiteral("Pre-1900 years")},
        {QStringLiteral("0632-01-01"), QStringLiteral("0633-01-01"), QStringLiteral("0634-01-01"),
         QStringLiteral("Pre-1000 years")},
        {QStringLiteral("2021-12-02"), QStringLiteral("2021-12-02"), QStringLiteral("2021-12-02"),
         QStringLiteral("Escaped new line \\r\\n in field")},
        {QStringLiteral("2021-12-02"), QStringLiteral("2021-12-02"), QStringLiteral("2021-12-02"),
         QStringLiteral("New line\r\nin field")},
    };
    LegacyReader reader(layout);
    ASSERT_TRUE(reader.open(file).ok());
    LegacyReport row;
    std::vector<std::vector<QString>> read;
    for (Result<bool> next = reader.next(row); next && *next; next = reader.next(row)) {
        EXPECT_EQ(row.problem, QString());
        std::vector<QString> values;
        for (const Value& v : row.values)
            values.push_back(valueToText(v));
        read.push_back(values);
    }
    EXPECT_EQ(read, expected);
}

} // namespace
