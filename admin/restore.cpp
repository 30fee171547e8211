#include "admin/restore.h"

#include "admin/copy_checks.h"
#include "core/failure_codes.h"
#include "core/program_folder.h"
#include "store/server_session.h"
#include "store/store_choice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace korvela::admin {

using namespace copies;

namespace {

Failure restoreRefused(const QString& text)
{
    return {FailureCode::RestoreRefused, text};
}

} // namespace

bool programRunning(const QString& programFolder)
{
    const QString name = u"korvela-" + programFolderKey(programFolder) + u".lock";
    QStringList places{QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation), QDir::tempPath()};
    for (const QString& session : QDir(QStringLiteral("/run/user")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        places << QStringLiteral("/run/user/") + session;
    for (const QString& runtime : QDir::temp().entryList({QStringLiteral("runtime-*")}, QDir::Dirs))
        places << QDir::temp().filePath(runtime);
    for (const QString& place : places) {
        if (place.isEmpty())
            continue;
        const int fd = ::open(QFile::encodeName(QDir(place).filePath(name)).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        ::close(fd); // closing gives the lock back
        if (held)
            return true;
    }
    return false;
}

Result<RestoreSummary> restoreDataFile(const QString& programFolder, const QString& copy,
                                       const QDateTime& now, const std::function<void(RestoreStep)>& reached)
{
    if (programRunning(programFolder))
        return restoreRefused(QStringLiteral("Korvela 正在这台计算机上运行（程序文件夹 %1）。请先在所有窗口中关闭它，再恢复。")
                                  .arg(programFolder));
    if (!QFileInfo(copy).isFile())
        return restoreRefused(QStringLiteral("找不到副本 %1。").arg(copy));
    if (const std::optional<bool> matches = matchesFingerprint(copy); matches && !*matches)
        return restoreRefused(QStringLiteral("副本 %1 已损坏：与它的校验值文件 %1.sha256 不符。未作任何改动。").arg(copy));
    {
        // Read as it lies, without a write-ahead log or locks beside it.
        const QString uri = u"file:" +
                            QString::fromLatin1(QUrl::toPercentEncoding(QFileInfo(copy).absoluteFilePath(), "/")) +
                            u"?immutable=1";
        Result<SqliteFile> check = openSqlite(uri, SqliteFile::Access::ReadOnly);
        if (!check)
            return restoreRefused(check.failure().description);
        const Result<QString> sound = integrity(*check);
        if (!sound || *sound != u"ok")
            return restoreRefused(QStringLiteral("副本 %1 未通过完整性检查（%2）。未作任何改动。")
                                      .arg(copy, sound ? *sound : sound.failure().description));
    }

    const QString data = databasePath(programFolder);
    const QString restoring = data + u".restoring";
    QFile::remove(restoring);
    if (!QFile::copy(copy, restoring))
        return restoreRefused(QStringLiteral("无法把副本复制到 %1。未作任何改动。").arg(restoring));
    Checksum reports;
    {
        Result<SqliteFile> restored = openSqlite(restoring, SqliteFile::Access::ReadWrite);
        if (!restored)
            return restored.failure();
        // The program's database is in WAL mode, as setup makes it.
        if (Status s = exec(*restored, "PRAGMA journal_mode=WAL", QStringLiteral("无法整理副本")); !s)
            return s.failure();
        Result<Checksum> sum = tableChecksum(*restored);
        if (!sum) {
            QFile::remove(restoring);
            return restoreRefused(QStringLiteral("副本中没有可读的报告数据表 A：%1").arg(sum.failure().description));
        }
        reports = *sum;
    }
    syncFile(restoring);
    reached(RestoreStep::Copied);

    RestoreSummary summary{reports, {}};
    if (QFileInfo::exists(data)) {
        // Whatever the write-ahead log holds goes into the file first, so the file kept aside is
        // the whole database and no log of it stays behind for the copy.
        {
            Result<SqliteFile> current = openSqlite(data, SqliteFile::Access::ReadWrite);
            if (!current)
                return current.failure();
            if (Status s =
                    exec(*current, "PRAGMA wal_checkpoint(TRUNCATE)", QStringLiteral("无法整理当前数据库"));
                !s)
                return s.failure();
        }
        summary.keptAside = data + u".before-restore-" + now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
        if (::link(QFile::encodeName(data).constData(), QFile::encodeName(summary.keptAside).constData()) != 0 &&
            !QFile::copy(data, summary.keptAside))
            return restoreRefused(QStringLiteral("无法把当前数据库保留为 %1。未作任何改动。").arg(summary.keptAside));
        // The copy takes the database's owner, group and permissions.
        const QFileInfo current(data);
        QFile::setPermissions(restoring, QFile::permissions(data));
        if (::chown(QFile::encodeName(restoring).constData(), current.ownerId(), current.groupId()) != 0) {
            // Only root may give a file away; the restorer's own file is as good then.
        }
    }
    reached(RestoreStep::KeptAside);
    if (::rename(QFile::encodeName(restoring).constData(), QFile::encodeName(data).constData()) != 0)
        return restoreRefused(QStringLiteral("无法把副本放到 %1。数据库未改动。").arg(data));
    syncFile(QFileInfo(data).absolutePath());
    QFile::remove(data + u"-wal");
    QFile::remove(data + u"-shm");
    reached(RestoreStep::Replaced);
    return summary;
}

Result<RestoreSummary> restoreServer(const QString& connection, const QString& dump, bool replace)
{
    if (!QFileInfo(dump).isFile())
        return restoreRefused(QStringLiteral("找不到转储文件 %1。").arg(dump));
    if (const std::optional<bool> matches = matchesFingerprint(dump); matches && !*matches)
        return restoreRefused(QStringLiteral("转储文件 %1 已损坏：与它的校验值文件不符。未作任何改动。").arg(dump));
    const Result<Checksum> inDump = dumpChecksum(dump);
    if (!inDump)
        return restoreRefused(QStringLiteral("转储文件未通过检查：%1 未作任何改动。").arg(inDump.failure().description));

    Result<ServerSession> session = ServerSession::open(connection, std::chrono::seconds(5));
    if (!session)
        return session.failure();
    Result<bool> table = session->reportTableExists();
    if (!table)
        return table.failure();
    if (*table) {
        const Result<QByteArray> held = session->scalar(QStringLiteral("SELECT count(*) FROM a"));
        if (!held)
            return held.failure();
        if (held->toLongLong() > 0 && !replace)
            return restoreRefused(
                QStringLiteral("服务器 %1 上已有 %2 份报告，未作任何改动。要以转储替换它们，请加 --replace。")
                    .arg(session->name(), QString::fromLatin1(*held)));
    }
    if (const QString failed = runTool(QStringLiteral("pg_restore"),
                                       {QStringLiteral("--single-transaction"), QStringLiteral("--clean"),
                                        QStringLiteral("--if-exists"), QStringLiteral("--no-owner"),
                                        QStringLiteral("--no-privileges"), u"--dbname=" + connection, dump});
        !failed.isEmpty())
        return restoreRefused(failed + QStringLiteral(" 服务器上的报告未改动。"));
    const Result<Checksum> restored = session->reportChecksum();
    if (!restored)
        return restored.failure();
    if (!(*restored == *inDump))
        return restoreRefused(QStringLiteral("恢复后服务器上的报告（%1 份）与转储（%2 份）不一致。").arg(restored->count).arg(inDump->count));
    return RestoreSummary{*restored, {}};
}

} // namespace korvela::admin
