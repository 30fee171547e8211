// Backups and restores on real files, a real writer process and the test server.

#include "admin/backup.h"
#include "admin/restore.h"
#include "desktop/linux_system_services.h"
#include "store/store_choice.h"
#include "support/temp_database.h"
#include "support/test_server.h"
#include "support/test_store.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <set>

using namespace korvela;
using namespace korvela::admin;
using namespace korvela::test;

namespace {

const QDateTime kNow(QDate(2026, 12, 10), QTime(3, 15));

// The screening numbers in a database file, and whether it is whole.
struct FileState
{
    bool whole = false;
    QStringList numbers;
    int withoutTheirLongText = 0; // the writer's reports all carry one
};

FileState readFile(const QString& path)
{
    FileState state;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
            state.whole = qstrcmp(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "ok") == 0;
        sqlite3_finalize(s);
        if (sqlite3_prepare_v2(db, "SELECT A3, coalesce(length(A5), 0) FROM A ORDER BY rowid", -1, &s, nullptr) ==
            SQLITE_OK)
            while (sqlite3_step(s) == SQLITE_ROW) {
                state.numbers << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
                state.withoutTheirLongText += sqlite3_column_int(s, 1) <= 2000;
            }
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return state;
}

void addReports(const TempProgramFolder& folder, const QStringList& numbers)
{
    for (const QString& n : numbers)
        folder.exec(QStringLiteral("INSERT INTO A (A1, A3, A13, A15) VALUES ('患者', '%1', '2024-01-01', 1)").arg(n));
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
    EXPECT_TRUE(made->made.file.endsWith(u"/backup/Data-2026-12-10-0315.Dat"));

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
    names << QStringLiteral("notes.txt") << QStringLiteral("Data-2026-12-10-0300.Dat.sha256");
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
        if (!removed.contains(n) && n.endsWith(u".Dat"))
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
    EXPECT_LT(removed.first(), removed.last()) << "oldest first";
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
    EXPECT_EQ(readFile(restored->keptAside).numbers, QStringList{QStringLiteral("R2")});
    EXPECT_EQ(folder.scalar(QStringLiteral("PRAGMA journal_mode")), u"wal");
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
        EXPECT_TRUE(QDir(folder.path() + u"/Data").entryList({QStringLiteral("*before-restore*")}).isEmpty());
    };
    {
        LinuxSystemServices running(folder.path());
        ASSERT_TRUE(running.acquireSingleInstance());
        EXPECT_TRUE(programRunning(folder.path()));
        const Result<RestoreSummary> r = restoreDataFile(folder.path(), made->made.file, kNow);
        ASSERT_FALSE(r.ok());
        EXPECT_TRUE(r.failure().description.contains(u"正在这台计算机上运行"));
        unchanged();
    }
    EXPECT_FALSE(programRunning(folder.path()));

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

// A restore killed at any point leaves a whole database: the old one, or the copy.
TEST(Restore, KilledAtAnyPointLeavesEitherTheOldOrTheNewDatabaseWhole)
{
    for (const char* point : {"copied", "kept", "replaced"}) {
        SCOPED_TRACE(point);
        TempProgramFolder folder;
        addReports(folder, {QStringLiteral("OLD1")});
        const Result<BackupSummary> made = backupDataFile(folder.databaseFile(), folder.path() + u"/backup", kNow);
        ASSERT_TRUE(made.ok());
        folder.exec(QStringLiteral("UPDATE A SET A3 = 'NEW1'"));
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
        EXPECT_TRUE(now.numbers == QStringList{QStringLiteral("OLD1")} || now.numbers == QStringList{QStringLiteral("NEW1")})
            << now.numbers.join(u',').toStdString();
        EXPECT_EQ(now.numbers.value(0), std::strcmp(point, "replaced") == 0 ? u"OLD1" : u"NEW1");
    }
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
    EXPECT_TRUE(made->made.file.endsWith(u"/korvela-2026-12-10-0315.dump"));
    EXPECT_EQ(made->made.reports.count, 2u);

    store.exec(QStringLiteral("DELETE FROM a WHERE a3 = 'S1'"));
    const Result<RestoreSummary> refused = restoreServer(serviceConnection(), made->made.file, false);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT count(*) FROM a")), u"1");

    const Result<RestoreSummary> restored = restoreServer(serviceConnection(), made->made.file, true);
    ASSERT_TRUE(restored.ok()) << restored.failure().description.toStdString();
    EXPECT_EQ(restored->reports, made->made.reports);
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT a4 FROM a WHERE a3 = 'S1'")), u"一\t二\r\n三\\");
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT count(*) FROM a")), u"2");
}

} // namespace
