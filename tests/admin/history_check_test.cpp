// check on the history and the access log: rows of either chain edited, removed and put in by hand,
// reports changed outside Korvela, on a real Data.Dat and on the test server.
#include "admin/history_check.h"
#include "admin/store_check.h"
#include "records/report_store.h"
#include "store/history_chain.h"
#include "support/test_server.h"
#include "support/test_store.h"

#include <gtest/gtest.h>

using namespace korvela;
using namespace korvela::admin;
using namespace korvela::test;

namespace {

// A store of either kind with its reports saved as Korvela saves them.
class HistoryStore
{
public:
    explicit HistoryStore(StoreKind kind)
        : store(kind)
    {
    }

    bool onServer() const { return store.kind() == StoreKind::Server; }

    void save(const QString& number, const QString& name)
    {
        ReportRecord r;
        r[Field::ScreeningNumber] = number;
        r[Field::PatientName] = name;
        r.examDate = QDate(2026, 12, 1);
        ASSERT_EQ(reports.save(r, [] { return true; }).kind, SaveResult::Saved);
    }

    // SQL run as someone working around Korvela: the sqlite3 shell without the triggers (which
    // it cannot run), psql with them switched off for its session.
    void byHand(QString sql) const
    {
        sql.replace(QStringLiteral("%OVERRIDING"), onServer() ? QStringLiteral("OVERRIDING SYSTEM VALUE") : QString());
        if (onServer()) {
            store.exec(u"SET session_replication_role = replica; " + sql);
            return;
        }
        const QString triggers = store.scalar(QStringLiteral("SELECT group_concat(sql, ';') FROM sqlite_master "
                                                             "WHERE type = 'trigger'"));
        const QString drops = store.scalar(QStringLiteral("SELECT group_concat('DROP TRIGGER ' || name, ';') "
                                                          "FROM sqlite_master WHERE type = 'trigger'"));
        store.exec(drops + u';' + sql + u';' + triggers);
    }

    // An access logged as the programs log it: the store fills in who, where, when and the hash.
    void logAccess(const QString& event, const QString& detail)
    {
        const Status logged =
            store.db().execute({onServer() ? QStringLiteral("SELECT korvela_log_access(?1, NULL, ?2)")
                                           : QStringLiteral("INSERT INTO access_log (event, detail) VALUES (?1, ?2)"),
                                {event, detail}});
        ASSERT_TRUE(logged.ok()) << logged.failure().description.toStdString();
    }

    // The problems check finds, one a line.
    QString problems() const
    {
        const CheckReport report = onServer()
                                       ? checkServerStore(TestServer::shared().connection(store.serverDatabase()))
                                       : checkSqliteStore(store.folder().databaseFile());
        return report.problems.join(u'\n');
    }

    // Check finds `problem` (among others), or none when it is empty.
    void expectProblem(const char* name, const char* problem) const
    {
        const QString found = problems();
        EXPECT_EQ(found.isEmpty(), *problem == 0) << name << ": " << found.toStdString();
        EXPECT_TRUE(found.contains(QString::fromUtf8(problem))) << name << ": " << found.toStdString();
    }

