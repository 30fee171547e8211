#include "admin/data_file.h"
#include "admin/move_to_server.h"
#include "admin/server_init.h"
#include "admin/store_check.h"
#include "core/failure_codes.h"
#include "reliability/hostile_texts.h"
#include "store/store_choice.h"
#include "support/test_server.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <functional>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <limits>
#include <optional>
#include <sqlite3.h>

using namespace korvela;
using namespace korvela::admin;
using namespace korvela::test;

namespace {

constexpr std::int64_t kReports = 100000;

// Texts the program may have stored, COPY's own markers among them.
std::vector<std::string> hostileValues()
{
    std::vector<std::string> values;
    for (const QString& text : hostileTexts())
        values.push_back(text.toStdString());
    for (const char* text :
         {"\\.", "\\N", "a\\tb\\nc", "ends in a backslash\\", "\r", "\n", "\t", "\"\"", "''", ""})
        values.emplace_back(text);
    return values;
}

// The busy department's file: ordinary reports, hostile texts in every text column, a report of
// nulls only, the largest and smallest integers, twins, and rowids with a gap.
StoredRow departmentReport(std::int64_t i)
{
    static const std::vector<std::string> hostile = hostileValues();
    StoredRow r = ordinaryReport(i == 9 ? 8 : i); // 8 and 9 are twins
    const std::int64_t h = i - 100;
    if (h >= 0 && h < std::int64_t(hostile.size()) * 12) {
        static constexpr int textColumns[] = {0, 1, 2, 3, 4, 5, 6, 7, 10, 11, 13, 8};
        r[std::size_t(textColumns[h / std::int64_t(hostile.size())])] =
            hostile[std::size_t(h) % hostile.size()];
    }
    if (i == 7)
        r.fill(std::monostate{});
    if (i == 5)
        r[14] = std::int64_t(std::numeric_limits<std::int32_t>::max());
    if (i == 6)
        r[26] = std::int64_t(std::numeric_limits<std::int32_t>::min());
    return r;
}

struct PgResult
{
    PGconn* conn;
    PGresult* result;
    ~PgResult()
    {
        PQclear(result);
        PQfinish(conn);
    }
};

// The server holds the file's reports after `afterRowid`, value by value, in the file's order.
void expectServerHoldsFile(const QString& file, const QString& database, std::int64_t afterRowid)
{
    QString columns;
    for (int c = 1; c <= 27; ++c)
        columns += (c > 1 ? QStringLiteral(", a") : QStringLiteral("a")) + QString::number(c);
    PGconn* conn = PQconnectdb(TestServer::shared().connection(database).toUtf8().constData());
    PQclear(PQexec(conn, "SET DateStyle = ISO; SET client_encoding = UTF8"));
    const PgResult server{conn,
                          PQexec(conn, QStringLiteral("SELECT %1 FROM a WHERE rowid > %2 ORDER BY rowid")
                                           .arg(columns)
                                           .arg(afterRowid)
                                           .toUtf8()
                                           .constData())};
    ASSERT_EQ(PQresultStatus(server.result), PGRES_TUPLES_OK) << PQerrorMessage(conn);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 columns.replace(u'a', u'A')
                                     .prepend(u"SELECT ")
                                     .append(u" FROM A ORDER BY rowid")
                                     .toUtf8()
                                     .constData(),
                                 -1, &s, nullptr),
              SQLITE_OK);
    int row = 0, differences = 0;
    for (; sqlite3_step(s) == SQLITE_ROW && differences < 5; ++row) {
        ASSERT_LT(row, PQntuples(server.result)) << "the server holds fewer reports than the file";
        for (int c = 0; c < 27; ++c) {
            const bool fileNull = sqlite3_column_type(s, c) == SQLITE_NULL;
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
            const std::string fileValue(text ? text : "", std::size_t(sqlite3_column_bytes(s, c)));
            const bool serverNull = PQgetisnull(server.result, row, c);
            const std::string serverValue(PQgetvalue(server.result, row, c),
                                          std::size_t(PQgetlength(server.result, row, c)));
            if (fileNull != serverNull || fileValue != serverValue) {
                ADD_FAILURE() << "report " << row + 1 << " column A" << c + 1 << ": file "
                              << (fileNull ? "<null>" : fileValue.substr(0, 60)) << ", server "
                              << (serverNull ? "<null>" : serverValue.substr(0, 60));
                ++differences;
            }
        }
    }
    EXPECT_EQ(row, PQntuples(server.result)) << "the server holds other reports than the file";
    sqlite3_finalize(s);
    sqlite3_close(db);
}

