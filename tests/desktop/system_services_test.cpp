#include "desktop/linux_system_services.h"

#include <QProcess>
#include <QThread>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace korvela;

TEST(SingleInstance, SecondHolderIsRefusedUntilTheFirstEnds)
{
    QTemporaryDir dir;
    const QString lock = dir.path() + u"/k.lock";
    auto first = std::make_unique<LinuxSystemServices>(dir.path(), lock);
    LinuxSystemServices second(dir.path(), lock);
    ASSERT_TRUE(first->acquireSingleInstance());
    EXPECT_TRUE(first->acquireSingleInstance()) << "asking again keeps the lock";
    EXPECT_FALSE(second.acquireSingleInstance());
    first.reset();
    EXPECT_TRUE(second.acquireSingleInstance());
}

// A process that dies holding the lock (no clean-up code runs) never blocks the next start.
TEST(SingleInstance, LockOfAKilledProcessIsReleased)
{
    QTemporaryDir dir;
    const QString lock = dir.path() + u"/k.lock";
    QProcess holder;
    holder.start(QStringLiteral("flock"), {QStringLiteral("-o"), lock, QStringLiteral("sleep"), QStringLiteral("30")});
    ASSERT_TRUE(holder.waitForStarted());
    // flock(1) takes the lock shortly after it starts; wait for that.
    const auto lockTaken = [&] {
        LinuxSystemServices probe(dir.path(), lock);
        return !probe.acquireSingleInstance();
    };
    for (int i = 0; i < 100 && !lockTaken(); ++i)
        QThread::msleep(20);
    LinuxSystemServices blocked(dir.path(), lock);
    EXPECT_FALSE(blocked.acquireSingleInstance());
    holder.kill();
    holder.waitForFinished();
    EXPECT_TRUE(blocked.acquireSingleInstance());
}

TEST(SingleInstance, DefaultLockDependsOnTheProgramFolder)
{
    EXPECT_NE(LinuxSystemServices::defaultLockPath(QStringLiteral("/opt/a")),
              LinuxSystemServices::defaultLockPath(QStringLiteral("/opt/b")));
}

TEST(Files, ExistenceTellsFilesFromFolders)
{
    QTemporaryDir dir;
    LinuxSystemServices sys(dir.path(), dir.path() + u"/l");
    const QString doc = dir.path() + u"/doc";
    EXPECT_FALSE(sys.folderExists(doc));
    ASSERT_TRUE(sys.makeFolder(doc));
    EXPECT_TRUE(sys.folderExists(doc));
    EXPECT_FALSE(sys.fileExists(doc));
    QFile f(dir.path() + u"/Tmp2.Tmp");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
    f.close();
    EXPECT_TRUE(sys.fileExists(f.fileName()));
    ASSERT_TRUE(sys.copyFile(f.fileName(), dir.path() + u"/Tmp1.Tmp"));
    EXPECT_TRUE(sys.deleteFile(dir.path() + u"/Tmp1.Tmp"));
    EXPECT_FALSE(sys.fileExists(dir.path() + u"/Tmp1.Tmp"));
}
