// Backups on real files, a real writer process and the test server.

#include "admin/backup.h"
#include "admin/restore.h"
#include "copy_files.h"
#include "store/store_choice.h"
#include "support/test_server.h"
#include "support/test_store.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <set>

using namespace korvela;
using namespace korvela::admin;
using namespace korvela::test;

namespace {

const QDateTime kNow = kBackupTime;

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

} // namespace