// What tells a server that was not written to: its reports, its last rowid, its rowid sequence
// (which a rolled-back insert would have moved).
QString serverState(const QString& database)
{
    return TestServer::shared().scalar(
        database,
        QStringLiteral("SELECT count(*) || '/' || coalesce(max(rowid), 0) || '/' || "
                       "coalesce(pg_sequence_last_value(pg_get_serial_sequence('a', 'rowid')), 0) FROM a"));
}

// Another workstation's session on a database of the test server, its transaction left open.
class OpenTransaction
{
public:
    OpenTransaction(const QString& database, const char* sql)
        : m_conn(PQconnectdb(TestServer::shared().connection(database).toUtf8().constData()))
    {
        exec("BEGIN");
        exec(sql);
    }
    ~OpenTransaction() { PQfinish(m_conn); }
    void commit() { exec("COMMIT"); }
    int pid() const { return PQbackendPID(m_conn); }

private:
    void exec(const char* sql)
    {
        PGresult* r = PQexec(m_conn, sql);
        const ExecStatusType status = PQresultStatus(r);
        EXPECT_TRUE(status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) << PQerrorMessage(m_conn);
        PQclear(r);
    }

    PGconn* m_conn;
};

// The reports of a Data.Dat as the file alone holds them, whatever a write-ahead log beside it holds.
std::int64_t reportsInFileAlone(const QString& file)
{
    const QByteArray uri =
        "file:" + QUrl::toPercentEncoding(QFileInfo(file).absoluteFilePath(), "/") + "?immutable=1";
    sqlite3* db = nullptr;
    sqlite3_stmt* s = nullptr;
    std::int64_t count = -1;
    if (sqlite3_open_v2(uri.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT count(*) FROM A", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW)
        count = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    sqlite3_close(db);
    return count;
}

class ServerMove : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        writeDataFile(file(), kReports, departmentReport);
        execOnFile(file(), QStringLiteral("DELETE FROM A WHERE rowid BETWEEN 20 AND 29"));
    }
    static void TearDownTestSuite() { delete s_dir; }
    static QString file() { return s_dir->path() + u"/Data/Data.Dat"; }

    static QTemporaryDir* s_dir;
};
QTemporaryDir* ServerMove::s_dir = nullptr;

TEST_F(ServerMove, CopiesEveryValueInOrderThenRefusesASecondRunUnlessAdding)
{
    TestServer& server = TestServer::shared();
    const QString database = server.createReportDatabase();
    MoveOptions options{file(), server.connection(database)};
    std::int64_t lastCopied = 0;
    Result<MoveSummary> first =
        moveToServer(options, [&](MovePhase phase, std::int64_t done, std::int64_t total) {
            EXPECT_LE(done, total);
            if (phase == MovePhase::Copying)
                lastCopied = done;
        });
    ASSERT_TRUE(first) << first.failure().description.toStdString();
    EXPECT_EQ(first->copied.count, std::uint64_t(kReports - 10));
    EXPECT_EQ(lastCopied, kReports - 10);
    expectServerHoldsFile(file(), database, 0);
    EXPECT_EQ(server.scalar(database, QStringLiteral("SELECT count(*) || ' ' || min(action) || ' ' || max(action) "
                                                     "FROM report_history")),
              QStringLiteral("%1 move-to-server move-to-server").arg(kReports - 10));

    const QString afterFirst = serverState(database);
    Result<MoveSummary> again = moveToServer(options);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.failure().code, FailureCode::ServerHoldsReports);
    EXPECT_TRUE(again.failure().description.contains(u"--add"));
    EXPECT_EQ(serverState(database), afterFirst);

    const std::int64_t lastRowid =
        server.scalar(database, QStringLiteral("SELECT max(rowid) FROM a")).toLongLong();
    options.add = true;
    Result<MoveSummary> added = moveToServer(options);
    ASSERT_TRUE(added) << added.failure().description.toStdString();
    EXPECT_EQ(added->serverReportsBefore, kReports - 10);
    EXPECT_EQ(added->copied, first->copied);
    EXPECT_EQ(server.scalar(database, QStringLiteral("SELECT count(*) FROM a")),
              QString::number(2 * (kReports - 10)));
    expectServerHoldsFile(file(), database, lastRowid);
    server.dropDatabase(database);
}

