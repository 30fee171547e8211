#include "admin/restore.h"

#include "admin/backup.h"
#include "admin/copy_checks.h"
#include "admin/upgrade.h"
#include "core/failure_codes.h"
#include "core/program_folder.h"
#include "store/admin_store.h"
#include "store/postgres_database.h"
#include "store/server_session.h"
#include "store/sqlite_database.h"
#include "store/store_choice.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QScopeGuard>
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

using Rename = std::function<bool(const QString& from, const QString& to)>;

// The database and what SQLite keeps beside it: the write-ahead log and its shared memory.
const QString kDatabaseSet[] = {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")};

// Folds the write-ahead log into the database file when it can, so the file kept aside is the whole
// database and no log goes with it. SQLite writes the log's pages into the file and syncs it before
// the log is emptied (when this last connection closes), so the database is whole at every instant.
// It never waits: what it cannot fold (a damaged database, no database at all, pages a reader's
// older snapshot still needs) stays in the log, which then goes aside with the database.
void foldLogIn(const QString& data)
{
    if (!QFileInfo::exists(data) || !QFileInfo::exists(data + u"-wal"))
        return;
    if (Result<SqliteFile> current = openSqlite(data, SqliteFile::Access::ReadWrite))
        (void)exec(*current, "PRAGMA wal_checkpoint(PASSIVE)", {});
}

// Gives back the names the files kept aside had.
void putBack(const QString& data, const QString& aside, const QStringList& kept, const Rename& rename)
{
    for (const QString& file : kept) {
        const QString suffix = file.mid(aside.size());
        if (suffix.isEmpty())
            QFile::remove(file); // a second name: the database never left its own
        else
            (void)rename(file, data + suffix);
    }
}

// Gives each file of the database set at `data` the name `aside` with the same suffix, so the set
// kept opens as it was. The database keeps its own name as well (a hard link, or a copy where the
// file system has none) until the copy takes it, so Data.Dat is never missing; the log and the
// shared memory move, so the copy is never read with the old database's log. Where a log could not
// be folded in, Data.Dat is alone for the moment until the copy takes its name: whole, as far as it
// was folded; the set kept aside holds all of it.
Result<QStringList> keepAside(const QString& data, const QString& aside, const Rename& rename)
{
    QStringList kept;
    for (const QString& suffix : kDatabaseSet) {
        const QString from = data + suffix, to = aside + suffix;
        if (!QFileInfo::exists(from))
            continue;
        const bool done = suffix.isEmpty() ? ::link(QFile::encodeName(from).constData(),
                                                    QFile::encodeName(to).constData()) == 0 ||
                                                 QFile::copy(from, to)
                                           : rename(from, to);
        if (!done) {
            putBack(data, aside, kept, rename);
            return restoreRefused(QStringLiteral("无法把当前数据库保留为 %1。未作任何改动。").arg(to));
        }
        kept << to;
    }
    return kept;
}

} // namespace