    TestStore store;
    ReportStore reports{store.db()};
};

class HistoryCheck : public ::testing::TestWithParam<StoreKind>
{
};

// The administrator's check of a store whose chains were tampered with names the first row that
// does not fit and what happened to it.
TEST_P(HistoryCheck, ARowOfEitherChainChangedByHandIsNamed)
{
    const struct
    {
        const char* name;
        const char* tampering; // SQL run by hand
        const char* problem;   // empty: sound
    } cases[] = {
        {"untouched", "", ""},
        {"a change's who edited", "UPDATE report_history SET who = 'someone' WHERE seq = 3",
         "修改记录（report_history）中 seq 为 3 的一行在 Korvela 之外被改动过"},
        {"a change's values edited",
         "UPDATE report_history SET after = (SELECT after FROM report_history WHERE seq = 1) WHERE seq = 4",
         "seq 为 4 的一行在 Korvela 之外被改动过"},
        {"a change's hash replaced",
         "UPDATE report_history SET hash = (SELECT hash FROM report_history WHERE seq = 1) WHERE seq = 2",
         "seq 为 2 的一行在 Korvela 之外被改动过"},
        {"a change removed", "DELETE FROM report_history WHERE seq = 3",
         "seq 为 4 的一行之前的行被删除了：它接不上 seq 为 2 的一行"},
        {"the first change removed", "DELETE FROM report_history WHERE seq = 1",
         "seq 为 2 的一行之前的行被删除了：它是现存的第一行"},
        {"a change put in first",
         "INSERT INTO report_history (seq, action, at, who, host, report_id, number, before, after, restores, hash)"
         " VALUES (0, '新建', '2026-01-01T00:00:00.000Z', 'x', 'y', 1, 'SC-1', NULL, '[]', NULL, 'f00')",
         "修改记录（report_history）中 seq 为 0 的一行是在 Korvela 之外插入的"},
        // Whoever knows the digest can give a row put in a hash that fits; the row after it does not.
        {"a change put in first with a fitting hash",
         "INSERT INTO report_history (seq, action, at, who, host, report_id, number, before, after, restores, hash)"
         " VALUES (0, '新建', 'x', 'x', 'x', 1, 'SC-1', NULL, '[]', NULL, '%FORGED')",
         "修改记录（report_history）中 seq 为 0 的一行是在 Korvela 之外插入的"},
        {"the last change removed", "DELETE FROM report_history WHERE seq = 5",
         "修改记录（report_history）的最后 1 行被删除了：链头记着 seq 5，表中最后一行是 seq 4"},
        {"the last change's hash replaced",
         "UPDATE report_history SET who = 'someone', hash = (SELECT hash FROM report_history WHERE seq = 4)"
         " WHERE seq = 5",
         "seq 为 5 的一行在 Korvela 之外被改动过"},
        {"an access edited", "UPDATE access_log SET detail = '姓名=李*; 共 1 条' WHERE seq = 2",
         "访问记录（access_log）中 seq 为 2 的一行在 Korvela 之外被改动过"},
        {"an access removed", "DELETE FROM access_log WHERE seq = 2",
         "访问记录（access_log）中 seq 为 3 的一行之前的行被删除了"},
        {"the chain's head moved back", "UPDATE korvela_chain SET seq = 2 WHERE name = 'access_log'",
         "访问记录（access_log）的链头（korvela_chain）与表中最后一行（seq 3）不符"},
    };
    for (const auto& c : cases) {
        HistoryStore s(GetParam());
        for (int i = 1; i <= 5; ++i)
            s.save(QStringLiteral("SC-%1").arg(i), QStringLiteral("患者%1").arg(i));
        for (int i = 1; i <= 3; ++i)
            s.logAccess(QStringLiteral("查询"), QStringLiteral("姓名=王*; 共 %1 条").arg(i));
        const QString forged = chainDigest(QString(), {std::int64_t(0), QStringLiteral("新建"), QStringLiteral("x"),
                                                       QStringLiteral("x"), QStringLiteral("x"), std::int64_t(1),
                                                       QStringLiteral("SC-1"), Value(), QStringLiteral("[]"), Value()});
        if (*c.tampering)
            s.byHand(QString::fromUtf8(c.tampering).replace(QStringLiteral("%FORGED"), forged));
        s.expectProblem(c.name, c.problem);
    }
}

// A report changed with psql or the sqlite3 shell (the history's triggers worked around) no longer
// matches its latest version in the history, and check names it.
TEST_P(HistoryCheck, AReportChangedOutsideKorvelaIsNamed)
{
    const struct
    {
        const char* name;
        const char* change; // SQL run by hand on table A
        const char* problem;
    } cases[] = {
        {"untouched", "", ""},
        {"a name edited", "UPDATE A SET A1 = '改过的名字' WHERE rowid = 4",
         "报告 SC-4（行号 4）在 Korvela 之外被改动过：与修改记录中它的最新版本（seq 4）不同"},
        {"a date edited", "UPDATE A SET A13 = '2020-02-02' WHERE rowid = 1",
         "报告 SC-1（行号 1）在 Korvela 之外被改动过"},
        {"an option edited", "UPDATE A SET A20 = 1 WHERE rowid = 3", "报告 SC-3（行号 3）在 Korvela 之外被改动过"},
        {"a report added", "INSERT INTO A (A1, A3) VALUES ('外来', 'SC-9')",
         "报告 SC-9（行号 5）是在 Korvela 之外加入的"},
        {"a report deleted", "DELETE FROM A WHERE rowid = 3",
         "报告 SC-3（行号 3）在 Korvela 之外被删除了：修改记录中它仍然存在（seq 3）"},
        {"a deleted report put back", "INSERT INTO A (rowid, A1, A3) %OVERRIDING VALUES (2, '回来', 'SC-2')",
         "报告 SC-2（行号 2）仍在报告数据表中，修改记录却说它已被删除（seq 5）"},
    };
    for (const auto& c : cases) {
        HistoryStore s(GetParam());
        for (int i = 1; i <= 4; ++i)
            s.save(QStringLiteral("SC-%1").arg(i), QStringLiteral("患者%1").arg(i));
        ASSERT_TRUE(s.reports.remove(QStringLiteral("SC-2")));
        if (*c.change)
            s.byHand(QString::fromUtf8(c.change));
        s.expectProblem(c.name, c.problem);
    }
}

// Reports kept before the history began have no history row and are no finding; one added by hand
// after it began is.
TEST_P(HistoryCheck, OnlyReportsAddedAfterTheHistoryBeganNeedAHistory)
{
    HistoryStore s(GetParam());
    s.byHand(QStringLiteral("INSERT INTO A (A1, A3) VALUES ('早年', 'OLD-1'); INSERT INTO A (A1, A3) VALUES ('早年', 'OLD-2')"));
    s.save(QStringLiteral("NEW-1"), QStringLiteral("新人"));
    EXPECT_EQ(s.problems(), QString());
    s.byHand(QStringLiteral("INSERT INTO A (A1, A3) VALUES ('外来', 'OUT-1')"));
    EXPECT_EQ(s.problems(), QStringLiteral("报告 OUT-1（行号 4）是在 Korvela 之外加入的：修改记录中没有它。"));
}

KORVELA_ON_BOTH_STORES(HistoryCheck);

} // namespace