// A value the server's column would change or refuse stops the move before anything is sent,
// naming the report and the value.
TEST(ServerMoveRefusal, AValueTheServerCannotHoldAsItIsRefusesTheMoveWithNothingWritten)
{
    const struct
    {
        int column; // 0 = A1
        Cell value;
        const char* named; // what the message shows besides the report
    } cases[] = {
        {12, std::string("2024-02-30"), "2024-02-30"},
        {12, std::string("2024-13-01"), "2024-13-01"},
        {12, std::string("24-01-01"), "24-01-01"},
        {12, std::string("2024/01/01"), "2024/01/01"},
        {12, std::string("2024-01-01 08:30"), "2024-01-01 08:30"},
        {12, std::string("0000-01-01"), "0000-01-01"},
        {12, std::string(""), "检查日期“”"},
        {12, std::int64_t(20240101), "20240101"},
        {14, std::string("x"), "A15"},
        {20, 1.5, "A21"},
        {26, std::int64_t(1) << 40, "A27"},
        {0, std::string("a\0b", 3), "U+0000"},
        {3, std::string("\xC3\x28"), "UTF-8"},
        {4, std::string("\xED\xA0\x80"), "UTF-8"}, // a surrogate
        {1, Blob{"\x01\x02"}, "A2"},
    };
    TestServer& server = TestServer::shared();
    const QString database = server.createReportDatabase();
    QTemporaryDir dir;
    for (const auto& c : cases) {
        const QString file = dir.path() + QStringLiteral("/%1-%2.Dat").arg(c.column).arg(&c - cases);
        writeDataFile(file, 2000, [&](std::int64_t i) {
            StoredRow r = ordinaryReport(i);
            if (i == 1234)
                r[std::size_t(c.column)] = c.value;
            return r;
        });
        Result<MoveSummary> moved = moveToServer({file, server.connection(database)});
        ASSERT_FALSE(moved) << c.named;
        EXPECT_EQ(moved.failure().code, FailureCode::ValueNotMovable) << c.named;
        const QString message = moved.failure().description;
        EXPECT_TRUE(message.contains(u"SC-1234") && message.contains(QString::fromUtf8(c.named)))
            << message.toStdString();
    }
    EXPECT_EQ(serverState(database), u"0/0/0");
    server.dropDatabase(database);
}

// The server's copy is compared with the file before the commit: a server that stores something
// else than it was sent (here a trigger's doing) keeps nothing of the move.
TEST(ServerMoveRefusal, ACopyThatDiffersOnTheServerIsRolledBack)
{
    const char* const changes[] = {
        "NEW.a5 := NEW.a5 || 'x'; RETURN NEW;", // one value changed
        "RETURN NULL;",                         // one report not stored
        "NEW.a13 := NULL; RETURN NEW;",         // one date dropped
    };
    TestServer& server = TestServer::shared();
    QTemporaryDir dir;
    const QString file = dir.path() + u"/Data.Dat";
    writeDataFile(file, 1000, ordinaryReport);
    for (const char* change : changes) {
        const QString database = server.createReportDatabase();
        server.exec(
            database,
            QStringLiteral("CREATE FUNCTION tamper() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                           "IF NEW.a3 = 'SC-501' THEN %1 END IF; RETURN NEW; END $$; "
                           "CREATE TRIGGER tamper BEFORE INSERT ON a FOR EACH ROW EXECUTE FUNCTION tamper()")
                .arg(QString::fromLatin1(change)));
        Result<MoveSummary> moved = moveToServer({file, server.connection(database)});
        ASSERT_FALSE(moved) << change;
        EXPECT_EQ(moved.failure().code, FailureCode::CopyMismatch)
            << moved.failure().description.toStdString();
        EXPECT_EQ(server.scalar(database, QStringLiteral("SELECT count(*) FROM a")), u"0") << change;
        server.dropDatabase(database);
    }
}

// The count before the file is read is only a quick refusal: the one that counts is taken under
// the table lock, so a report a workstation saved in between still refuses the move.
TEST(ServerMoveRefusal, AReportSavedBetweenTheFirstCountAndTheLockStillRefusesTheMove)
{
    TestServer& server = TestServer::shared();
    const QString database = server.createReportDatabase();
    QTemporaryDir dir;
    const QString file = dir.path() + u"/Data.Dat";
    writeDataFile(file, 100, ordinaryReport);
    bool saved = false;
    Result<MoveSummary> moved = moveToServer(
        {file, server.connection(database)}, [&](MovePhase phase, std::int64_t done, std::int64_t total) {
            if (phase == MovePhase::Checking && done == total && !saved) {
                server.exec(database,
                            QStringLiteral("INSERT INTO a (a1, a3) VALUES ('另一台工作站', 'W-1')"));
                saved = true;
            }
        });
    ASSERT_TRUE(saved);
    ASSERT_FALSE(moved);
    EXPECT_EQ(moved.failure().code, FailureCode::ServerHoldsReports)
        << moved.failure().description.toStdString();
    EXPECT_EQ(serverState(database).section(u'/', 0, 0), u"1");
    server.dropDatabase(database);
}

