// Backups on real files, a real writer process and the test server.

#include "admin/backup.h"
#include "admin/backup_command.h"
#include "admin/copy_checks.h"
#include "admin/restore.h"
#include "copy_files.h"
#include "store/store_choice.h"
#include "support/test_server.h"
#include "support/test_store.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <set>

using namespace korvela;
using namespace korvela::admin;
using namespace korvela::test;

namespace {

const QDateTime kNow = kBackupTime;

struct Ran
{
    int exitCode;
    QString out, err;
};

// korvela-admin backup with these arguments on a program folder, its output caught.
Ran backupCommand(const TempProgramFolder& folder, const QStringList& arguments)
{
    const Result<Options> options = parseBackup(arguments);
    EXPECT_TRUE(options.ok());
    char *outText = nullptr, *errText = nullptr;
    std::size_t outSize = 0, errSize = 0;
    std::FILE* out = open_memstream(&outText, &outSize);
    std::FILE* err = open_memstream(&errText, &errSize);
    const int exitCode = runBackup(*options, folder.path(), out, err);
    std::fclose(out);
    std::fclose(err);
    Ran ran{exitCode, QString::fromUtf8(outText, qsizetype(outSize)),
            QString::fromUtf8(errText, qsizetype(errSize))};
    std::free(outText);
    std::free(errText);
    return ran;
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
}

// A copy taken while another process saves reports without pause: it passes its checks, and holds
// exactly the reports saved before some moment, each one whole.
TEST(Backup, ACopyTakenWhileAnotherProcessSavesHoldsExactlyTheReportsBeforeSomeMoment)
{
    TempProgramFolder folder;
    QProcess writer;
    writer.start(QStringLiteral(SAVE_LOOP_PATH), {folder.databaseFile(), QStringLiteral("1")});
    int saved = 0;
    while (saved < 300 && writer.waitForReadyRead(10000))
        while (writer.canReadLine())
            saved = writer.readLine().split(' ').value(1).trimmed().toInt();
    ASSERT_GE(saved, 300);
    const Result<BackupSummary> made = backupDataFile(folder.databaseFile(), folder.path() + u"/backup", kNow);
    writer.kill();
    writer.waitForFinished();
    ASSERT_TRUE(made.ok()) << made.failure().description.toStdString();
    EXPECT_TRUE(made->made.file.endsWith(u"/backup/Data-2026-12-10-0315-manual.Dat"));

    const FileState copy = readFile(made->made.file);
    EXPECT_TRUE(copy.whole);
    ASSERT_GE(copy.numbers.size(), 300);
    EXPECT_EQ(qsizetype(made->made.reports.count), copy.numbers.size());
    for (qsizetype i = 0; i < copy.numbers.size(); ++i)
        ASSERT_EQ(copy.numbers[i], QStringLiteral("K%1").arg(i + 1)) << "the saves before some moment, in order";
    EXPECT_EQ(copy.withoutTheirLongText, 0) << "no half report";
    EXPECT_TRUE(QFile::exists(made->made.file + u".sha256"));
}

// Over a year of daily copies (two on some days) the rotation keeps the newest copy of each of
// the 14 newest days and of each of the 12 months before them.
TEST(Backup, RotationKeepsFourteenDailyAndTwelveMonthlyCopies)
{
    QStringList names;
    std::set<QString> expectedKept;
    const QDate last(2026, 12, 10);
    for (QDate d = last.addDays(-400); d <= last; d = d.addDays(1)) {
        names << QStringLiteral("Data-%1-0300.Dat").arg(d.toString(Qt::ISODate));
        if (d.day() % 7 == 0)
            names << QStringLiteral("Data-%1-1500.Dat").arg(d.toString(Qt::ISODate));
    }
    // Copies made by hand or before a restore are the administrator's: no rotation removes them.
    const QStringList administrators{QStringLiteral("Data-2025-01-02-1348-manual.Dat"),
                                     QStringLiteral("korvela-2025-01-02-1349-before-restore.dump")};
    names << QStringLiteral("notes.txt") << QStringLiteral("Data-2026-12-10-0300.Dat.sha256") << administrators;
    for (int i = 0; i < 14; ++i) {
        const QDate d = last.addDays(-i);
        expectedKept.insert(QStringLiteral("Data-%1-%2.Dat").arg(d.toString(Qt::ISODate), d.day() % 7 == 0 ? u"1500" : u"0300"));
    }
    // The months of the copies older than those 14 days: their newest copy each.
    const QDate firstDaily = last.addDays(-13);
    for (int m = 0; m < 12; ++m) {
        const QDate month = QDate(firstDaily.year(), firstDaily.month(), 1).addMonths(-m);
        const QDate newest = m == 0 ? firstDaily.addDays(-1) : month.addDays(month.daysInMonth() - 1);
        expectedKept.insert(
            QStringLiteral("Data-%1-%2.Dat").arg(newest.toString(Qt::ISODate), newest.day() % 7 == 0 ? u"1500" : u"0300"));
    }
    const QStringList removed = copiesToRemove(names);
    std::set<QString> kept;
    for (const QString& n : names)
        if (!removed.contains(n) && n.endsWith(u".Dat") && !administrators.contains(n))
            kept.insert(n);
    EXPECT_EQ(kept.size(), 26u);
    EXPECT_TRUE(kept == expectedKept) << [&] {
        std::string differ;
        for (const QString& n : kept)
            if (!expectedKept.count(n))
                differ += " kept:" + n.toStdString();
        for (const QString& n : expectedKept)
            if (!kept.count(n))
                differ += " removed:" + n.toStdString();
        return differ;
    }();
    EXPECT_FALSE(removed.contains(QStringLiteral("notes.txt")));
    for (const QString& copy : administrators)
        EXPECT_FALSE(removed.contains(copy)) << copy.toStdString();
    EXPECT_LT(removed.first(), removed.last()) << "oldest first";
}

// The server's copy: pg_dump of one snapshot, checked by reading its rows back; its restore is
// refused on a server holding reports unless told to replace them.
TEST(ServerBackup, DumpAndRestoreThroughTheService)
{
    TestStore store(StoreKind::Server);
    store.exec(QStringLiteral("INSERT INTO a (a1, a3, a13, a4, a15) VALUES ('张三', 'S1', '2024-02-29', E'一\\t二\\r\\n三\\\\', 1),"
                              " ('李四', 'S2', NULL, NULL, 0)"));
    TempProgramFolder folder;
    const Result<BackupSummary> made = backupServer(serviceConnection(), folder.path() + u"/backup", kNow);
    ASSERT_TRUE(made.ok()) << made.failure().description.toStdString();
    EXPECT_TRUE(made->made.file.endsWith(u"/korvela-2026-12-10-0315-manual.dump"));
    EXPECT_EQ(made->made.reports.count, 2u);

    store.exec(QStringLiteral("DELETE FROM a WHERE a3 = 'S1'"));
    // The store's own connection stays open: --force lets the restore past it.
    const Result<RestoreSummary> refused =
        restoreServer(serviceConnection(), made->made.file, {false, true, folder.path() + u"/backup", kNow});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT count(*) FROM a")), u"1");

    const Result<RestoreSummary> restored =
        restoreServer(serviceConnection(), made->made.file, {true, true, folder.path() + u"/backup", kNow});
    ASSERT_TRUE(restored.ok()) << restored.failure().description.toStdString();
    EXPECT_EQ(restored->reports, made->made.reports);
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT a4 FROM a WHERE a3 = 'S1'")), u"一\t二\r\n三\\");
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT count(*) FROM a")), u"2");
}

// A dump that differs from the server's snapshot, count kept, is refused and removed.
TEST(ServerBackup, ADumpThatDiffersFromTheServerIsRefusedAndRemoved)
{
    TestStore store(StoreKind::Server);
    store.exec(QStringLiteral(
        "INSERT INTO a (a1, a3, a13, a15) VALUES ('张三', 'S1', '2024-02-29', 1), ('李四', 'S2', NULL, 0)"));
    TempProgramFolder folder;
    const QString backups = folder.path() + u"/backup";
    BackupConditions conditions;
    conditions.written = [&](const QString& partial) { // the dump of a moment later, one name changed
        store.exec(QStringLiteral("UPDATE a SET a1 = '改过' WHERE a3 = 'S2'"));
        EXPECT_EQ(copies::runTool(QStringLiteral("pg_dump"),
                                  {QStringLiteral("--format=custom"), u"--file=" + partial,
                                   u"--dbname=" + serviceConnection()}),
                  QString());
    };
    const Result<BackupSummary> made =
        backupServer(serviceConnection(), backups, kNow, CopyKind::ByHand, conditions);
    ASSERT_FALSE(made.ok());
    EXPECT_TRUE(made.failure().description.contains(u"转储与服务器不一致（服务器 2 份"))
        << made.failure().description.toStdString();
    EXPECT_EQ(entries(backups), QStringList{});
}

// Each refusal of the command: exit 1, its reason said and kept in the status where the copies
// lie (for a missing backup disk, in the program folder's own backup folder), no copy made and
// none rotated away.
TEST(BackupCommand, RefusesWithItsReasonRecordedAndNoCopyMadeOrRotated)
{
    enum class Setup { MissingFolder, LastGoodOfServer, LastGoodOfFile, DamagedIndex, MisspeltService, MovedToServer };
    struct Case
    {
        const char* name;
        Setup setup;
        QStringList arguments;
        int exitCode;
        const char* said;                   // on the standard error, and the status's failure
        std::uint64_t lastGoodReports = 10; // the store holds 4
    };
    const Case cases[] = {
        {"a --to folder not there",
         Setup::MissingFolder,
         {QStringLiteral("--to"), QStringLiteral("@/disk")},
         1,
         "不存在（备份磁盘没有挂载？），没有建立它"},
        {"the server before, the file now",
         Setup::LastGoodOfServer,
         {},
         1,
         "看不到服务 korvela。请把服务 korvela 写进系统的 /etc/postgresql-common/pg_service.conf"},
        {"fewer than half the reports", Setup::LastGoodOfFile, {}, 1, "不到上次成功备份时（10 份）的一半"},
        {"fewer than half, allowed", Setup::LastGoodOfFile, {QStringLiteral("--allow-shrink")}, 0, ""},
        {"half the reports", Setup::LastGoodOfFile, {}, 0, "", 8},
        {"a damaged index", Setup::DamagedIndex, {}, 1, "副本未通过完整性检查"},
        // The store the workstations use is not this user's to see: nothing else is copied instead.
        {"a misspelt service", Setup::MisspeltService, {}, 1, "中没有定义连接服务 [korvela]"},
        {"the reports moved to a server", Setup::MovedToServer, {}, 1, "搬到数据库服务器上"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempProgramFolder folder;
        addReports(folder,
                   {QStringLiteral("R1"), QStringLiteral("R2"), QStringLiteral("R3"), QStringLiteral("R4")});
        const QString backups = defaultBackupFolder(folder.path());
        ASSERT_TRUE(makeBackupFolder(backups));
        // Two of the timer's copies of one day: a rotation would remove the older.
        const QStringList older{QStringLiteral("Data-2026-01-05-0200.Dat"),
                                QStringLiteral("Data-2026-01-05-0300.Dat")};
        for (const QString& name : older) {
            QFile f(backups + u'/' + name);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        const BackupCopy lastGood{backups + u"/Data-2026-01-05-0300.Dat", {c.lastGoodReports, 0}, 0};
        if (c.setup == Setup::LastGoodOfServer)
            recordBackup(backups, kNow.addDays(-1), lastGood, CopiedStore::Server,
                         QStringLiteral("报告服务器"));
        if (c.setup == Setup::LastGoodOfFile)
            recordBackup(backups, kNow.addDays(-1), lastGood, CopiedStore::File, folder.databaseFile());
        if (c.setup == Setup::DamagedIndex) // the index on A1 said to be on A3: its entries no longer match
            folder.exec(QStringLiteral("PRAGMA writable_schema=ON; UPDATE sqlite_schema SET sql = "
                                       "'CREATE INDEX A_A1 ON A (A3)' WHERE name = 'A_A1'"));
        if (c.setup == Setup::MovedToServer) {
            ASSERT_TRUE(QFile::rename(folder.databaseFile(), folder.databaseFile() + u".moved-to-server-20261209-100000"));
        }
        const QByteArray serviceFile = qgetenv("PGSERVICEFILE");
        if (c.setup == Setup::MisspeltService) {
            QFile f(folder.path() + u"/pg_service.conf");
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("[korvla]\nhost=reports.example\ndbname=korvela\n");
            qputenv("PGSERVICEFILE", QFile::encodeName(f.fileName()));
        }
        QStringList arguments = c.arguments;
        arguments.replaceInStrings(QStringLiteral("@"), folder.path());

        const Ran ran = backupCommand(folder, arguments << QStringLiteral("--scheduled"));
        qputenv("PGSERVICEFILE", serviceFile);
        EXPECT_EQ(ran.exitCode, c.exitCode) << ran.err.toStdString();
        if (c.exitCode == 0) {
            EXPECT_EQ(entries(backups).filter(u"-0200.Dat").size(), 0) << "the older copy of the day rotated";
            continue;
        }
        EXPECT_TRUE(ran.err.contains(QString::fromUtf8(c.said))) << ran.err.toStdString();
        EXPECT_TRUE(readBackupStatus(backups).lastFailure.contains(QString::fromUtf8(c.said)));
        EXPECT_EQ(entries(backups), older + QStringList{QStringLiteral("korvela-backup.status")}) << "nothing else copied";
        EXPECT_FALSE(QFileInfo::exists(folder.path() + u"/disk"));
    }
}

// The summary warns of a copy on the database's own disk, not of one on another; --status names
// the store of the last good copy and its reports.
TEST(BackupCommand, WarnsOfACopyOnTheDatabasesDiskAndStatusNamesTheStore)
{
    const QString warning = QStringLiteral("副本与数据库在同一个磁盘上");
    TempProgramFolder folder;
    addReports(folder, {QStringLiteral("R1"), QStringLiteral("R2"), QStringLiteral("R3")});
    const Ran sameDisk = backupCommand(folder, {});
    ASSERT_EQ(sameDisk.exitCode, 0) << sameDisk.err.toStdString();
    EXPECT_TRUE(sameDisk.out.contains(warning)) << sameDisk.out.toStdString();
    const Ran status = backupCommand(folder, {QStringLiteral("--status")});
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_TRUE(status.out.contains(QStringLiteral("备份的是文件 %1，3 份报告").arg(folder.databaseFile())))
        << status.out.toStdString();

    struct stat shm
    {
    }, here{};
    QTemporaryDir other(QStringLiteral("/dev/shm/korvela-backup-XXXXXX"));
    if (!other.isValid() || ::stat("/dev/shm", &shm) != 0 ||
        ::stat(QFile::encodeName(folder.path()).constData(), &here) != 0 || shm.st_dev == here.st_dev)
        GTEST_SKIP() << "no second file system to put a copy on";
    const Ran otherDisk = backupCommand(folder, {QStringLiteral("--to"), other.path()});
    ASSERT_EQ(otherDisk.exitCode, 0) << otherDisk.err.toStdString();
    EXPECT_FALSE(otherDisk.out.contains(warning));
}

// Whatever the umask: a backup folder made is 2770, copies and fingerprints 0640, the status 0660,
// all of the group korvela when there is one and this process may give it.
TEST(BackupCommand, CopiesAreNeverReadableByOthers)
{
    TempProgramFolder folder;
    addReports(folder, {QStringLiteral("R1")});
    const mode_t umaskBefore = ::umask(0);
    const Ran ran = backupCommand(folder, {});
    ::umask(umaskBefore);
    ASSERT_EQ(ran.exitCode, 0) << ran.err.toStdString();
    const QString backups = defaultBackupFolder(folder.path());
    const group* korvela = ::getgrnam("korvela");
    const auto expect = [&](const QString& path, mode_t mode) {
        struct stat st
        {
        };
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
        EXPECT_EQ(st.st_mode & 07777, mode) << path.toStdString();
        if (korvela && ::geteuid() == 0) {
            EXPECT_EQ(st.st_gid, korvela->gr_gid) << path.toStdString();
        }
    };
    expect(backups, 02770);
    const QStringList files = entries(backups);
    ASSERT_EQ(files.size(), 3) << files.join(u' ').toStdString();
    for (const QString& f : files)
        expect(backups + u'/' + f, f.endsWith(u".status") ? 0660 : 0640);
}

// A copy changed after it was written, one value with the count kept, is refused and removed.
TEST(Backup, ACopyThatDiffersFromTheStoreIsRefusedAndRemoved)
{
    TempProgramFolder folder;
    addReports(folder, {QStringLiteral("R1"), QStringLiteral("R2")});
    BackupConditions conditions;
    conditions.written = [](const QString& partial) {
        EXPECT_TRUE(execOn(partial, "UPDATE A SET A1 = '改过' WHERE A3 = 'R2'"));
    };
    const QString backups = folder.path() + u"/backup";
    const Result<BackupSummary> made =
        backupDataFile(folder.databaseFile(), backups, kNow, CopyKind::ByHand, conditions);
    ASSERT_FALSE(made.ok());
    EXPECT_TRUE(made.failure().description.contains(u"副本与数据库不一致（数据库 2 份"))
        << made.failure().description.toStdString();
    EXPECT_EQ(entries(backups), QStringList{});
}

// A backup that fails writing its copy (the file size limit standing for a full disk) leaves
// nothing behind.
TEST(Backup, AFailedCopyLeavesNothingBehind)
{
    TempProgramFolder folder;
    folder.exec(
        QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
                       "INSERT INTO A (A1, A3, A13, A15) SELECT '患者', 'F' || i, '2024-01-01', 1 FROM n"));
    const QString backups = folder.path() + u"/backup";
    ASSERT_TRUE(makeBackupFolder(backups));
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto signalBefore = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const Result<BackupSummary> made = backupDataFile(folder.databaseFile(), backups, kNow);
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, signalBefore);
    ASSERT_FALSE(made.ok());
    EXPECT_EQ(entries(backups), QStringList{}) << made.failure().description.toStdString();
}

// A second copy in the same minute replaces nothing: the first may be the dump a restore is
// about to read.
TEST(Backup, ACopyOfTheSameNameIsNeverReplaced)
{
    TempProgramFolder folder;
    addReports(folder, {QStringLiteral("R1")});
    const QString backups = folder.path() + u"/backup";
    const Result<BackupSummary> first = backupDataFile(folder.databaseFile(), backups, kNow);
    ASSERT_TRUE(first.ok());
    addReports(folder, {QStringLiteral("R2")});
    const Result<BackupSummary> second = backupDataFile(folder.databaseFile(), backups, kNow);
    ASSERT_FALSE(second.ok());
    EXPECT_TRUE(second.failure().description.contains(u"没有覆盖"));
    EXPECT_EQ(readFile(first->made.file).numbers, QStringList{QStringLiteral("R1")});
    EXPECT_EQ(copies::matchesFingerprint(first->made.file), std::optional<bool>(true));
}

// The source's checksum is read beside the copy on a connection of its own, on the copy's
// snapshot: a save in the moment the two begin waits, and the copy holds what was checksummed.
TEST(Backup, ASaveAsTheCopyAndItsChecksumBeginWaitsForBoth)
{
    TempProgramFolder folder;
    addReports(folder, {QStringLiteral("R1"), QStringLiteral("R2")});
    bool saved = false;
    BackupConditions conditions;
    conditions.reading = [&] { saved = execOn(folder.databaseFile(), "INSERT INTO A (A3) VALUES ('R3')"); };
    const Result<BackupSummary> made =
        backupDataFile(folder.databaseFile(), folder.path() + u"/backup", kNow, CopyKind::ByHand, conditions);
    ASSERT_TRUE(made.ok()) << made.failure().description.toStdString();
    EXPECT_FALSE(saved) << "a save committed between the beginnings of the two reads";
    EXPECT_EQ(made->made.reports.count, 2u);
}

} // namespace
