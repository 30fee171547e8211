// Restores of a data file: refusals, what is kept aside, a restore killed at each step.

#include "admin/backup.h"
#include "admin/restore.h"
#include "copy_files.h"
#include "desktop/linux_system_services.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

using namespace korvela;
using namespace korvela::admin;
using namespace korvela::test;

namespace {

const QDateTime kNow = kBackupTime;

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

} // namespace
