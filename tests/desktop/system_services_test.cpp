#include "desktop/linux_system_services.h"

#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

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

namespace {

// A child process holding the program's lock, killed and reaped in every path out of the test.
class LockHolder
{
public:
    LockHolder() = default;
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
    ~LockHolder() { killAndReap(); }

    // Forks a child that takes the lock through the program's own code and then waits to be
    // killed. True once the child says it holds the lock.
    bool start(const QString& programFolder, const QString& lock)
    {
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0)
            return false;
        const pid_t parent = ::getpid();
        m_pid = ::fork();
        if (m_pid < 0) {
            ::close(ready[0]);
            ::close(ready[1]);
            return false;
        }
        if (m_pid == 0) {
            // Dies with the test program, so no run ever leaves it behind.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(1);
            ::close(ready[0]);
            LinuxSystemServices holder(programFolder, lock);
            const char held = holder.acquireSingleInstance() ? 'y' : 'n';
            if (::write(ready[1], &held, 1) != 1)
                ::_exit(1);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        pollfd answer{ready[0], POLLIN, 0};
        char held = 0;
        const bool answered = ::poll(&answer, 1, 30000) == 1 && ::read(ready[0], &held, 1) == 1;
        ::close(ready[0]);
        return answered && held == 'y';
    }

    // Kills the child without letting it run any code of its own and waits until it is gone, so
    // the kernel has closed its files. Gives the status waitpid() reported.
    int killAndReap()
    {
        int status = 0;
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
            m_pid = -1;
        }
        return status;
    }

private:
    pid_t m_pid = -1;
};

} // namespace

// A process that dies holding the lock (no clean-up code runs) never blocks the next start.
TEST(SingleInstance, LockOfAKilledProcessIsReleased)
{
    QTemporaryDir dir;
    const QString lock = dir.path() + u"/k.lock";
    LockHolder holder;
    ASSERT_TRUE(holder.start(dir.path(), lock)) << "the child did not take the lock";
    LinuxSystemServices blocked(dir.path(), lock);
    EXPECT_FALSE(blocked.acquireSingleInstance());
    const int status = holder.killAndReap();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
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
