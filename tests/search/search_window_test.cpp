#include "support/window_fixture.h"
#include "widgets/date_picker.h"

#include <QCheckBox>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace korvela;
using namespace korvela::test;

namespace {

// The search and browse buttons of the real window on a real database.
class SearchWindow : public ::testing::Test
{
protected:
    // Saves a report through the window, as a user would.
    void saveReport(const QString& number, const QString& name, const QString& physician, QDate date)
    {
        w.type(QStringLiteral("a3"), number);
        w.type(QStringLiteral("a1"), name);
        w.type(QStringLiteral("a14"), physician);
        w.type(QStringLiteral("a5"), name + QStringLiteral("的B超所见"));
        w.datePicker()->setValue(date);
        w.click(QStringLiteral("cmdSave"));
        ASSERT_EQ(w.prompts.last().text, u"保存完毕！");
        w.prompts.clear();
    }

    // Three reports of March 2024 that every box finds, and two that no box below finds.
    void saveThreeReports()
    {
        saveReport(QStringLiteral("SC-002"), QStringLiteral("张小花"), QStringLiteral("王建国"),
                   {2024, 3, 10});
        saveReport(QStringLiteral("XC-9"), QStringLiteral("李四"), QStringLiteral("赵医生"), {2023, 1, 1});
        saveReport(QStringLiteral("SC-003"), QStringLiteral("张三丰"), QStringLiteral("王建国"),
                   {2024, 3, 20});
        saveReport(QStringLiteral("SC-001"), QStringLiteral("张丽"), QStringLiteral("王建国"), {2024, 3, 1});
        w.folder.exec(
            QStringLiteral("INSERT INTO A (A1, A3, A14, A13) VALUES ('张无号', '', '王建国', '2024-03-15')"));
        w.click(QStringLiteral("cmdAdd"));
    }

    QString next()
    {
        w.click(QStringLiteral("Command4"));
        return number();
    }
    QString previous()
    {
        w.click(QStringLiteral("Command3"));
        return number();
    }
    QString number() { return w.text(QStringLiteral("a3")); }
    QString caption() { return w.text(QStringLiteral("Label1")); }
    bool enabled(const char* button) { return w.button(QString::fromLatin1(button))->isEnabled(); }
    bool browsable() { return enabled("Command3") && enabled("Command4"); }
    std::optional<QDate> date() { return w.datePicker()->value(); }

