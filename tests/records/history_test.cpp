#include "records/report_store.h"
#include "store/change_functions.h"
#include "store/history_chain.h"
#include "store/postgres_database.h"
#include "store/sqlite_database.h"
#include "support/test_server.h"
#include "support/test_store.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace korvela;
using namespace korvela::test;

namespace {

ReportRecord report(const QString& number, const QString& finding)
{
    ReportRecord r;
    r[Field::ScreeningNumber] = number;
    r[Field::PatientName] = QStringLiteral("李梅");
    r[Field::ClinicalExamination] = finding;
    r.examDate = QDate(2026, 3, 1);
    r.checked(Field::FollowUpThreeMonths) = true;
    return r;
}

struct HistoryRow
{
    QString action, who, host, number, before, after;
    std::int64_t reportId = 0;
    Value restores;
};

class History : public ::testing::TestWithParam<StoreKind>
{
protected:
    std::vector<HistoryRow> rows()
    {
        std::vector<HistoryRow> out;
        const auto set = store.db().createResultSet();
        EXPECT_TRUE(set->open({QStringLiteral("SELECT * FROM report_history ORDER BY seq"), {}}).ok());
        for (; set->hasCurrentRow(); (void)set->moveNext()) {
            const auto text = [&](const char* c) { return valueToText(*set->field(QString::fromLatin1(c))); };
            out.push_back({text("action"), text("who"), text("host"), text("number"), text("before"), text("after"),
                           text("report_id").toLongLong(), *set->field(QStringLiteral("restores"))});
        }
        return out;
    }
    // Every row's hash worked out again by the program's own digest; empty when all fit.
    QString chainBreak(const QString& table, const QStringList& columns)
    {
        const auto set = store.db().createResultSet();
        EXPECT_TRUE(set->open({u"SELECT * FROM " + table + u" ORDER BY seq", {}}).ok());
        QString previous;
        for (; set->hasCurrentRow(); (void)set->moveNext()) {
            std::vector<Value> values;
            for (const QString& c : columns)
                values.push_back(*set->field(c));
            const QString hash = valueToText(*set->field(QStringLiteral("hash")));
            if (chainDigest(previous, values) != hash)
                return valueToText(*set->field(QStringLiteral("seq")));
            previous = hash;
        }
        return {};
    }
    QString expectedWho() const { return GetParam() == StoreKind::Sqlite ? loginName() : QStringLiteral("postgres"); }
    QString expectedHost() const { return GetParam() == StoreKind::Sqlite ? hostName() : QStringLiteral("local"); }
    static QStringList historyColumns()
    {
        return QString::fromLatin1("seq action at who host report_id number before after restores").split(u' ');
    }

    TestStore store{GetParam()};
    ReportStore reports{store.db()};
};

QString field(const QString& json, int column)
{
    return QJsonDocument::fromJson(json.toUtf8()).array().at(column).toVariant().toString();
}

// Each kind of change adds exactly one row per report it touches, with the person, the
// workstation, the screening number and the versions before and after; the chain fits throughout.
TEST_P(History, EachChangeWritesOneRowWithWhoWhereAndBothVersions)
{
    ASSERT_EQ(reports.save(report(QStringLiteral("H01"), QStringLiteral("第一次")), [] { return false; }).kind,
              SaveResult::Saved);
    ASSERT_EQ(reports.save(report(QStringLiteral(" h01 "), QStringLiteral("第二次")), [] { return true; }).kind,
              SaveResult::Saved);
    ASSERT_EQ(reports.save(report(QStringLiteral("h01"), QStringLiteral("不保存")), [] { return false; }).kind,
              SaveResult::Declined);
    ASSERT_TRUE(reports.remove(QStringLiteral("H01")).ok());
    ASSERT_EQ(reports.save(report(QStringLiteral("H01"), QStringLiteral("第一次")), [] { return false; }, 1).kind,
              SaveResult::Saved);

    const std::vector<HistoryRow> h = rows();
    ASSERT_EQ(h.size(), 4u);
    const int palpation = int(index(Field::ClinicalExamination));
    struct Expected
    {
        const char16_t* action;
        const char16_t* before;
        const char16_t* after;
    };
    const Expected expected[] = {{u"新建", nullptr, u"第一次"},
                                 {u"修改", u"第一次", u"第二次"},
                                 {u"删除", u"第二次", nullptr},
                                 {u"恢复", nullptr, u"第一次"}};
    for (std::size_t i = 0; i < h.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(h[i].action, QString::fromUtf16(expected[i].action));
        EXPECT_EQ(h[i].who, expectedWho());
        EXPECT_EQ(h[i].host, expectedHost());
        EXPECT_EQ(h[i].number, u"H01");
        EXPECT_EQ(field(h[i].before, palpation), expected[i].before ? QString::fromUtf16(expected[i].before) : QString());
        EXPECT_EQ(h[i].before.isEmpty(), expected[i].before == nullptr);
        EXPECT_EQ(field(h[i].after, palpation), expected[i].after ? QString::fromUtf16(expected[i].after) : QString());
        EXPECT_EQ(h[i].after.isEmpty(), expected[i].after == nullptr);
    }
    EXPECT_EQ(h[0].reportId, h[2].reportId);
    EXPECT_EQ(valueToText(h[3].restores), u"1");
    EXPECT_TRUE(isNull(h[1].restores));
    EXPECT_EQ(field(h[0].after, int(index(Field::ExamDate))), u"2026-03-01");
    EXPECT_EQ(field(h[0].after, int(index(Field::FollowUpThreeMonths))), u"1");
    EXPECT_EQ(chainBreak(QStringLiteral("report_history"), historyColumns()), QString());
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT hash = (SELECT hash FROM report_history ORDER BY seq DESC LIMIT 1) "
                                          "FROM korvela_chain WHERE name = 'report_history'")),
              GetParam() == StoreKind::Sqlite ? u"1" : u"t");
}

