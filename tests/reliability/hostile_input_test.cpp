#include "reliability/hostile_texts.h"
#include "records/report_record.h"
#include "support/window_fixture.h"

#include <gtest/gtest.h>

using namespace korvela;
using namespace korvela::test;

namespace {

class HostileInput : public ::testing::TestWithParam<std::tuple<StoreKind, int>>
{
protected:
    QString value() const { return hostileTexts()[std::get<1>(GetParam())]; }
    WindowFixture w{{}, std::get<0>(GetParam())};
};

// Every value is stored and shown back exactly as typed, through every text field and list box.
TEST_P(HostileInput, EveryFieldStoresAndShowsBackExactlyWhatWasTyped)
{
    const QString v = value();
    const QString number = u"K-" + v;
    for (const FieldInfo& f : reportFields()) {
        if (f.kind == FieldKind::Text || f.kind == FieldKind::List)
            w.type(controlName(f.id), f.id == Field::ScreeningNumber ? number : v);
    }
    const ReportRecord typed = w.shownReport();
    ASSERT_EQ(typed[Field::PatientName], v)
        << "the field itself must take the whole text: " << shortName(v).toStdString();
    ASSERT_EQ(typed[Field::Age], v) << shortName(v).toStdString();

    w.click(QStringLiteral("cmdSave"));
    ASSERT_EQ(w.prompts.texts(), QStringList{QStringLiteral("保存完毕！")}) << shortName(v).toStdString();

    // Found again by its number, name and physician, exactly, and shown whole.
    w.click(QStringLiteral("cmdAdd"));
    w.type(QStringLiteral("b3"), number);
    // The boxes match stored texts from their beginning, after trimming what was typed: a name
    // stored with leading blanks is found by its number only.
    if (!v.startsWith(u' ')) {
        w.type(QStringLiteral("b1"), v);
        w.type(QStringLiteral("b14"), v);
    }
    w.click(QStringLiteral("Command1"));
    EXPECT_EQ(w.text(QStringLiteral("Label1")), u"共查询到 1 条符合条件的记录") << shortName(v).toStdString();
    EXPECT_EQ(w.shownReport(), typed) << shortName(v).toStdString();

    // Browsing shows it the same way.
    w.click(QStringLiteral("Command4"));
    EXPECT_EQ(w.shownReport(), typed);
    EXPECT_EQ(w.prompts.shown().size(), 1u) << "no statement error, no other message";
}

// A hostile search finds only what begins with it: the stored rows that look alike are not found.
TEST_P(HostileInput, SearchBoxesMatchTheTextLiterally)
{
    const QString v = value();
    w.store.exec(QStringLiteral("INSERT INTO A (A1, A3, A13) VALUES ('张三', 'A01', '2024-01-01');"
                                "INSERT INTO A (A1, A3, A13) VALUES ('a', 'b', '2024-01-02');"));
    const QStringList boxes{QStringLiteral("b3"), QStringLiteral("b1"), QStringLiteral("b14")};
    for (const QString& box : boxes) {
        for (const QString& other : boxes)
            w.type(other, QString());
        w.type(box, v);
        w.click(QStringLiteral("Command1"));
        const bool onlyBlanks = v.trimmed().isEmpty();
        EXPECT_EQ(w.text(QStringLiteral("Label1")),
                  onlyBlanks ? u"共查询到 2 条符合条件的记录" : u"共查询到 0 条符合条件的记录")
            << box.toStdString() << " " << shortName(v).toStdString();
    }
    EXPECT_TRUE(w.prompts.shown().empty());
}

INSTANTIATE_TEST_SUITE_P(Sqlite, HostileInput,
                         ::testing::Combine(::testing::Values(StoreKind::Sqlite),
                                            ::testing::Range(0, int(hostileTexts().size()))));
INSTANTIATE_TEST_SUITE_P(Server, HostileInput,
                         ::testing::Combine(::testing::Values(StoreKind::Server),
                                            ::testing::Range(0, int(hostileTexts().size()))));

} // namespace
