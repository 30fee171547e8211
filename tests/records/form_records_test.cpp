#include "app/date_picker.h"
#include "records/report_record.h"
#include "support/window_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace korvela;
using namespace korvela::test;

namespace {

class FormRecords : public ::testing::Test
{
protected:
    ReportWindow& f() { return w.form(); }

    // Types a report into the window, every field different, blanks kept.
    void typeReport(const QString& number, const QString& name)
    {
        f().a1->setText(name);
        f().a2->setEditText(QStringLiteral("101"));
        f().a3->setText(number);
        f().a4->setText(QStringLiteral(" 双乳对称，未触及肿块 "));
        f().a5->setText(QStringLiteral("右乳外上象限低回声结节"));
        f().a6->setText(QStringLiteral("HU分型：左侧IA；"));
        f().a7->setEditText(QStringLiteral("3"));
        f().a8->setEditText(QStringLiteral("4a"));
        f().a9->setEditText(QStringLiteral("0"));
        f().a10->setEditText(QStringLiteral("6"));
        f().a11->setText(QStringLiteral("乳腺增生"));
        f().a12->setText(QStringLiteral("三个月后复查"));
        f().a13->setValue(QDate(2024, 2, 29));
        f().a14->setText(QStringLiteral("  王医生"));
        for (std::size_t i = 0; i < 13; ++i)
            f().Check2[i]->setChecked(i % 3 == 0);
    }

    int rows() { return w.folder.scalar(QStringLiteral("SELECT count(*) FROM A")).toInt(); }
    QString column(const QString& sql) { return w.folder.scalar(sql); }

    void save(std::optional<PromptAnswer> answer = std::nullopt)
    {
        if (answer)
            w.prompts.answer(*answer);
        QTest::mouseClick(f().cmdSave, Qt::LeftButton);
    }