bool RestoreHooks::renameFile(const QString& from, const QString& to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

bool programRunning(const QString& programFolder, const QString& sessionsRoot)
{
    const QString name = u"korvela-" + programFolderKey(programFolder) + u".lock";
    QStringList places{QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation), QDir::tempPath()};
    for (const QString& session : QDir(sessionsRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        places << QDir(sessionsRoot).filePath(session);
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

Result<RestoreSummary> restoreDataFile(const QString& programFolder, const QString& copy, const QDateTime& now,
                                       const RestoreHooks& hooks)
{
    if (programRunning(programFolder, hooks.sessionsRoot))
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
    // No half-made copy stays behind, whichever way the restore ends; once in place it has no
    // such name any more.
    const auto removeRestoring = qScopeGuard([&] { QFile::remove(restoring); });
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
        if (!sum)
            return restoreRefused(QStringLiteral("副本中没有可读的报告数据表 A：%1").arg(sum.failure().description));
        reports = *sum;
    }
    {
        // The copy's reports start their history again from here, named by the command.
        SqliteReportDatabase restored;
        Status recorded = restored.open(restoring, kReportTableWait);
        if (recorded)
            recorded = recordEveryReport(restored, QStringLiteral("restore"));
        if (!recorded)
            return restoreRefused(QStringLiteral("无法在副本中记下这次恢复（%1）。未作任何改动。")
                                      .arg(recorded.failure().description));
    }
    if (const QFileInfo current(data); current.exists()) {
        // The copy takes the database's owner, group and permissions.
        QFile::setPermissions(restoring, QFile::permissions(data));
        if (::chown(QFile::encodeName(restoring).constData(), current.ownerId(), current.groupId()) != 0) {
            // Only root may give a file away; the restorer's own file is as good then.
        }
    }
    syncFile(restoring);
    hooks.reached(RestoreStep::Copied);

    foldLogIn(data);
    const QString aside = data + u".before-restore-" + now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const Result<QStringList> kept = keepAside(data, aside, hooks.rename);
    if (!kept)
        return kept.failure();
    hooks.reached(RestoreStep::KeptAside);
    if (!hooks.rename(restoring, data)) {
        putBack(data, aside, *kept, hooks.rename);
        return restoreRefused(QStringLiteral("无法把副本放到 %1。数据库未改动。").arg(data));
    }
    syncFile(QFileInfo(data).absolutePath());
    hooks.reached(RestoreStep::Replaced);
    return RestoreSummary{reports, *kept};
}

Result<RestoreSummary> restoreServer(const QString& connection, const QString& dump, const ServerRestore& how)
{
    if (!QFileInfo(dump).isFile())
        return restoreRefused(QStringLiteral("找不到转储文件 %1。").arg(dump));
    if (const std::optional<bool> matches = matchesFingerprint(dump); matches && !*matches)
        return restoreRefused(QStringLiteral("转储文件 %1 已损坏：与它的校验值文件不符。未作任何改动。").arg(dump));
    const Result<Checksum> inDump = dumpChecksum(dump);
    if (!inDump)
        return restoreRefused(QStringLiteral("转储文件未通过检查：%1 未作任何改动。").arg(inDump.failure().description));

    Result<ServerSession> session = ServerSession::open(connection, kReportTableWait);
    if (!session)
        return session.failure();
    if (!how.force) {
        const Result<std::vector<OtherSession>> others = session->otherSessions();
        if (!others)
            return others.failure();
        if (!others->empty())
            return restoreRefused(
                QStringLiteral("服务器 %1 上还有 %2 个会话连接着报告数据库：%3。请先在这些工作站上关闭 Korvela，"
                               "再恢复；确知可以中断它们时，加 --force。未作任何改动。")
                    .arg(session->name())
                    .arg(others->size())
                    .arg(describeSessions(*others)));
    }
    Result<bool> table = session->reportTableExists();
    if (!table)
        return table.failure();
    RestoreSummary summary;
    if (*table) {
        const Result<QByteArray> held = session->scalar(QStringLiteral("SELECT count(*) FROM a"));
        if (!held)
            return held.failure();
        if (held->toLongLong() > 0 && !how.replace)
            return restoreRefused(
                QStringLiteral("服务器 %1 上已有 %2 份报告，未作任何改动。要以转储替换它们，请加 --replace。")
                    .arg(session->name(), QString::fromLatin1(*held)));
        how.progress(QStringLiteral("正在把服务器上现有的 %1 份报告转储到 %2 中……").arg(QString::fromLatin1(*held), how.backupFolder));
        const Result<BackupSummary> safety = backupServer(connection, how.backupFolder, how.now, CopyKind::BeforeRestore);
        if (!safety)
            return restoreRefused(
                QStringLiteral("无法为服务器上现有的报告做恢复前的副本，未作任何改动：%1").arg(safety.failure().description));
        summary.keptAside << safety->made.file;
    }
    how.progress(QStringLiteral("正在用转储替换服务器上的报告（其他会话持有锁时最多等待 %1 秒）……")
                     .arg(kRestoreLockTimeout.count()));
    // pg_restore sets its session's own lock_timeout to 0, so this session watches it instead, by
    // the name it goes by: a lock it has waited for too long cancels its statement, and its one
    // transaction is rolled back.
    const QString restoreName = QStringLiteral("korvela-admin restore %1").arg(QCoreApplication::applicationPid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PGAPPNAME"), restoreName);
    std::vector<OtherSession> waitedFor;
    const QString failed = runTool(QStringLiteral("pg_restore"),
                                   {QStringLiteral("--single-transaction"), QStringLiteral("--clean"),
                                    QStringLiteral("--if-exists"), QStringLiteral("--no-owner"),
                                    QStringLiteral("--no-privileges"), u"--dbname=" + connection, dump},
                                   environment, [&] {
                                       if (!waitedFor.empty())
                                           return;
                                       if (Result<std::vector<OtherSession>> holding =
                                               session->cancelLockWait(restoreName, kRestoreLockTimeout))
                                           waitedFor = std::move(*holding);
                                   });
    if (!waitedFor.empty())
        return restoreRefused(
            QStringLiteral("等了 %1 秒，其他会话仍持有报告数据库中的锁，恢复已放弃，服务器上的报告未改动。"
                           "持有事务的会话：%2。请在这些工作站上结束正在进行的操作（例如回答“是否更改？”），再恢复。")
                .arg(kRestoreLockTimeout.count())
                .arg(describeSessions(waitedFor)));
    if (!failed.isEmpty())
        return restoreRefused(failed + QStringLiteral(" 服务器上的报告未改动。"));
    const Result<Checksum> restored = session->reportChecksum();
    if (!restored)
        return restored.failure();
    if (!(*restored == *inDump))
        return restoreRefused(QStringLiteral("恢复后服务器上的报告（%1 份）与转储（%2 份）不一致。").arg(restored->count).arg(inDump->count));
    summary.reports = *restored;
    // The restored reports start their history again from here, named by the command; the staff's
    // rights, which a dump does not carry here, are given again.
    PostgresReportDatabase restoredStore;
    Status recorded = restoredStore.open(connection, kReportTableWait);
    if (recorded)
        recorded = recordEveryReport(restoredStore, QStringLiteral("restore"));
    if (!recorded)
        return Failure{recorded.failure().code,
                       QStringLiteral("服务器上的报告已由转储恢复，但未能记入修改记录，工作站的权限也可能未恢复（%1）。"
                                      "请运行 korvela-admin upgrade 后再用 korvela-admin check 检查。")
                           .arg(recorded.failure().description)};
    return summary;
}

} // namespace korvela::admin
