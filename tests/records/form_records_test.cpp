#include "records/report_record.h"
#include "support/test_server.h"
#include "support/window_fixture.h"
#include "widgets/date_picker.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <optional>

using namespace korvela;
using namespace korvela::test;

namespace {

class FormRecords : public ::testing::TestWithParam<StoreKind>
{
protected:
    // The same statement in the two engines' words, for the store under test.
    QString sql(const char* embedded, const char* server) const
    {
        return QString::fromUtf8(w.store.kind() == StoreKind::Sqlite ? embedded : server);
    }

    // Types a report into the window, every field different, blanks kept.
    void typeReport(const QString& number, const QString& name)
    {
        const auto type = [this](const char* control, const QString& text) {
            w.type(QString::fromLatin1(control), text);
        };
        type("a1", name);
        type("a2", QStringLiteral("101"));
        type("a3", number);
        type("a4", QStringLiteral(" 双乳对称，未触及肿块 "));
        type("a5", QStringLiteral("右乳外上象限低回声结节"));
        type("a6", QStringLiteral("HU分型：左侧IA；"));
        type("a7", QStringLiteral("3"));
        type("a8", QStringLiteral("4a"));
        type("a9", QStringLiteral("0"));
        type("a10", QStringLiteral("6"));
        type("a11", QStringLiteral("乳腺增生"));
        type("a12", QStringLiteral("三个月后复查"));
        w.datePicker()->setValue(QDate(2024, 2, 29));
        type("a14", QStringLiteral("  王医生"));
        for (int i = 0; i < 13; ++i)
            w.option(i)->setChecked(i % 3 == 0);
    }

    int rows() { return w.store.scalar(QStringLiteral("SELECT count(*) FROM A")).toInt(); }
    QString column(const QString& query) { return w.store.scalar(query); }

    void save(std::optional<PromptAnswer> answer = std::nullopt)
    {
        if (answer)
            w.prompts.answer(*answer);
        w.click(QStringLiteral("cmdSave"));
    }
    void remove() { w.click(QStringLiteral("cmddel")); }
    // Shows the stored reports whose screening number begins with `number`, the newest first.
    void search(const QString& number)
    {
        w.type(QStringLiteral("b3"), number);
        w.click(QStringLiteral("Command1"));
    }
    bool saveEnabled() { return w.button(QStringLiteral("cmdSave"))->isEnabled(); }
    std::optional<QDate> shownDate() { return w.datePicker()->value(); }