// A workstation holding the table (a save under way, or its "是否更改？" question open) is waited
// for no longer than the lock time-out; the failure says what was waited for and changes nothing.
TEST(ServerLockWait, EachServerStepWaitsForAnotherSessionOnlySoLongAndSaysWhatFor)
{
    TestServer& server = TestServer::shared();
    QTemporaryDir dir;
    const QString file = dir.path() + u"/Data.Dat";
    writeDataFile(file, 100, ordinaryReport);
    const struct
    {
        const char* name;
        bool schema; // the database holds the report table
        const char* held;
        std::function<Status(const QString& connection)> run;
        const char* says;
    } cases[] = {
        {"move-to-server while a workstation saves", true, "INSERT INTO a (a1, a3) VALUES ('未提交', 'W-2')",
         [&](const QString& connection) {
             MoveOptions options{file, connection};
             options.lockTimeout = std::chrono::seconds(1);
             return moveToServer(options).status();
         },
         "等待其他工作站释放报告表 a 超过 1 秒，未作任何改动。占用报告表的会话：本机（"},
        {"server-init while another runs", false,
         "SELECT pg_advisory_xact_lock(hashtext('korvela-admin server-init'))",
         [](const QString& connection) { return initServer(connection, std::chrono::seconds(1)).status(); },
         "等待其他会话释放锁超过 1 秒（另一个 korvela-admin server-init 正在进行"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QString database = QStringLiteral("admin_lock_wait");
        if (c.schema)
            database = server.createReportDatabase();
        else
            server.exec(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE ") + database);
        OpenTransaction workstation(database, c.held);
        const Status waited = c.run(server.connection(database));
        ASSERT_FALSE(waited.ok());
        EXPECT_EQ(waited.failure().code, FailureCode::ServerLockTimeout);
        EXPECT_TRUE(waited.failure().description.contains(QString::fromUtf8(c.says)))
            << waited.failure().description.toStdString();
        if (c.schema) {
            EXPECT_TRUE(waited.failure().description.contains(QString::number(workstation.pid())))
                << waited.failure().description.toStdString();
        }
        workstation.commit();
        EXPECT_EQ(
            server.scalar(database, QStringLiteral("SELECT count(*) FROM pg_class WHERE relname = 'a'")),
            c.schema ? u"1" : u"0");
        if (c.schema) {
            EXPECT_EQ(serverState(database).section(u'/', 0, 0), u"1") << "only the workstation's report";
        }
        server.dropDatabase(database);
    }
}

// After the move of a program folder's own Data.Dat, nothing falls back to it: it is renamed,
// whole (what its write-ahead log held written into it), unless it changed since it was copied.
// Without the service the store choice then refuses, saying the reports are on a server.
TEST(ServerMoveRetires, TheFoldersOwnFileIsRenamedWholeOnceTheServerHoldsItsReportsAndNothingElseHasIt)
{
    enum class Meanwhile { Nothing, ReportSaved, StillOpen };
    const struct
    {
        const char* name;
        Meanwhile meanwhile; // what the workstation does while the server verifies its copy
        const char* stays;   // why the file is not retired; empty: it is
    } cases[] = {
        {"nothing saved since", Meanwhile::Nothing, ""},
        {"a report saved during the copy", Meanwhile::ReportSaved, "现有 53 份报告，复制了 52 份"},
        {"another program keeps the file open", Meanwhile::StillOpen, "另有程序正打开着它"},
    };
    TestServer& server = TestServer::shared();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString database = server.createReportDatabase();
        QTemporaryDir home;
        const QString file = home.path() + u"/Data/Data.Dat";
        writeDataFile(file, 50, ordinaryReport);
        // A workstation's last reports only in the write-ahead log, its connection open until the
        // server verifies the copy.
        sqlite3* workstation = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(file).constData(), &workstation), SQLITE_OK);
        ASSERT_EQ(
            sqlite3_exec(workstation,
                         "PRAGMA wal_autocheckpoint = 0; INSERT INTO A (A1, A3) VALUES ('日志中', 'L-1'), "
                         "('日志中', 'L-2')",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
        MoveOptions options{file, server.connection(database)};
        options.retire = true;
        Result<MoveSummary> moved = moveToServer(options, [&](MovePhase phase, std::int64_t, std::int64_t) {
            if (phase != MovePhase::Verifying || c.meanwhile == Meanwhile::StillOpen || !workstation)
                return;
            if (c.meanwhile == Meanwhile::ReportSaved)
                sqlite3_exec(workstation, "INSERT INTO A (A1, A3) VALUES ('复制之后', 'L-3')", nullptr,
                             nullptr, nullptr);
            sqlite3_close(workstation);
            workstation = nullptr;
        });
        sqlite3_close(workstation);
        ASSERT_TRUE(moved) << moved.failure().description.toStdString();
        EXPECT_EQ(moved->copied.count, 52u);
        if (*c.stays) {
            EXPECT_TRUE(moved->retiredAs.isEmpty());
            EXPECT_TRUE(moved->notRetired.contains(QString::fromUtf8(c.stays)))
                << moved->notRetired.toStdString();
            EXPECT_TRUE(QFileInfo::exists(file));
            server.dropDatabase(database);
            continue;
        }
        ASSERT_TRUE(moved->notRetired.isEmpty()) << moved->notRetired.toStdString();
        EXPECT_TRUE(moved->retiredAs.startsWith(file + u".moved-to-server-"))
            << moved->retiredAs.toStdString();
        EXPECT_EQ(reportsInFileAlone(moved->retiredAs), 52);
        for (const QString& gone :
             QStringList{file, file + u"-wal", file + u"-shm", moved->retiredAs + u"-wal"})
            EXPECT_FALSE(QFileInfo::exists(gone)) << gone.toStdString();

        // This user has no service korvela (the tests' own service files do not exist).
        Result<std::unique_ptr<ReportDatabase>> opened =
            openReportStore(home.path(), std::chrono::seconds(1));
        ASSERT_FALSE(opened.ok());
        EXPECT_EQ(opened.failure().code, FailureCode::StoreMovedToServer);
        EXPECT_TRUE(opened.failure().description.contains(QFileInfo(moved->retiredAs).fileName()))
            << opened.failure().description.toStdString();
        EXPECT_EQ(checkConfiguredStore(home.path()).problems, QStringList{opened.failure().description});
        server.dropDatabase(database);
    }
}

TEST(ServerInit, MakesTheSchemaOnceThenFindsItAndRefusesADatabaseNotInUtf8)
{
    TestServer& server = TestServer::shared();
    server.exec(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE admin_empty"));
    const QString empty = server.connection(QStringLiteral("admin_empty"));

    QTemporaryDir dir;
    writeDataFile(dir.path() + u"/Data.Dat", 10, ordinaryReport);
    Result<MoveSummary> early = moveToServer({dir.path() + u"/Data.Dat", empty});
    ASSERT_FALSE(early);
    EXPECT_EQ(early.failure().code, FailureCode::NoServerSchema);

    for (const bool created : {true, false}) {
        Result<ServerInitOutcome> init = initServer(empty);
        ASSERT_TRUE(init) << init.failure().description.toStdString();
        EXPECT_EQ(init->created, created);
    }
    const CheckReport check = checkServerStore(empty);
    EXPECT_TRUE(check.ok()) << check.problems.join(u'\n').toStdString();
    EXPECT_EQ(check.reports, 0);
    EXPECT_EQ(server.scalar(QStringLiteral("admin_empty"), QStringLiteral("SELECT version FROM korvela_schema")),
              QString::number(kSchemaVersion));
    server.dropDatabase(QStringLiteral("admin_empty"));

    server.exec(
        QStringLiteral("postgres"),
        QStringLiteral("CREATE DATABASE admin_latin1 TEMPLATE template0 ENCODING 'LATIN1' LOCALE 'C'"));
    Result<ServerInitOutcome> latin1 = initServer(server.connection(QStringLiteral("admin_latin1")));
    ASSERT_FALSE(latin1);
    EXPECT_EQ(latin1.failure().code, FailureCode::ServerNotUsable);
    EXPECT_TRUE(latin1.failure().description.contains(u"LATIN1"))
        << latin1.failure().description.toStdString();
    EXPECT_EQ(
        server.scalar(QStringLiteral("admin_latin1"), QStringLiteral("SELECT to_regclass('a') IS NULL")),
        u"t");
    server.dropDatabase(QStringLiteral("admin_latin1"));
}

} // namespace