    WindowFixture w;
};

TEST_F(SearchWindow, EachBoxFindsTheThreeNewestFirstAndTheyBrowseBothWaysWithTheWrap)
{
    saveThreeReports();
    EXPECT_FALSE(enabled("Command3"));
    EXPECT_FALSE(enabled("Command4"));
    EXPECT_EQ(caption(), u"共查询到 0 条符合条件的记录");

    struct Boxes
    {
        QString b3, b1, b14, b13, b113;
    };
    for (const Boxes& b :
         {Boxes{QStringLiteral("sc-"), {}, {}, {}, {}}, Boxes{{}, QStringLiteral(" 张"), {}, {}, {}},
          Boxes{{}, {}, QStringLiteral("王建国 "), {}, {}},
          Boxes{{}, {}, {}, QStringLiteral("2024-3-1"), QStringLiteral("2024/3/31")},
          Boxes{{}, {}, {}, QStringLiteral("2024年3月1日"), {}},
          Boxes{QStringLiteral("SC"), QStringLiteral("张"), QStringLiteral("王"), QStringLiteral("20240301"),
                QStringLiteral("2024.3.20")}}) {
        SCOPED_TRACE(QStringList({b.b3, b.b1, b.b14, b.b13, b.b113}).join(u'|').toStdString());
        w.type(QStringLiteral("a3"), QStringLiteral("未保存的输入"));
        w.search(b.b3, b.b1, b.b14, b.b13, b.b113);
        EXPECT_EQ(number(), u"SC-003");
        EXPECT_EQ(w.text(QStringLiteral("a1")), u"张三丰");
        EXPECT_EQ(w.text(QStringLiteral("a5")), u"张三丰的B超所见");
        EXPECT_EQ(date(), QDate(2024, 3, 20));
        EXPECT_EQ(caption(), u"共查询到 3 条符合条件的记录");
        EXPECT_TRUE(browsable());
        EXPECT_TRUE(enabled("cmdSave"));

        EXPECT_EQ(next(), u"SC-002");
        EXPECT_EQ(date(), QDate(2024, 3, 10));
        EXPECT_EQ(next(), u"SC-001");
        EXPECT_EQ(next(), u"SC-003") << "> on the last wraps to the first";
        EXPECT_EQ(previous(), u"SC-003") << "< on the first stays on it";
        EXPECT_EQ(next(), u"SC-002");
        EXPECT_EQ(previous(), u"SC-003");
        EXPECT_EQ(caption(), u"共查询到 3 条符合条件的记录");
        EXPECT_TRUE(browsable());
        // The search boxes keep what was typed.
        EXPECT_EQ(w.text(QStringLiteral("b1")), b.b1);
    }
    EXPECT_TRUE(w.prompts.shown().empty());
    EXPECT_NE(w.window().cursor().shape(), Qt::WaitCursor);

    // All boxes empty: every report with a number, newest first.
    w.search();
    EXPECT_EQ(caption(), u"共查询到 4 条符合条件的记录");
    EXPECT_EQ(number(), u"SC-003");
    EXPECT_EQ(previous(), u"SC-003");
    EXPECT_EQ(next(), u"SC-002");
    EXPECT_EQ(next(), u"SC-001");
    EXPECT_EQ(next(), u"XC-9");
    EXPECT_EQ(next(), u"SC-003");
}

TEST_F(SearchWindow, NothingFoundEmptiesTheReportDisablesBrowsingAndLeavesTheSaveButton)
{
    saveThreeReports();
    w.search(QStringLiteral("SC"));
    ASSERT_TRUE(browsable());
    w.button(QStringLiteral("cmdSave"))->setEnabled(false);
    w.option(3)->setChecked(true);

    w.search({}, QStringLiteral("小张"));
    EXPECT_TRUE(number().isEmpty());
    EXPECT_TRUE(w.text(QStringLiteral("a1")).isEmpty());
    EXPECT_TRUE(w.text(QStringLiteral("a5")).isEmpty());
    EXPECT_EQ(date(), QDate::currentDate());
    EXPECT_FALSE(w.option(3)->isChecked());
    EXPECT_FALSE(enabled("Command3"));
    EXPECT_FALSE(enabled("Command4"));
    EXPECT_FALSE(enabled("cmdSave")) << "the save button keeps its state";
    EXPECT_EQ(caption(), u"共查询到 0 条符合条件的记录");

    // Only the last day filled: no range at all.
    w.search({}, {}, {}, {}, QStringLiteral("2000-01-01"));
    EXPECT_EQ(caption(), u"共查询到 4 条符合条件的记录");
    EXPECT_TRUE(enabled("cmdSave")) << "a search that finds reports enables saving";
    // Only the first day filled: that day and later.
    w.search({}, {}, {}, QStringLiteral("2024-3-10"), QStringLiteral("  "));
    EXPECT_EQ(caption(), u"共查询到 2 条符合条件的记录");
    // The same day in both boxes: that day's reports.
    w.search({}, {}, {}, QStringLiteral("2024-03-10"), QStringLiteral("2024/3/10"));
    EXPECT_EQ(caption(), u"共查询到 1 条符合条件的记录");
    EXPECT_EQ(number(), u"SC-002");
    EXPECT_EQ(next(), u"SC-002");
    EXPECT_EQ(previous(), u"SC-002");
    EXPECT_TRUE(w.prompts.shown().empty());
}

TEST_F(SearchWindow, AnUnreadableDateIsExplainedAndNothingIsSearched)
{
    saveThreeReports();
    w.search(QStringLiteral("SC"));
    EXPECT_EQ(next(), u"SC-002");
    w.type(QStringLiteral("a4"), QStringLiteral("正在写的内容"));

    w.search({}, {}, {}, QStringLiteral("2024-02-30"), QStringLiteral("2024-03-31"));
    ASSERT_EQ(w.prompts.shown().size(), 1u);
    EXPECT_EQ(w.prompts.last().title, u"KORVELA");
    EXPECT_EQ(w.prompts.last().icon, PromptIcon::Error);
    EXPECT_EQ(w.prompts.last().buttons, PromptButtons::Ok);
    EXPECT_TRUE(w.prompts.last().text.contains(u"“从”")) << w.prompts.last().text.toStdString();
    EXPECT_EQ(number(), u"SC-002");
    EXPECT_EQ(w.text(QStringLiteral("a4")), u"正在写的内容");
    EXPECT_EQ(caption(), u"共查询到 3 条符合条件的记录");
    EXPECT_TRUE(browsable());
    EXPECT_EQ(next(), u"SC-001") << "the found rows and the position are those of the last search";

    w.prompts.clear();
    w.search({}, {}, {}, QStringLiteral("2024-03-01"), QStringLiteral("'; DROP TABLE A; --"));
    ASSERT_EQ(w.prompts.shown().size(), 1u);
    EXPECT_TRUE(w.prompts.last().text.contains(u"“到”"));
    EXPECT_EQ(number(), u"SC-001");
    EXPECT_EQ(next(), u"SC-003");
    EXPECT_EQ(w.folder.scalar(QStringLiteral("SELECT count(*) FROM A")), u"5");

    // With the first day empty, the last is not looked at.
    w.prompts.clear();
    w.search(QStringLiteral("SC-001"), {}, {}, QStringLiteral(" "), QStringLiteral("不是日期"));
    EXPECT_TRUE(w.prompts.shown().empty());
    EXPECT_EQ(caption(), u"共查询到 1 条符合条件的记录");
}

TEST_F(SearchWindow, ReportsWithoutADateAreShownWithAnEmptyDateBySearchAndBrowse)
{
    w.folder.exec(QStringLiteral("INSERT INTO A (A1, A3, A13, A15) VALUES ('无日期一', 'ND1', NULL, 1);"
                                 "INSERT INTO A (A1, A3, A13) VALUES ('有日期', 'ND2', '2024-01-02');"
                                 "INSERT INTO A (A1, A3, A13) VALUES ('无日期二', 'ND3', NULL);"));
    w.search(QStringLiteral("ND1"));
    EXPECT_EQ(w.text(QStringLiteral("a1")), u"无日期一");
    EXPECT_EQ(date(), std::nullopt);
    EXPECT_EQ(next(), u"ND1");
    EXPECT_EQ(date(), std::nullopt);

    w.search(QStringLiteral("nd"));
    EXPECT_EQ(caption(), u"共查询到 3 条符合条件的记录");
    EXPECT_EQ(number(), u"ND2");
    EXPECT_EQ(next(), u"ND3");
    EXPECT_EQ(date(), std::nullopt);
    EXPECT_EQ(next(), u"ND1");
    EXPECT_TRUE(w.option(0)->isChecked());
    EXPECT_EQ(previous(), u"ND3");
    EXPECT_EQ(next(), u"ND1");
    EXPECT_EQ(next(), u"ND2");
    EXPECT_EQ(date(), QDate(2024, 1, 2));
    EXPECT_TRUE(w.prompts.shown().empty());
}

// Found reports are shown as they are when browsed to; one this window deleted stays among them,
// as it was, until the next search.
TEST_F(SearchWindow, FoundReportsShowTheirChangesAndOneDeletedHereStaysUntilTheNextSearch)
{
    saveThreeReports();
    w.search(QStringLiteral("SC"));
    EXPECT_EQ(next(), u"SC-002");

    // Delete SC-002 through the window, change SC-001 behind the search's back.
    w.type(QStringLiteral("a1"), QStringLiteral("张小花"));
    w.prompts.answer(PromptAnswer::Yes);
    w.click(QStringLiteral("cmddel"));
    EXPECT_EQ(w.prompts.last().text, u"删除完毕!");
    EXPECT_TRUE(number().isEmpty());
    w.folder.exec(QStringLiteral("UPDATE A SET A1 = '改过的名字' WHERE A3 = 'SC-001'"));
    EXPECT_TRUE(browsable());

    EXPECT_EQ(next(), u"SC-001");
    EXPECT_EQ(w.text(QStringLiteral("a1")), u"改过的名字") << "shown as it is now";
    EXPECT_EQ(previous(), u"SC-002") << "a deleted report is still browsed";
    EXPECT_EQ(w.text(QStringLiteral("a1")), u"张小花");
    EXPECT_EQ(caption(), u"共查询到 3 条符合条件的记录");

    // The next search replaces the rows.
    w.search(QStringLiteral("SC"));
    EXPECT_EQ(caption(), u"共查询到 2 条符合条件的记录");
    EXPECT_EQ(next(), u"SC-001");
    EXPECT_EQ(w.text(QStringLiteral("a1")), u"改过的名字");
    EXPECT_EQ(next(), u"SC-003");
}

// Typed wildcards, quotes and backslashes match only themselves, in every box, without a message.
TEST_F(SearchWindow, HostileTextInEveryBoxFindsWhatItShould)
{
    const QString longest = QStringLiteral("张%_'\\").repeated(32767 / 5);
    w.folder.exec(QStringLiteral(
        "INSERT INTO A (A1, A3, A14, A13) VALUES ('O''Brien', 'A_1%', '50%医生', '2024-01-05');"
        "INSERT INTO A (A1, A3, A14, A13) VALUES ('OXBrien', 'AB1x', '500医生', '2024-01-06');"
        "INSERT INTO A (A1, A3, A14, A13) VALUES ('C:\\x', 'Q\"1', 'x'' OR ''1''=''1', '2024-01-07');"));
    ASSERT_TRUE(w.database.execute(
        {QStringLiteral("INSERT INTO A (A1, A3, A14, A13) VALUES (?1, ?1, ?1, '2024-01-08')"),
         {longest + QStringLiteral("尾")}}));

    struct Case
    {
        QString b3, b1, b14;
        QString expected; // the screening number found, or empty for none
    };
    for (const Case& c :
         {Case{QStringLiteral("A_1%"), {}, {}, QStringLiteral("A_1%")},
          Case{QStringLiteral("A_"), {}, {}, QStringLiteral("A_1%")}, Case{QStringLiteral("%"), {}, {}, {}},
          Case{QStringLiteral("Q\""), {}, {}, QStringLiteral("Q\"1")},
          Case{{}, QStringLiteral("o'b"), {}, QStringLiteral("A_1%")},
          Case{{}, QStringLiteral("C:\\"), {}, QStringLiteral("Q\"1")}, Case{{}, QStringLiteral("_"), {}, {}},
          Case{{}, {}, QStringLiteral("50%"), QStringLiteral("A_1%")},
          Case{{}, {}, QStringLiteral("x' OR '1'='1"), QStringLiteral("Q\"1")},
          Case{{}, {}, QStringLiteral("' OR ''='"), {}},
          Case{longest, longest, longest, longest + QStringLiteral("尾")}}) {
        SCOPED_TRACE(QStringList({c.b3, c.b1, c.b14}).join(u'|').left(80).toStdString());
        w.search(c.b3, c.b1, c.b14);
        EXPECT_EQ(caption(),
                  c.expected.isEmpty() ? u"共查询到 0 条符合条件的记录" : u"共查询到 1 条符合条件的记录");
        EXPECT_EQ(number(), c.expected);
        EXPECT_EQ(browsable(), !c.expected.isEmpty());
    }
    EXPECT_EQ(w.text(QStringLiteral("b1")), longest) << "the box took the whole text";
    EXPECT_TRUE(w.prompts.shown().empty());
    EXPECT_EQ(w.folder.scalar(QStringLiteral("SELECT count(*) FROM A")), u"4");
}

TEST_F(SearchWindow, BrowsingBeforeAnySearchDoesNothing)
{
    saveThreeReports();
    w.type(QStringLiteral("a3"), QStringLiteral("正在写"));
    ASSERT_FALSE(enabled("Command3"));
    ASSERT_FALSE(enabled("Command4"));
    // Even when reached, the browse buttons have no found rows to move through.
    w.button(QStringLiteral("Command3"))->setEnabled(true);
    w.button(QStringLiteral("Command4"))->setEnabled(true);
    w.click(QStringLiteral("Command3"));
    w.click(QStringLiteral("Command4"));
    EXPECT_EQ(number(), u"正在写");
    EXPECT_TRUE(w.prompts.shown().empty());
}

} // namespace
