// korvela-admin history, add-user and remove-user on a real Data.Dat and on the test server: a
// report's versions as a script reads them, the staff told apart by their own roles, and what the
// server lets a staff role do to the history and the log.
#include "admin/history_check.h"
#include "admin/history_commands.h"
#include "admin/store_check.h"
#include "records/report_store.h"
#include "store/history_store.h"
#include "store/postgres_database.h"
#include "support/test_server.h"
#include "support/test_store.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

using namespace korvela;
using namespace korvela::admin;
using namespace korvela::test;

namespace {

// What a subcommand wrote to its standard output and its standard error, and its exit status.
struct Outcome
{
    int exit;
    QString out;
    QString err;
};

QString readAll(std::FILE* f)
{
    std::rewind(f);
    QByteArray bytes;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        bytes.append(buffer, qsizetype(n));
    std::fclose(f);
    return QString::fromUtf8(bytes);
}

Outcome run(int (*command)(const Options&, const QString&, std::FILE*, std::FILE*), const Options& options,
        const QString& folder)
{
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int exit = command(options, folder, out, err);
    return {exit, readAll(out), readAll(err)};
}

Options withArgument(const QString& argument)
{
    Options options;
    options.argument = argument;
    return options;
}

ReportRecord report(const QString& number, const QString& name, QDate date)
{
    ReportRecord r;
    r[Field::ScreeningNumber] = number;
    r[Field::PatientName] = name;
    r.examDate = date;
    return r;
}

// The store of this folder is the file when no service is defined.
void noService(const QTemporaryDir& elsewhere)
{
    qputenv("PGSERVICEFILE", QFile::encodeName(elsewhere.path() + u"/none/pg_service.conf"));
    qputenv("PGSYSCONFDIR", QFile::encodeName(elsewhere.path() + u"/none"));
}

class HistoryCommand : public ::testing::TestWithParam<StoreKind>
{
};

// A report made, changed and deleted: one line each, oldest first, found by its number in any
// spelling the save takes for it; --json gives the values before and after.
TEST_P(HistoryCommand, ListsEachChangeOfAReportOldestFirst)
{
    QTemporaryDir elsewhere;
    if (GetParam() == StoreKind::Sqlite)
        noService(elsewhere);
    TestStore store(GetParam());
    ReportStore reports(store.db());
    ASSERT_EQ(reports.save(report(QStringLiteral("SC-7"), QStringLiteral("王"), QDate(2026, 1, 2)), [] { return true; })
                  .kind,
              SaveResult::Saved);
    ASSERT_EQ(reports.save(report(QStringLiteral("SC-8"), QStringLiteral("别人"), QDate(2026, 1, 2)), [] { return true; })
                  .kind,
              SaveResult::Saved);
    ASSERT_EQ(reports.save(report(QStringLiteral("sc-7"), QStringLiteral("李"), QDate(2026, 3, 4)), [] { return true; })
                  .kind,
              SaveResult::Saved);
    ASSERT_TRUE(reports.remove(QStringLiteral("SC-7")));
    const QString who = store.scalar(QStringLiteral("SELECT who FROM report_history ORDER BY seq LIMIT 1"));

    const Outcome listed = run(runHistory, withArgument(QStringLiteral(" Sc-7 ")), store.folder().path());
    ASSERT_EQ(listed.exit, 0) << listed.err.toStdString();
    const QStringList lines = listed.out.trimmed().split(u'\n');
    ASSERT_EQ(lines.size(), 4) << listed.out.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("seq\t时间（UTC）\t时间（本地）\t操作\t修改人\t工作站\t行号\t改动的栏目"));
    const struct
    {
        const char* seq;
        const char* action;
        const char* changed;
    } expected[] = {
        {"1", "新建", "A1,A3,A13,A15,A16,A17,A18,A19,A20,A21,A22,A23,A24,A25,A26,A27"},
        {"3", "修改", "A1,A13"},
        {"4", "删除", "A1,A3,A13,A15,A16,A17,A18,A19,A20,A21,A22,A23,A24,A25,A26,A27"},
    };
    for (int i = 0; i < 3; ++i) {
        const QStringList fields = lines[i + 1].split(u'\t');
        ASSERT_EQ(fields.size(), 8) << lines[i + 1].toStdString();
        EXPECT_EQ(fields[0], QString::fromLatin1(expected[i].seq));
        EXPECT_TRUE(QDateTime::fromString(fields[1], Qt::ISODateWithMs).isValid()) << fields[1].toStdString();
        EXPECT_EQ(fields[2], QDateTime::fromString(fields[1], Qt::ISODateWithMs)
                                 .toLocalTime()
                                 .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        EXPECT_EQ(fields[3], QString::fromUtf8(expected[i].action));
        EXPECT_EQ(fields[4], who);
        EXPECT_EQ(fields[6], QStringLiteral("1"));
        EXPECT_EQ(fields[7], QString::fromLatin1(expected[i].changed));
    }

    Options json = withArgument(QStringLiteral("SC-7"));
    json.json = true;
    const Outcome asJson = run(runHistory, json, store.folder().path());
    ASSERT_EQ(asJson.exit, 0) << asJson.err.toStdString();
    const QJsonArray versions = QJsonDocument::fromJson(asJson.out.toUtf8()).array();
    ASSERT_EQ(versions.size(), 3) << asJson.out.toStdString();
    EXPECT_TRUE(versions[0][u"before"].isNull());
    EXPECT_EQ(versions[1][u"before"][0].toString(), QStringLiteral("王"));
    EXPECT_EQ(versions[1][u"after"][0].toString(), QStringLiteral("李"));
    EXPECT_EQ(versions[1][u"after"][12].toString(), QStringLiteral("2026-03-04"));
    EXPECT_TRUE(versions[2][u"after"].isNull());

    const Outcome unknown = run(runHistory, withArgument(QStringLiteral("SC-70")), store.folder().path());
    EXPECT_EQ(unknown.exit, kExitFailed);
    EXPECT_EQ(unknown.out, QString());
    EXPECT_TRUE(unknown.err.contains(u"修改记录中没有筛查编号为 SC-70 的报告")) << unknown.err.toStdString();
}

TEST(RoleNames, OnlyPlainNamesThatAreNoOneElsesAreTaken)
{
    const struct
    {
        QString name;
        bool taken;
    } cases[] = {
        {QStringLiteral("wang"), true},
        {QStringLiteral("li.na-2"), true},
        {QStringLiteral("_zhao"), true},
        {QString(63, u'a'), true},
        {QString(64, u'a'), false},
        {QStringLiteral("2wang"), false},
        {QStringLiteral("wang li"), false},
        {QStringLiteral("wang\"; DROP TABLE a; --"), false},
        {QStringLiteral("王医生"), false},
        {QString(), false},
        {QStringLiteral("pg_monitor"), false},
        {QStringLiteral("korvela_staff"), false},
        {QStringLiteral("PUBLIC"), false},
        {QStringLiteral("current_user"), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(!badRoleName(c.name).has_value(), c.taken) << c.name.toStdString();
}

KORVELA_ON_BOTH_STORES(HistoryCommand);

// The staff's own roles on the test server: every case on a report database of its own; role
// names are the cluster's, so each test names its own.
class StaffRoles : public ::testing::TestWithParam<StoreKind>
{
protected:
    StaffRoles()
    {
        server.pointServiceAt(database);
    }
    ~StaffRoles() override { server.dropDatabase(database); }

    // A connection to the report database as `role`.
    QString as(const QString& role) const
    {
        QString connection = server.connection(database);
        return connection.replace(QStringLiteral("user=postgres"), u"user=" + role);
    }

    void saveAs(const QString& role, const ReportRecord& record) const
    {
        PostgresReportDatabase db;
        ASSERT_TRUE(db.open(as(role), std::chrono::seconds(5)));
        ReportStore reports(db);
        ASSERT_EQ(reports.save(record, [] { return true; }).kind, SaveResult::Saved);
    }

    TestServer& server = TestServer::shared();
    QString database = server.createReportDatabase();
    QTemporaryDir folder;
};

// Two people, each with a role made by add-user, change the same report: the history says who.
TEST_P(StaffRoles, TwoRolesMadeByAddUserAreToldApartInTheHistory)
{
    const QString connection = server.connection(database);
    // Roles are the cluster's: the warning is due only while no test has made a person's role yet.
    if (server.scalar(database, QStringLiteral("SELECT count(*) FROM pg_auth_members m JOIN pg_roles g ON g.oid = "
                                               "m.roleid WHERE g.rolname = 'korvela_staff'")) == u"0") {
        const CheckReport before = checkServerStore(connection);
        EXPECT_TRUE(before.warnings.join(u'\n').contains(u"无法区分修改人"))
            << before.warnings.join(u'\n').toStdString();
    }

    for (const char* name : {"doctor_wang", "doctor_li"}) {
        const Outcome made = run(runAddUser, withArgument(QString::fromLatin1(name)), folder.path());
        ASSERT_EQ(made.exit, 0) << made.err.toStdString();
        EXPECT_FALSE(made.out.contains(u"密码（只显示这一次")) << made.out.toStdString();
    }
    saveAs(QStringLiteral("doctor_wang"), report(QStringLiteral("TWO-1"), QStringLiteral("王"), QDate(2026, 5, 1)));
    saveAs(QStringLiteral("doctor_li"), report(QStringLiteral("TWO-1"), QStringLiteral("王"), QDate(2026, 5, 2)));

    const Outcome listed = run(runHistory, withArgument(QStringLiteral("TWO-1")), folder.path());
    ASSERT_EQ(listed.exit, 0) << listed.err.toStdString();
    const QStringList lines = listed.out.trimmed().split(u'\n');
    ASSERT_EQ(lines.size(), 3) << listed.out.toStdString();
    EXPECT_EQ(lines[1].section(u'\t', 3, 4), QStringLiteral("新建\tdoctor_wang"));
    EXPECT_EQ(lines[2].section(u'\t', 3, 4), QStringLiteral("修改\tdoctor_li"));
    EXPECT_EQ(lines[1].section(u'\t', 5, 5), QStringLiteral("local"));

    const CheckReport after = checkServerStore(connection);
    EXPECT_TRUE(after.ok()) << after.problems.join(u'\n').toStdString();
    EXPECT_TRUE(after.warnings.isEmpty()) << after.warnings.join(u'\n').toStdString();
}

// A person's role may read the history and the log but never change or empty them.
TEST_P(StaffRoles, AStaffRoleCannotChangeTheHistoryOrTheLog)
{
    Options withPassword = withArgument(QStringLiteral("nurse_zhang"));
    withPassword.password = true;
    const Outcome made = run(runAddUser, withPassword, folder.path());
    ASSERT_EQ(made.exit, 0) << made.err.toStdString();
    EXPECT_TRUE(made.out.contains(QRegularExpression(QStringLiteral("密码（只显示这一次[^：]*）：[A-Za-z2-9]{20}\n"))))
        << made.out.toStdString();
    EXPECT_EQ(server.scalar(database, QStringLiteral("SELECT rolpassword LIKE 'SCRAM-SHA-256$%' FROM pg_authid "
                                                     "WHERE rolname = 'nurse_zhang'")),
              QStringLiteral("t"));
    saveAs(QStringLiteral("nurse_zhang"), report(QStringLiteral("RO-1"), QStringLiteral("张"), QDate(2026, 5, 1)));

    PostgresReportDatabase db;
    ASSERT_TRUE(db.open(as(QStringLiteral("nurse_zhang")), std::chrono::seconds(5)));
    for (const char* sql : {"UPDATE report_history SET who = 'someone'", "DELETE FROM report_history",
                            "TRUNCATE report_history", "UPDATE access_log SET who = 'someone'",
                            "DELETE FROM access_log", "TRUNCATE access_log", "DROP TRIGGER a_history_updated ON a",
                            "ALTER TABLE a DISABLE TRIGGER USER"}) {
        const Status s = db.execute({QString::fromLatin1(sql), {}});
        EXPECT_FALSE(s.ok()) << sql;
    }
    EXPECT_EQ(server.scalar(database, QStringLiteral("SELECT count(*) FROM report_history WHERE who = 'nurse_zhang'")),
              QStringLiteral("1"));
}

// add-user and remove-user refuse a name taken, the owner, a role that is not staff, one missing.
TEST_P(StaffRoles, RolesAreRefusedWhereTheyAreNoStaffOfKorvela)
{
    server.exec(database, QStringLiteral("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'stranger')"
                                         " THEN CREATE ROLE stranger LOGIN; END IF; END $$"));
    ASSERT_EQ(run(runAddUser, withArgument(QStringLiteral("clerk_sun")), folder.path()).exit, 0);
    const struct
    {
        int (*command)(const Options&, const QString&, std::FILE*, std::FILE*);
        const char* name;
        int exit;
        const char* said;
    } cases[] = {
        {runAddUser, "clerk_sun", kExitFailed, "服务器上已有名为 clerk_sun 的角色"},
        {runAddUser, "stranger", kExitFailed, "服务器上已有名为 stranger 的角色"},
        {runRemoveUser, "postgres", kExitFailed, "postgres 是报告数据库的所有者"},
        {runRemoveUser, "stranger", kExitFailed, "角色 stranger 不属于组角色 korvela_staff"},
        {runRemoveUser, "nobody_here", kExitFailed, "服务器上没有名为 nobody_here 的角色"},
        {runAddUser, "bad name", kExitUsage, "角色名“bad name”不可用"},
        {runRemoveUser, "clerk_sun", 0, ""},
        {runRemoveUser, "clerk_sun", kExitFailed, "服务器上没有名为 clerk_sun 的角色"},
    };
    for (const auto& c : cases) {
        const Outcome r = run(c.command, withArgument(QString::fromLatin1(c.name)), folder.path());
        EXPECT_EQ(r.exit, c.exit) << c.name << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.said))) << c.name << ": " << r.err.toStdString();
    }
    EXPECT_EQ(server.scalar(database, QStringLiteral("SELECT count(*) FROM pg_roles WHERE rolname IN "
                                                     "('clerk_sun', 'nobody_here')")),
              QStringLiteral("0"));
    EXPECT_EQ(server.scalar(database, QStringLiteral("SELECT count(*) FROM pg_roles WHERE rolname = 'stranger'")),
              QStringLiteral("1"));
}

INSTANTIATE_TEST_SUITE_P(Server, StaffRoles, ::testing::Values(StoreKind::Server));

} // namespace