    WindowFixture w;
};

TEST_F(FormRecords, ANewReportStoresAll27ValuesAndShowsThemBackUnchanged)
{
    typeReport(QStringLiteral(" A01 "), QStringLiteral(" 张三 "));
    const ReportRecord typed = f().ReadReportForm();
    save();
    EXPECT_EQ(w.prompts.texts(), QStringList{QStringLiteral("保存完毕！")});
    EXPECT_EQ(w.prompts.last().icon, PromptIcon::Information);
    EXPECT_EQ(w.prompts.last().title, u"KORVELA");
    ASSERT_EQ(rows(), 1);
    EXPECT_EQ(column(QStringLiteral("SELECT A3 FROM A")), u" A01 ");
    EXPECT_EQ(column(QStringLiteral("SELECT A13 FROM A")), u"2024-02-29");
    EXPECT_EQ(column(QStringLiteral("SELECT group_concat(v, '') FROM (SELECT A15 v FROM A UNION ALL SELECT A16 "
                                    "FROM A UNION ALL SELECT A17 FROM A UNION ALL SELECT A27 FROM A)")),
              u"1001");
    EXPECT_EQ(column(QStringLiteral("SELECT typeof(A15) || typeof(A16) FROM A")), u"integerinteger");

    f().ClearReportForm();
    ASSERT_NE(f().ReadReportForm(), typed);
    auto rs = w.database.createResultSet(QStringLiteral("A"));
    ASSERT_TRUE(rs->open({QStringLiteral("SELECT * FROM A"), {}}));
    ASSERT_TRUE(f().ShowReportRow(*rs));
    EXPECT_EQ(f().ReadReportForm(), typed);
    EXPECT_TRUE(f().cmdSave->isEnabled());
}

TEST_F(FormRecords, RequiredFieldsAreTestedTrimmedNumberFirst)
{
    typeReport(QStringLiteral("   "), QString());
    save();
    EXPECT_EQ(w.prompts.texts(), QStringList{QStringLiteral("筛查编号不能为空！")});
    EXPECT_EQ(w.prompts.last().icon, PromptIcon::Error);

    w.prompts.clear();
    f().a3->setText(QStringLiteral("A01"));
    f().a1->setText(QStringLiteral("  "));
    save();
    EXPECT_EQ(w.prompts.texts(), QStringList{QStringLiteral("患者姓名不能为空！")});

    w.prompts.clear();
    QTest::mouseClick(f().cmddel, Qt::LeftButton);
    EXPECT_EQ(w.prompts.texts(), QStringList{QStringLiteral("患者姓名不能为空！")});
    EXPECT_EQ(rows(), 0);
    EXPECT_TRUE(f().cmdSave->isEnabled());
}

TEST_F(FormRecords, YesOverwritesOnlyTheFirstMatchingRowAndKeepsItsNumber)
{
    w.folder.exec(QStringLiteral("INSERT INTO A (A1, A3, A13) VALUES ('旧一', ' a01', '2020-01-01');"
                                 "INSERT INTO A (A1, A3, A13) VALUES ('旧二', 'A01', '2020-01-02');"
                                 "INSERT INTO A (A1, A3, A13) VALUES ('别人', 'A011', '2020-01-03');"));
    typeReport(QStringLiteral("A01"), QStringLiteral(" 张三"));
    save(PromptAnswer::Yes);
    ASSERT_EQ(w.prompts.shown().size(), 2u);
    EXPECT_EQ(w.prompts.shown()[0].text, u" 张三 这名患者的报告已经存在，是否更改？");
    EXPECT_EQ(w.prompts.shown()[0].icon, PromptIcon::Question);
    EXPECT_EQ(w.prompts.shown()[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(w.prompts.shown()[0].defaultAnswer, PromptAnswer::Yes);
    EXPECT_EQ(w.prompts.last().text, u"保存完毕！");

    EXPECT_EQ(rows(), 3);
    EXPECT_EQ(column(QStringLiteral("SELECT A1 || '|' || A3 || '|' || A13 || '|' || A14 FROM A WHERE rowid = 1")),
              u" 张三| a01|2024-02-29|  王医生");
    EXPECT_EQ(column(QStringLiteral("SELECT A1 FROM A WHERE rowid = 2")), u"旧二");
    EXPECT_EQ(column(QStringLiteral("SELECT A1 FROM A WHERE rowid = 3")), u"别人");
}

TEST_F(FormRecords, NoLeavesTableAndWindowAloneWithoutAMessage)
{
    w.folder.exec(QStringLiteral("INSERT INTO A (A1, A3, A13) VALUES ('旧', 'A01', '2020-01-01')"));
    typeReport(QStringLiteral("A01"), QStringLiteral("张三"));
    const ReportRecord typed = f().ReadReportForm();
    save(PromptAnswer::No);
    EXPECT_EQ(w.prompts.shown().size(), 1u);
    EXPECT_EQ(column(QStringLiteral("SELECT A1 || A13 FROM A")), u"旧2020-01-01");
    EXPECT_EQ(f().ReadReportForm(), typed);
    EXPECT_TRUE(f().cmdSave->isEnabled());
    EXPECT_FALSE(w.database.inTransaction());
}

// Saving the same report twice with its number typed differently must find its row, never
// add a duplicate.
TEST_F(FormRecords, TheKeyIsComparedTrimmedOnBothSidesAndWithoutLatinCase)
{
    typeReport(QStringLiteral(" a01"), QStringLiteral("张三"));
    save();
    typeReport(QStringLiteral("A01  "), QStringLiteral("张三"));
    save(PromptAnswer::Yes);
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(column(QStringLiteral("SELECT A3 FROM A")), u" a01");
}

TEST_F(FormRecords, WildcardsAndQuotesInTheNumberMatchOnlyThemselves)
{
    w.folder.exec(QStringLiteral("INSERT INTO A (A1, A3) VALUES ('甲', 'A01');"
                                 "INSERT INTO A (A1, A3) VALUES ('乙', 'AB1');"
                                 "INSERT INTO A (A1, A3) VALUES ('丙', 'A%');"));
    for (const QString& number : {QStringLiteral("%"), QStringLiteral("A_1"), QStringLiteral("A%"),
                                  QStringLiteral("x' OR '1'='1")}) {
        f().a3->setText(number);
        f().a1->setText(QStringLiteral("某"));
        w.prompts.answer(PromptAnswer::Yes);
        QTest::mouseClick(f().cmddel, Qt::LeftButton);
    }
    EXPECT_EQ(column(QStringLiteral("SELECT group_concat(A1, '') FROM (SELECT A1 FROM A ORDER BY rowid)")), u"甲乙");

    typeReport(QStringLiteral("A_1"), QStringLiteral("丁"));
    save();
    EXPECT_EQ(rows(), 3) << "a number with _ is a new report, not an overwrite of A01 or AB1";
}

TEST_F(FormRecords, AFailedSaveRollsBackReportsAndRestoresTheButtonAndPointer)
{
    w.folder.exec(QStringLiteral("CREATE TRIGGER no_writes BEFORE INSERT ON A BEGIN SELECT RAISE(ABORT, "
                                 "'表只读'); END;"));
    typeReport(QStringLiteral("A01"), QStringLiteral("张三"));
    const ReportRecord typed = f().ReadReportForm();
    save();
    ASSERT_EQ(w.prompts.shown().size(), 1u);
    const Prompt& p = w.prompts.last();
    EXPECT_TRUE(p.title.startsWith(u"数据保存/替换错误:"));
    EXPECT_NE(p.title, u"数据保存/替换错误:0");
    EXPECT_TRUE(p.text.contains(u"表只读"));
    EXPECT_TRUE(p.text.endsWith(u" 请查看项目录入是否正确！如有其它问题请与开发者联系！"));
    EXPECT_EQ(p.icon, PromptIcon::None);
    EXPECT_EQ(rows(), 0);
    EXPECT_FALSE(w.database.inTransaction());
    EXPECT_TRUE(f().cmdSave->isEnabled());
    EXPECT_NE(f().cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(f().ReadReportForm(), typed);

    // The next save reopens the result set and works.
    w.folder.exec(QStringLiteral("DROP TRIGGER no_writes"));
    w.prompts.clear();
    save();
    EXPECT_EQ(w.prompts.texts(), QStringList{QStringLiteral("保存完毕！")});
    EXPECT_EQ(rows(), 1);
}

TEST_F(FormRecords, DeleteAsksRemovesEveryMatchingRowAndEmptiesTheWindow)
{
    w.folder.exec(QStringLiteral("INSERT INTO A (A1, A3) VALUES ('一', 'A01');"
                                 "INSERT INTO A (A1, A3) VALUES ('二', ' a01 ');"
                                 "INSERT INTO A (A1, A3) VALUES ('三', 'A02');"));
    typeReport(QStringLiteral("A01"), QStringLiteral("张三"));
    w.prompts.answer(PromptAnswer::No);
    QTest::mouseClick(f().cmddel, Qt::LeftButton);
    EXPECT_EQ(w.prompts.texts(), QStringList{QStringLiteral("确定要删除此信息？")});
    EXPECT_EQ(w.prompts.last().icon, PromptIcon::Question);
    EXPECT_EQ(rows(), 3);
    EXPECT_EQ(f().a3->text(), u"A01");

    w.prompts.clear();
    w.prompts.answer(PromptAnswer::Yes);
    QTest::mouseClick(f().cmddel, Qt::LeftButton);
    EXPECT_EQ(w.prompts.texts(), (QStringList{QStringLiteral("确定要删除此信息？"), QStringLiteral("删除完毕!")}));
    EXPECT_EQ(w.prompts.last().icon, PromptIcon::Information);
    EXPECT_EQ(column(QStringLiteral("SELECT group_concat(A3) FROM A")), u"A02");
    EXPECT_TRUE(f().a3->text().isEmpty());
    EXPECT_EQ(f().a13->value(), QDate::currentDate());

    // A number nobody holds still ends in the same way.
    w.prompts.clear();
    typeReport(QStringLiteral("Z99"), QStringLiteral("无人"));
    w.prompts.answer(PromptAnswer::Yes);
    QTest::mouseClick(f().cmddel, Qt::LeftButton);
    EXPECT_EQ(w.prompts.last().text, u"删除完毕!");
    EXPECT_TRUE(f().a1->text().isEmpty());
    EXPECT_EQ(rows(), 1);
}

TEST_F(FormRecords, AFailedDeleteRemovesNothingAndKeepsTheWindow)
{
    w.folder.exec(QStringLiteral("INSERT INTO A (A1, A3) VALUES ('一', 'A01');"
                                 "CREATE TRIGGER keep BEFORE DELETE ON A BEGIN SELECT RAISE(ABORT, '不许删'); END;"));
    typeReport(QStringLiteral("A01"), QStringLiteral("张三"));
    w.prompts.answer(PromptAnswer::Yes);
    QTest::mouseClick(f().cmddel, Qt::LeftButton);
    ASSERT_EQ(w.prompts.shown().size(), 2u);
    EXPECT_TRUE(w.prompts.last().title.startsWith(u"数据删除错误:"));
    EXPECT_TRUE(w.prompts.last().text.contains(u"不许删"));
    EXPECT_TRUE(w.prompts.last().text.endsWith(u"如有问题请与开发者联系!"));
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(f().a3->text(), u"A01");
    EXPECT_FALSE(w.database.inTransaction());
}

TEST_F(FormRecords, ARowWithoutADateShowsNoDateAndIsSavedWithoutOne)
{
    w.folder.exec(QStringLiteral("INSERT INTO A (A1, A3, A13, A15, A16, A17) VALUES ('旧', 'A01', NULL, 2, -1, 1)"));
    auto rs = w.database.createResultSet(QStringLiteral("A"));
    ASSERT_TRUE(rs->open({QStringLiteral("SELECT * FROM A"), {}}));
    ASSERT_TRUE(f().ShowReportRow(*rs));
    EXPECT_EQ(f().a13->value(), std::nullopt);
    EXPECT_FALSE(f().Check2[0]->isChecked());
    EXPECT_FALSE(f().Check2[1]->isChecked());
    EXPECT_TRUE(f().Check2[2]->isChecked());
    EXPECT_TRUE(f().a2->currentText().isEmpty()) << "a null column shows as empty text";

    save(PromptAnswer::Yes);
    EXPECT_EQ(column(QStringLiteral("SELECT A13 FROM A")), u"<null>");
    EXPECT_EQ(column(QStringLiteral("SELECT A15 || A16 || A17 FROM A")), u"001");
}

TEST(OptionValues, CheckedExactlyWhenTheValueIsOne)
{
    EXPECT_TRUE(isChecked(std::int64_t(1)));
    EXPECT_TRUE(isChecked(QStringLiteral("1")));
    EXPECT_TRUE(isChecked(1.0));
    for (const Value& v : {Value(std::int64_t(0)), Value(std::int64_t(2)), Value(std::int64_t(-1)),
                           Value(QStringLiteral("是")), Value(QStringLiteral(" 1")), Value(std::monostate{})})
        EXPECT_FALSE(isChecked(v));
    EXPECT_EQ(dateFromValue(QStringLiteral("2024-03-05 00:00:00")), QDate(2024, 3, 5));
    EXPECT_EQ(dateFromValue(QStringLiteral("昨天")), std::nullopt);
}

TEST_F(FormRecords, ClearEmptiesTheReportButLeavesSearchAndButtons)
{
    typeReport(QStringLiteral("A01"), QStringLiteral("张三"));
    f().b1->setText(QStringLiteral("张"));
    f().Command4->setEnabled(true);
    QTest::mouseClick(f().cmdAdd, Qt::LeftButton);
    const ReportRecord empty = f().ReadReportForm();
    EXPECT_TRUE(empty.a1.isEmpty() && empty.a2.isEmpty() && empty.a7.isEmpty() && empty.a14.isEmpty());
    EXPECT_EQ(empty.a13, QDate::currentDate());
    EXPECT_EQ(empty.options, (std::array<int, 13>{}));
    EXPECT_EQ(f().a2->count(), 100) << "the lists stay";
    EXPECT_EQ(f().b1->text(), u"张");
    EXPECT_TRUE(f().Command4->isEnabled());
    EXPECT_TRUE(w.prompts.shown().empty());
}

} // namespace
