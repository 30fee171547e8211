// Restores of a data file: refusals, whatever lies at Data.Dat kept aside, a restore killed at each
// step; restores of the server: other sessions, the dump of what it replaces, a lock held too long.

#include "admin/backup.h"
#include "admin/copy_checks.h"
#include "admin/restore.h"
#include "copy_files.h"
#include "desktop/linux_system_services.h"
#include "store/change_functions.h"
#include "store/server_session.h"
#include "store/store_choice.h"
#include "support/test_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <map>

using namespace korvela;
using namespace korvela::admin;
using namespace korvela::test;

namespace {

const QDateTime kNow = kBackupTime;
const QString kDatabaseSet[] = {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")};

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// A connection of its own to a database file, in WAL mode, that never folds its log into the file:
// what it commits stays in Data.Dat-wal after it closes.
class LogOnlyConnection
{
public:
    explicit LogOnlyConnection(const QString& file)
    {
        EXPECT_EQ(sqlite3_open(QFile::encodeName(file).constData(), &m_db), SQLITE_OK);
        registerChangeFunctions(m_db);
        sqlite3_busy_timeout(m_db, 5000);
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0");
    }
    ~LogOnlyConnection() { sqlite3_close(m_db); }
    void exec(const char* sql)
    {
        EXPECT_EQ(sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(m_db);
    }
    void add(const QStringList& numbers)
    {
        for (const QString& n : numbers)
            exec(QStringLiteral("INSERT INTO A (A1, A3, A13, A15) VALUES ('患者', '%1', '2024-01-01', 1)")
                     .arg(n)
                     .toUtf8()
                     .constData());
    }

private:
    sqlite3* m_db = nullptr;
};

// The database kept aside by a restore (its name without -wal or -shm).
QString keptDatabase(const QString& dataFolder)
{
    return QDir(dataFolder).filePath(
        QDir(dataFolder).entryList({QStringLiteral("Data.Dat.before-restore-*[0-9]")}).value(0));
}

// The copy of a deleted report brings it back; the database as it was is kept aside.
TEST(Restore, ACopyBringsBackADeletedReportAndKeepsTheCurrentDatabaseAside)
{
    TempProgramFolder folder;
    addReports(folder, {QStringLiteral("R1"), QStringLiteral("R2")});
    const Result<BackupSummary> made = backupDataFile(folder.databaseFile(), folder.path() + u"/Data/backup", kNow);
    ASSERT_TRUE(made.ok());
    folder.exec(QStringLiteral("DELETE FROM A WHERE A3 = 'R1'"));

    const Result<RestoreSummary> restored = restoreDataFile(folder.path(), made->made.file, kNow.addDays(1));
    ASSERT_TRUE(restored.ok()) << restored.failure().description.toStdString();
    EXPECT_EQ(readFile(folder.databaseFile()).numbers, (QStringList{QStringLiteral("R1"), QStringLiteral("R2")}));
    EXPECT_EQ(readFile(restored->keptAside.value(0)).numbers, QStringList{QStringLiteral("R2")});
    EXPECT_EQ(folder.scalar(QStringLiteral("PRAGMA journal_mode")), u"wal");
    // The copy's history goes on: each report restored has its row naming the command.
    EXPECT_EQ(folder.scalar(QStringLiteral("SELECT group_concat(action || ' ' || number, ', ') FROM report_history")),
              u"新建 R1, 新建 R2, restore R1, restore R2");
}

// A restore changes nothing while Korvela runs from the folder, nor for a damaged copy.
TEST(Restore, IsRefusedWhileTheProgramRunsAndForADamagedCopy)
{
    TempProgramFolder folder;
    addReports(folder, {QStringLiteral("R1")});
    const Result<BackupSummary> made = backupDataFile(folder.databaseFile(), folder.path() + u"/backup", kNow);
    ASSERT_TRUE(made.ok());
    addReports(folder, {QStringLiteral("R2")});
    const auto unchanged = [&] {
        EXPECT_EQ(readFile(folder.databaseFile()).numbers, (QStringList{QStringLiteral("R1"), QStringLiteral("R2")}));
        EXPECT_TRUE(
            QDir(folder.path() + u"/Data").entryList({QStringLiteral("*before-restore*"), QStringLiteral("*.restoring")}).isEmpty());
    };
    // Korvela run by this user, or by another one whose session folder lies under the sessions' root.
    RestoreHooks hooks;
    hooks.sessionsRoot = folder.path() + u"/run-user";
    const QString otherUser = hooks.sessionsRoot + u"/4242";
    ASSERT_TRUE(QDir().mkpath(otherUser));
    for (const QString& lock :
         QStringList{QString(), otherUser + u'/' + QFileInfo(LinuxSystemServices::defaultLockPath(folder.path())).fileName()}) {
        SCOPED_TRACE(lock.isEmpty() ? "this user" : "another user");
        LinuxSystemServices running(folder.path(), lock);
        ASSERT_TRUE(running.acquireSingleInstance());
        const Result<RestoreSummary> r = restoreDataFile(folder.path(), made->made.file, kNow, hooks);
        ASSERT_FALSE(r.ok());
        EXPECT_TRUE(r.failure().description.contains(u"正在这台计算机上运行"));
        unchanged();
    }
    EXPECT_FALSE(programRunning(folder.path(), hooks.sessionsRoot));

    const QByteArray good = [&] {
        QFile f(made->made.file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return f.readAll();
    }();
    const struct
    {
        const char* name;
        QByteArray bytes;
        bool keepFingerprint;
    } damaged[] = {
        {"truncated", good.left(good.size() / 2), true},
        {"flipped byte, fingerprint kept", QByteArray(good).replace(good.size() - 100, 1, "\x5a"), true},
        {"flipped header, no fingerprint", QByteArray(good).replace(30, 4, "\xff\xff\xff\xff"), false},
        {"not a database", QByteArray("就是一段文字\n"), false},
    };
    for (const auto& d : damaged) {
        SCOPED_TRACE(d.name);
        const QString copy = folder.path() + u"/Data-2026-01-01-0000.Dat";
        QFile f(copy);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(d.bytes);
        f.close();
        QFile::remove(copy + u".sha256");
        if (d.keepFingerprint)
            QFile::copy(made->made.file + u".sha256", copy + u".sha256");
        const Result<RestoreSummary> r = restoreDataFile(folder.path(), copy, kNow);
        EXPECT_FALSE(r.ok());
        unchanged();
    }
}

// A restore killed at any point leaves a whole database: the old one, reports only its log held
// included, or the copy; from the moment it is kept aside the old one is whole there too.
TEST(Restore, KilledAtAnyPointLeavesEitherTheOldOrTheNewDatabaseWhole)
{
    for (const bool inLog : {false, true})
        for (const char* point : {"copied", "kept", "replaced"}) {
            SCOPED_TRACE(std::string(point) + (inLog ? ", reports in the log" : ""));
            TempProgramFolder folder;
            addReports(folder, {QStringLiteral("OLD1")});
            const Result<BackupSummary> made = backupDataFile(folder.databaseFile(), folder.path() + u"/backup", kNow);
            ASSERT_TRUE(made.ok());
            folder.exec(QStringLiteral("UPDATE A SET A3 = 'NEW1'"));
            QStringList current{QStringLiteral("NEW1")};
            if (inLog) {
                LogOnlyConnection(folder.databaseFile()).add({QStringLiteral("NEW2")});
                ASSERT_GT(QFileInfo(folder.databaseFile() + u"-wal").size(), 0);
                current << QStringLiteral("NEW2");
            }
            QProcess restore;
            restore.setProcessChannelMode(QProcess::MergedChannels);
            restore.start(QStringLiteral(RESTORE_PAUSED_PATH),
                          {folder.path(), made->made.file, QString::fromLatin1(point)});
            ASSERT_TRUE(restore.waitForStarted());
            QByteArray said;
            while (!said.contains("paused at") && restore.waitForReadyRead(20000))
                said += restore.readAll();
            ASSERT_TRUE(said.contains("paused at")) << said.toStdString();
            ::kill(pid_t(restore.processId()), SIGKILL);
            restore.waitForFinished();
            const FileState now = readFile(folder.databaseFile());
            EXPECT_TRUE(now.whole);
            EXPECT_EQ(now.numbers, std::strcmp(point, "replaced") == 0 ? QStringList{QStringLiteral("OLD1")} : current);
            if (std::strcmp(point, "copied") != 0) {
                EXPECT_EQ(readFile(keptDatabase(folder.path() + u"/Data")).numbers, current);
            }
        }
}

// Whatever lies at Data.Dat is kept aside as it was, its log and shared memory beside it under the
// same suffixes, and the copy takes its place: nothing of it is read as a condition of the restore.
TEST(Restore, WorksWhateverStateTheCurrentDatabaseIsIn)
{
    struct Case
    {
        const char* name;
        std::function<void(const TempProgramFolder&)> make;
        QStringList keptReports; // empty: the files kept are compared byte for byte with those there before
    };
    const auto damage = [](const TempProgramFolder& f) {
        QByteArray bytes = bytesOf(f.databaseFile());
        bytes.replace(100, 8, QByteArray(8, '\xff')); // the page header of the schema's page
        writeBytes(f.databaseFile(), bytes);
    };
    const auto logOnly = [](const TempProgramFolder& f) {
        LogOnlyConnection(f.databaseFile()).add({QStringLiteral("IN-LOG")});
        QFile::remove(f.databaseFile());
    };
    const Case cases[] = {
        {"damaged", damage, {}},
        {"not a database", [](const TempProgramFolder& f) { writeBytes(f.databaseFile(), "就是一段文字\n"); }, {}},
        {"missing", [](const TempProgramFolder& f) { QFile::remove(f.databaseFile()); }, {}},
        {"a log without its database", logOnly, {}},
        // A reader's older snapshot keeps the last report from being folded into the file.
        {"a log a reader keeps from being folded in", nullptr, {QStringLiteral("CUR1"), QStringLiteral("CUR2")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempProgramFolder folder;
        addReports(folder, {QStringLiteral("COPY1")});
        const Result<BackupSummary> made = backupDataFile(folder.databaseFile(), folder.path() + u"/backup", kNow);
        ASSERT_TRUE(made.ok());
        folder.exec(QStringLiteral("UPDATE A SET A3 = 'CUR1'"));
        std::optional<LogOnlyConnection> reader;
        if (c.make) {
            c.make(folder);
        } else {
            reader.emplace(folder.databaseFile());
            reader->exec("BEGIN; SELECT count(*) FROM A");
            LogOnlyConnection(folder.databaseFile()).add({QStringLiteral("CUR2")});
        }
        std::map<QString, QByteArray> before;
        for (const QString& suffix : kDatabaseSet)
            if (QFileInfo::exists(folder.databaseFile() + suffix))
                before[suffix] = bytesOf(folder.databaseFile() + suffix);

        const Result<RestoreSummary> restored = restoreDataFile(folder.path(), made->made.file, kNow);
        EXPECT_TRUE(restored.ok()) << restored.failure().description.toStdString();
        if (!restored)
            continue;
        const QString aside = folder.databaseFile() + u".before-restore-20261210-031500";
        QStringList expectedKept;
        for (const QString& suffix : kDatabaseSet) {
            if (!before.count(suffix))
                continue;
            expectedKept << aside + suffix;
            if (c.keptReports.isEmpty()) {
                EXPECT_EQ(bytesOf(aside + suffix), before[suffix]) << suffix.toStdString();
            }
        }
        EXPECT_EQ(restored->keptAside.join(u' ').toStdString(), expectedKept.join(u' ').toStdString());
        if (!c.keptReports.isEmpty()) {
            EXPECT_EQ(readFile(aside).numbers, c.keptReports);
        }
        const FileState now = readFile(folder.databaseFile());
        EXPECT_TRUE(now.whole);
        EXPECT_EQ(now.numbers, QStringList{QStringLiteral("COPY1")});
        EXPECT_FALSE(QFileInfo::exists(folder.databaseFile() + u".restoring"));
    }
}

// A copy that cannot take the database's name leaves the current database in place, whole with the
// reports its log held, and nothing beside it; the failure is said.
TEST(Restore, ACopyThatCannotTakeTheDatabasesPlaceLeavesTheCurrentOneWhole)
{
    TempProgramFolder folder;
    addReports(folder, {QStringLiteral("COPY1")});
    const Result<BackupSummary> made = backupDataFile(folder.databaseFile(), folder.path() + u"/backup", kNow);
    ASSERT_TRUE(made.ok());
    folder.exec(QStringLiteral("UPDATE A SET A3 = 'CUR1'"));
    LogOnlyConnection(folder.databaseFile()).add({QStringLiteral("CUR2")});

    RestoreHooks hooks;
    hooks.rename = [&](const QString& from, const QString& to) {
        return to != folder.databaseFile() && RestoreHooks::renameFile(from, to);
    };
    const Result<RestoreSummary> r = restoreDataFile(folder.path(), made->made.file, kNow, hooks);
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(r.failure().description.contains(u"无法把副本放到")) << r.failure().description.toStdString();
    EXPECT_EQ(QDir(folder.path() + u"/Data").entryList(QDir::Files).join(u' ').toStdString(), "Data.Dat");
    const FileState now = readFile(folder.databaseFile());
    EXPECT_TRUE(now.whole);
    EXPECT_EQ(now.numbers, (QStringList{QStringLiteral("CUR1"), QStringLiteral("CUR2")}));
}

// The server of the service korvela holding S1, a dump of it, then S2 added.
struct ServerWithDump
{
    TestStore store{StoreKind::Server};
    TempProgramFolder folder;
    QString dump;

    ServerWithDump()
    {
        store.exec(QStringLiteral("INSERT INTO a (a1, a3, a15) VALUES ('张三', 'S1', 1)"));
        const Result<BackupSummary> made = backupServer(serviceConnection(), folder.path() + u"/copies", kNow);
        EXPECT_TRUE(made.ok()) << made.failure().description.toStdString();
        dump = made ? made->made.file : QString();
        store.exec(QStringLiteral("INSERT INTO a (a1, a3, a15) VALUES ('李四', 'S2', 0)"));
    }
    ServerRestore how(bool force) const { return {true, force, defaultBackupFolder(folder.path()), kNow}; }
    QString numbers() const { return store.scalar(QStringLiteral("SELECT string_agg(a3, ',' ORDER BY a3) FROM a")); }
};

// Another session connected refuses the restore, naming it; --force restores, after a checked dump
// of the server as it was (no dump, no restore), which the summary names and which holds the report
// added after the dump.
TEST(ServerRestore, IsRefusedWhileAnotherSessionIsConnectedAndForcedKeepsADumpOfWhatItReplaced)
{
    ServerWithDump server; // the store's own connection stays open: another session
    const Result<Checksum> replaced = [] {
        Result<ServerSession> s = ServerSession::open(serviceConnection(), std::chrono::seconds(5));
        return s ? s->reportChecksum() : Result<Checksum>(s.failure());
    }();
    ASSERT_TRUE(replaced.ok());

    const Result<RestoreSummary> refused = restoreServer(serviceConnection(), server.dump, server.how(false));
    ASSERT_FALSE(refused.ok());
    // The test's own connection, named after the program as every Korvela session is.
    EXPECT_TRUE(refused.failure().description.contains(u"1 个会话连接着报告数据库：本机（程序“admin_backup_test”，进程 "))
        << refused.failure().description.toStdString();
    EXPECT_EQ(server.numbers(), u"S1,S2");
    EXPECT_FALSE(QFileInfo::exists(defaultBackupFolder(server.folder.path())));

    // A dump of the server that cannot be made (its folder is a file) refuses the restore.
    ServerRestore nowhere = server.how(true);
    nowhere.backupFolder = server.dump;
    const Result<RestoreSummary> unkept = restoreServer(serviceConnection(), server.dump, nowhere);
    ASSERT_FALSE(unkept.ok());
    EXPECT_TRUE(unkept.failure().description.contains(u"无法为服务器上现有的报告做恢复前的副本"));
    EXPECT_EQ(server.numbers(), u"S1,S2");

    const Result<RestoreSummary> restored = restoreServer(serviceConnection(), server.dump, server.how(true));
    ASSERT_TRUE(restored.ok()) << restored.failure().description.toStdString();
    EXPECT_EQ(server.numbers(), u"S1");
    EXPECT_EQ(server.store.scalar(QStringLiteral("SELECT string_agg(action || ' ' || number, ', ' ORDER BY seq) "
                                                 "FROM report_history")),
              u"新建 S1, restore S1");
    EXPECT_EQ(server.store.scalar(QStringLiteral("SELECT has_table_privilege('korvela_staff', 'a', 'UPDATE')")), u"t");
    ASSERT_EQ(restored->keptAside.size(), 1);
    EXPECT_TRUE(restored->keptAside[0].endsWith(u"/Data/backup/korvela-2026-12-10-0315-before-restore.dump"));
    const Result<Checksum> kept = copies::dumpChecksum(restored->keptAside[0]);
    ASSERT_TRUE(kept.ok());
    EXPECT_EQ(*kept, *replaced);
}

// A transaction holding a lock on table a (a workstation's open question "是否更改？") ends the
// restore after the lock time-out with that session named, the server unchanged; the restore said
// what it was doing before it waited.
TEST(ServerRestore, ALockHeldPastTheTimeOutEndsTheRestoreNamingItsSessionAndChangesNothing)
{
    ServerWithDump server;
    Result<ServerSession> question =
        ServerSession::open(serviceConnection() + u" application_name=question-open", std::chrono::seconds(5));
    ASSERT_TRUE(question.ok());
    ASSERT_TRUE(question->execute(QStringLiteral("BEGIN; SELECT * FROM a WHERE a3 = 'S2' FOR UPDATE")).ok());

    QStringList said;
    ServerRestore how = server.how(true);
    how.progress = [&](const QString& doing) { said << doing; };
    const Result<RestoreSummary> r = restoreServer(serviceConnection(), server.dump, how);
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(r.failure().description.contains(u"持有事务的会话：本机（程序“question-open”，进程 "))
        << r.failure().description.toStdString();
    EXPECT_TRUE(r.failure().description.contains(u"服务器上的报告未改动"));
    EXPECT_TRUE(said.value(said.size() - 1).contains(u"最多等待 10 秒")) << said.join(u'\n').toStdString();
    EXPECT_EQ(server.numbers(), u"S1,S2");
}

} // namespace