    WindowFixture w{{}, GetParam()};
};

TEST_P(FormRecords, ANewReportStoresAll27ValuesAndShowsThemBackUnchanged)
{
    typeReport(QStringLiteral(" A01 "), QStringLiteral(" 张三 "));
    const ReportRecord typed = w.shownReport();
    save();
    EXPECT_TRUE(saveEnabled());
    EXPECT_EQ(w.prompts.texts(), QStringList{QStringLiteral("保存完毕！")});
    EXPECT_EQ(w.prompts.last().icon, PromptIcon::Information);
    EXPECT_EQ(w.prompts.last().title, u"KORVELA");
    ASSERT_EQ(rows(), 1);
    EXPECT_EQ(column(QStringLiteral("SELECT A3 FROM A")), u" A01 ");
    EXPECT_EQ(column(QStringLiteral("SELECT A13 FROM A")), u"2024-02-29");
    EXPECT_EQ(column(QStringLiteral("SELECT A15 || '' || A16 || '' || A17 || '' || A27 FROM A")), u"1001");
    EXPECT_EQ(column(sql("SELECT typeof(A15) || typeof(A16) FROM A", "SELECT pg_typeof(A15)::text || pg_typeof(A16) FROM A")),
              u"integerinteger");

    w.click(QStringLiteral("cmdAdd"));
    ASSERT_NE(w.shownReport(), typed);
    search({}); // every report with a number: the one just saved
    ASSERT_EQ(w.text(QStringLiteral("Label1")), u"共查询到 1 条符合条件的记录");
    EXPECT_EQ(w.shownReport(), typed);
}

TEST_P(FormRecords, RequiredFieldsAreTestedTrimmedNumberFirst)
{
    typeReport(QStringLiteral("   "), QString());
    save();
    EXPECT_EQ(w.prompts.texts(), QStringList{QStringLiteral("筛查编号不能为空！")});
    EXPECT_EQ(w.prompts.last().icon, PromptIcon::Error);

    w.prompts.clear();
    w.type(QStringLiteral("a3"), QStringLiteral("A01"));
    w.type(QStringLiteral("a1"), QStringLiteral("  "));
    save();
    EXPECT_EQ(w.prompts.texts(), QStringList{QStringLiteral("患者姓名不能为空！")});

    w.prompts.clear();
    remove();
    EXPECT_EQ(w.prompts.texts(), QStringList{QStringLiteral("患者姓名不能为空！")});
    EXPECT_EQ(rows(), 0);
    EXPECT_TRUE(saveEnabled());
}

TEST_P(FormRecords, YesOverwritesOnlyTheFirstMatchingRowAndKeepsItsNumber)
{
    w.store.exec(QStringLiteral("INSERT INTO A (A1, A3, A13) VALUES ('旧一', ' a01', '2020-01-01');"
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

TEST_P(FormRecords, NoLeavesTableAndWindowAloneWithoutAMessage)
{
    w.store.exec(QStringLiteral("INSERT INTO A (A1, A3, A13) VALUES ('旧', 'A01', '2020-01-01')"));
    typeReport(QStringLiteral("A01"), QStringLiteral("张三"));
    const ReportRecord typed = w.shownReport();
    save(PromptAnswer::No);
    EXPECT_EQ(w.prompts.shown().size(), 1u);
    EXPECT_EQ(column(QStringLiteral("SELECT A1 || A13 FROM A")), u"旧2020-01-01");
    EXPECT_EQ(w.shownReport(), typed);
    EXPECT_TRUE(saveEnabled());
    EXPECT_FALSE(w.database.inTransaction());
}

// Saving the same report twice with its number typed differently must find its row, never
// add a duplicate.
TEST_P(FormRecords, TheKeyIsComparedTrimmedOnBothSidesAndWithoutLatinCase)
{
    typeReport(QStringLiteral(" a01"), QStringLiteral("张三"));
    save();
    typeReport(QStringLiteral("A01  "), QStringLiteral("张三"));
    save(PromptAnswer::Yes);
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(column(QStringLiteral("SELECT A3 FROM A")), u" a01");
}

TEST_P(FormRecords, WildcardsAndQuotesInTheNumberMatchOnlyThemselves)
{
    w.store.exec(QStringLiteral("INSERT INTO A (A1, A3) VALUES ('甲', 'A01');"
                                 "INSERT INTO A (A1, A3) VALUES ('乙', 'AB1');"
                                 "INSERT INTO A (A1, A3) VALUES ('丙', 'A%');"));
    for (const QString& number : {QStringLiteral("%"), QStringLiteral("A_1"), QStringLiteral("A%"),
                                  QStringLiteral("x' OR '1'='1")}) {
        w.type(QStringLiteral("a3"), number);
        w.type(QStringLiteral("a1"), QStringLiteral("某"));
        w.prompts.answer(PromptAnswer::Yes);
        remove();
    }
    EXPECT_EQ(column(sql("SELECT group_concat(A1, '') FROM (SELECT A1 FROM A ORDER BY rowid)",
                         "SELECT string_agg(A1, '' ORDER BY rowid) FROM A")),
              u"甲乙");

    typeReport(QStringLiteral("A_1"), QStringLiteral("丁"));
    save();
    EXPECT_EQ(rows(), 3) << "a number with _ is a new report, not an overwrite of A01 or AB1";
}

TEST_P(FormRecords, AFailedSaveRollsBackReportsAndRestoresTheButtonAndPointer)
{
    w.store.exec(sql("CREATE TRIGGER no_writes BEFORE INSERT ON A BEGIN SELECT RAISE(ABORT, '表只读'); END;",
                     "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN RAISE EXCEPTION '表只读'; END$$;"
                     "CREATE TRIGGER no_writes BEFORE INSERT ON A FOR EACH ROW EXECUTE FUNCTION refuse();"));
    typeReport(QStringLiteral("A01"), QStringLiteral("张三"));
    const ReportRecord typed = w.shownReport();
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
    EXPECT_TRUE(saveEnabled());
    EXPECT_NE(w.window().cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(w.shownReport(), typed);

    // The next save reopens the result set and works.
    w.store.exec(sql("DROP TRIGGER no_writes", "DROP TRIGGER no_writes ON A"));
    w.prompts.clear();
    save();
    EXPECT_EQ(w.prompts.texts(), QStringList{QStringLiteral("保存完毕！")});
    EXPECT_EQ(rows(), 1);
}

TEST_P(FormRecords, DeleteAsksRemovesEveryMatchingRowAndEmptiesTheWindow)
{
    w.store.exec(QStringLiteral("INSERT INTO A (A1, A3) VALUES ('一', 'A01');"
                                 "INSERT INTO A (A1, A3) VALUES ('二', ' a01 ');"
                                 "INSERT INTO A (A1, A3) VALUES ('三', 'A02');"));
    typeReport(QStringLiteral("A01"), QStringLiteral("张三"));
    w.prompts.answer(PromptAnswer::No);
    remove();
    EXPECT_EQ(w.prompts.texts(), QStringList{QStringLiteral("确定要删除此信息？")});
    EXPECT_EQ(w.prompts.last().icon, PromptIcon::Question);
    EXPECT_EQ(rows(), 3);
    EXPECT_EQ(w.text(QStringLiteral("a3")), u"A01");

    w.prompts.clear();
    w.prompts.answer(PromptAnswer::Yes);
    remove();
    EXPECT_EQ(w.prompts.texts(), (QStringList{QStringLiteral("确定要删除此信息？"), QStringLiteral("删除完毕!")}));
    EXPECT_EQ(w.prompts.last().icon, PromptIcon::Information);
    EXPECT_EQ(column(sql("SELECT group_concat(A3) FROM A", "SELECT string_agg(A3, ',') FROM A")), u"A02");
    EXPECT_TRUE(w.text(QStringLiteral("a3")).isEmpty());
    EXPECT_EQ(shownDate(), QDate::currentDate());

    // A number nobody holds still ends in the same way.
    w.prompts.clear();
    typeReport(QStringLiteral("Z99"), QStringLiteral("无人"));
    w.prompts.answer(PromptAnswer::Yes);
    remove();
    EXPECT_EQ(w.prompts.last().text, u"删除完毕!");
    EXPECT_TRUE(w.text(QStringLiteral("a1")).isEmpty());
    EXPECT_EQ(rows(), 1);
}

TEST_P(FormRecords, AFailedDeleteRemovesNothingAndKeepsTheWindow)
{
    w.store.exec(QStringLiteral("INSERT INTO A (A1, A3) VALUES ('一', 'A01');"));
    w.store.exec(sql("CREATE TRIGGER keep BEFORE DELETE ON A BEGIN SELECT RAISE(ABORT, '不许删'); END;",
                     "CREATE FUNCTION keep() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN RAISE EXCEPTION '不许删'; END$$;"
                     "CREATE TRIGGER keep BEFORE DELETE ON A FOR EACH ROW EXECUTE FUNCTION keep();"));
    typeReport(QStringLiteral("A01"), QStringLiteral("张三"));
    w.prompts.answer(PromptAnswer::Yes);
    remove();
    ASSERT_EQ(w.prompts.shown().size(), 2u);
    EXPECT_TRUE(w.prompts.last().title.startsWith(u"数据删除错误:"));
    EXPECT_TRUE(w.prompts.last().text.contains(u"不许删"));
    EXPECT_TRUE(w.prompts.last().text.endsWith(u"如有问题请与开发者联系!"));
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(w.text(QStringLiteral("a3")), u"A01");
    EXPECT_FALSE(w.database.inTransaction());
}

TEST_P(FormRecords, ARowWithoutADateShowsNoDateAndIsSavedWithoutOne)
{
    w.store.exec(QStringLiteral("INSERT INTO A (A1, A3, A13, A15, A16, A17) VALUES ('旧', 'A01', NULL, 2, -1, 1)"));
    search(QStringLiteral("A01"));
    ASSERT_EQ(w.text(QStringLiteral("a1")), u"旧");
    EXPECT_EQ(shownDate(), std::nullopt);
    EXPECT_FALSE(w.option(0)->isChecked());
    EXPECT_FALSE(w.option(1)->isChecked());
    EXPECT_TRUE(w.option(2)->isChecked());
    EXPECT_TRUE(w.text(QStringLiteral("a2")).isEmpty()) << "a null column shows as empty text";

    save(PromptAnswer::Yes);
    EXPECT_EQ(column(QStringLiteral("SELECT A13 FROM A")), u"<null>");
    EXPECT_EQ(column(QStringLiteral("SELECT A15 || '' || A16 || '' || A17 FROM A")), u"001");
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

TEST_P(FormRecords, ClearEmptiesTheReportButLeavesSearchAndButtons)
{
    w.store.exec(QStringLiteral("INSERT INTO A (A1, A3, A13) VALUES ('张一', 'A02', '2024-01-01')"));
    w.type(QStringLiteral("b1"), QStringLiteral("张"));
    w.click(QStringLiteral("Command1")); // found rows: browsing is on
    ASSERT_TRUE(w.button(QStringLiteral("Command4"))->isEnabled());
    typeReport(QStringLiteral("A01"), QStringLiteral("张三"));
    w.click(QStringLiteral("cmdAdd"));
    const ReportRecord empty = w.shownReport();
    for (const FieldInfo& field : reportFields())
        EXPECT_TRUE(empty[field.id].isEmpty()) << field.control;
    EXPECT_EQ(empty.examDate, QDate::currentDate());
    EXPECT_EQ(empty.options, (std::array<bool, kFieldCount>{}));
    EXPECT_EQ(w.comboBox(QStringLiteral("a2"))->count(), 100) << "the lists stay";
    EXPECT_EQ(w.text(QStringLiteral("b1")), u"张");
    EXPECT_TRUE(w.button(QStringLiteral("Command4"))->isEnabled());
    EXPECT_TRUE(w.prompts.shown().empty());
}

// a1..a14 are named after the columns they hold: each field is saved to the column of its name
// and each column shown in the field of its name. Read from the table itself, so that two fields
// swapped alike on saving and on showing do not cancel out.
TEST_P(FormRecords, EachFieldIsSavedToAndShownFromTheColumnOfItsName)
{
    const auto valueOf = [](int n) { return QStringLiteral("第%1栏").arg(n); };
    const QDate date(2023, 7, 14);
    for (int n = 1; n <= 14; ++n) {
        if (n != 13)
            w.type(QStringLiteral("a%1").arg(n), valueOf(n));
    }
    w.datePicker()->setValue(date);
    save();
    ASSERT_EQ(w.prompts.texts(), QStringList{QStringLiteral("保存完毕！")});
    for (int n = 1; n <= 14; ++n) {
        const QString expected = n == 13 ? date.toString(Qt::ISODate) : valueOf(n);
        EXPECT_EQ(column(QStringLiteral("SELECT A%1 FROM A").arg(n)), expected) << "column A" << n;
    }

    w.click(QStringLiteral("cmdAdd"));
    search(valueOf(3));
    for (int n = 1; n <= 14; ++n) {
        if (n != 13) {
            EXPECT_EQ(w.text(QStringLiteral("a%1").arg(n)), valueOf(n)) << "field a" << n;
        }
    }
    EXPECT_EQ(shownDate(), date);
}

// Check2(i) is saved to A(15 + i) alone and shown back alone.
TEST_P(FormRecords, EachOptionAloneSetsExactlyItsOwnColumn)
{
    QStringList options;
    for (int c = 15; c <= 27; ++c)
        options << QStringLiteral("A%1").arg(c);
    for (int i = 0; i < 13; ++i) {
        SCOPED_TRACE(i);
        const QString number = QStringLiteral("K%1-").arg(i);
        w.click(QStringLiteral("cmdAdd"));
        w.type(QStringLiteral("a3"), number);
        w.type(QStringLiteral("a1"), QStringLiteral("某"));
        w.click(QStringLiteral("Check2(%1)").arg(i));
        ASSERT_TRUE(w.option(i)->isChecked());
        w.prompts.clear();
        save();
        ASSERT_EQ(w.prompts.texts(), QStringList{QStringLiteral("保存完毕！")});

        QString expected(13, u'0');
        expected[i] = u'1';
        EXPECT_EQ(column(u"SELECT " + options.join(u" || '' || ") + u" FROM A WHERE A3 = '" + number + u"'"),
                  expected);

        w.click(QStringLiteral("cmdAdd"));
        search(number);
        ASSERT_EQ(w.text(QStringLiteral("a3")), number);
        for (int j = 0; j < 13; ++j)
            EXPECT_EQ(w.option(j)->isChecked(), j == i) << "Check2(" << j << ")";
    }
    EXPECT_EQ(rows(), 13);
}

// One write to table A from a connection of its own, waiting at most 200 ms for the lock; gives
// the engine's refusal, empty when the write went through.
QString writeFromAnotherConnection(const TestStore& store)
{
    if (store.kind() == StoreKind::Server)
        return TestServer::shared().execError(store.serverDatabase(),
                                              QStringLiteral("SET lock_timeout = 200; UPDATE A SET A4 = '另一个连接'"));
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(store.folder().databaseFile().toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, 200);
        rc = sqlite3_exec(db, "UPDATE A SET A4 = '另一个连接'", nullptr, nullptr, nullptr);
    }
    sqlite3_close(db);
    return rc == SQLITE_OK ? QString() : QString::fromUtf8(sqlite3_errstr(rc));
}

class SaveLock : public ::testing::TestWithParam<StoreKind>
{
};

// The overwrite is decided and written in one transaction: nobody can change the row between the
// question and the answer.
TEST_P(SaveLock, TheRowStaysLockedWhileTheOverwriteQuestionIsOpen)
{
    WindowFixture w{{}, GetParam()};
    w.type(QStringLiteral("a3"), QStringLiteral("A01"));
    w.type(QStringLiteral("a1"), QStringLiteral("张三"));
    w.type(QStringLiteral("a4"), QStringLiteral("第一次"));
    w.click(QStringLiteral("cmdSave"));
    ASSERT_EQ(w.prompts.texts(), QStringList{QStringLiteral("保存完毕！")});

    std::optional<QString> refused;
    w.prompts.whileAsked = [&](const Prompt& prompt) {
        if (prompt.buttons == PromptButtons::YesNo)
            refused = writeFromAnotherConnection(w.store);
    };
    w.prompts.clear();
    w.prompts.answer(PromptAnswer::Yes);
    w.type(QStringLiteral("a4"), QStringLiteral("第二次"));
    w.click(QStringLiteral("cmdSave"));
    ASSERT_TRUE(refused.has_value()) << "the overwrite question was not asked";
    EXPECT_FALSE(refused->isEmpty()) << "another connection wrote while the question was open";
    EXPECT_EQ(w.prompts.texts(), (QStringList{QStringLiteral("张三 这名患者的报告已经存在，是否更改？"),
                                              QStringLiteral("保存完毕！")}));
    EXPECT_EQ(w.store.scalar(QStringLiteral("SELECT count(*) FROM A")), u"1");
    EXPECT_EQ(w.store.scalar(QStringLiteral("SELECT A4 FROM A")), u"第二次");
    EXPECT_FALSE(w.database.inTransaction());
}

KORVELA_ON_BOTH_STORES(FormRecords);
KORVELA_ON_BOTH_STORES(SaveLock);

} // namespace
