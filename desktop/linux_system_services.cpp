#include "desktop/linux_system_services.h"

#include "core/program_folder.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <QUrl>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

namespace korvela {

LinuxSystemServices::LinuxSystemServices(QString programFolder, QString lockPath)
    : m_programFolder(std::move(programFolder))
    , m_lockPath(lockPath.isEmpty() ? defaultLockPath(m_programFolder) : std::move(lockPath))
{}

LinuxSystemServices::~LinuxSystemServices()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

QString LinuxSystemServices::defaultLockPath(const QString& programFolder)
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + u"/korvela-" + programFolderKey(programFolder) + u".lock";
}

// flock() belongs to the open file: the kernel drops it when the process ends in any way.
bool LinuxSystemServices::acquireSingleInstance()
{
    if (m_lockFd >= 0)
        return true;
    const int fd = ::open(QFile::encodeName(m_lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return true; // no place for a lock must not keep the department from its reports
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_lockFd = fd;
    return true;
}

int LinuxSystemServices::screenWidth() const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().width() : 0;
}

bool LinuxSystemServices::fileExists(const QString& path) const
{
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

bool LinuxSystemServices::folderExists(const QString& path) const
{
    return QFileInfo(path).isDir();
}

bool LinuxSystemServices::makeFolder(const QString& path)
{
    return QDir().mkdir(path);
}

bool LinuxSystemServices::deleteFile(const QString& path)
{
    return QFile::remove(path);
}

bool LinuxSystemServices::copyFile(const QString& from, const QString& to)
{
    return QFile::copy(from, to);
}

void LinuxSystemServices::openUrl(const QString& url)
{
    QDesktopServices::openUrl(QUrl(url));
}

void LinuxSystemServices::endProgram(int exitCode)
{
    if (QCoreApplication::instance()) {
        QCoreApplication::exit(exitCode);
        return;
    }
    std::exit(exitCode);
}

} // namespace korvela