// Rows of one statement are chained in row order; the access log's chain is its own.
TEST_P(History, ChangesOfOneStatementAndAccessesChainInOrder)
{
    store.exec(QStringLiteral("INSERT INTO A (A3, A1) VALUES ('X1', 'a'), ('X2', 'b'), ('X3', 'c')"));
    store.exec(QStringLiteral("UPDATE A SET A4 = 'psql'"));
    if (GetParam() == StoreKind::Server)
        store.exec(QStringLiteral("SELECT korvela_log_access('查看', ARRAY(SELECT rowid FROM a), NULL);"
                                  "SELECT korvela_log_access('查询', NULL, '筛查编号=X*; 共 3 条')"));
    else
        store.exec(QStringLiteral("INSERT INTO access_log (event, report_id) SELECT '查看', rowid FROM A;"
                                  "INSERT INTO access_log (event, detail) VALUES ('查询', '筛查编号=X*; 共 3 条')"));
    const std::vector<HistoryRow> h = rows();
    ASSERT_EQ(h.size(), 6u);
    EXPECT_EQ(h[3].action, u"修改");
    EXPECT_EQ(h[5].number, u"X3");
    EXPECT_EQ(chainBreak(QStringLiteral("report_history"), historyColumns()), QString());
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT count(*) FROM access_log WHERE number = 'X2' AND event = '查看'")),
              u"1");
    EXPECT_EQ(chainBreak(QStringLiteral("access_log"),
                         QString::fromLatin1("seq at who host event report_id number detail").split(u' ')),
              QString());
    // The check of the chain catches an edited row.
    store.exec(QStringLiteral("UPDATE report_history SET who = 'someone' WHERE seq = 2"));
    EXPECT_EQ(chainBreak(QStringLiteral("report_history"), historyColumns()), u"2");
}

// A change is never stored without its history row, nor a row without its change: a save cut
// between the two writes and its commit leaves neither.
TEST_P(History, ASaveCutBeforeItsCommitLeavesNeitherReportNorHistory)
{
    if (GetParam() == StoreKind::Sqlite) {
        // The program killed mid-save: a process of its own that dies holding the transaction.
        const pid_t killed = fork();
        if (killed == 0) {
            SqliteReportDatabase db;
            if (!db.open(store.folder().databaseFile(), std::chrono::seconds(5)))
                _exit(2);
            (void)db.begin();
            (void)db.execute(ReportSql::insertReport(report(QStringLiteral("K1"), QStringLiteral("x"))));
            raise(SIGKILL);
        }
        int status = 0;
        waitpid(killed, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
    } else {
        PostgresReportDatabase other;
        ASSERT_TRUE(other.open(QStringLiteral("service=korvela"), std::chrono::seconds(5)).ok());
        ASSERT_TRUE(other.begin().ok());
        ASSERT_TRUE(other.execute(ReportSql::insertReport(report(QStringLiteral("K1"), QStringLiteral("x")))).ok());
        store.exec(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                  "WHERE datname = current_database() AND pid <> pg_backend_pid() AND state LIKE 'idle in%'"));
        EXPECT_FALSE(other.commit().ok());
    }
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT count(*) FROM A")), u"0");
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT count(*) FROM report_history")), u"0");
    ASSERT_EQ(reports.save(report(QStringLiteral("K2"), QStringLiteral("y")), [] { return false; }).kind,
              SaveResult::Saved);
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT count(*) FROM report_history")), u"1");
    EXPECT_EQ(chainBreak(QStringLiteral("report_history"), historyColumns()), QString());
}

KORVELA_ON_BOTH_STORES(History);

} // namespace
