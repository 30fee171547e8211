#include "admin/backup_command.h"

#include "admin/backup.h"
#include "store/store_choice.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

namespace korvela::admin {

Result<Options> parseBackup(const QStringList& arguments)
{
    Options options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (isHelp(a))
            return helpAsked();
        if (a == u"--status")
            options.status = true;
        else if (a == u"--scheduled")
            options.scheduled = true;
        else if (a == u"--allow-shrink")
            options.allowShrink = true;
        else if (a == u"--to" && i + 1 < arguments.size())
            options.backupFolder = arguments[++i];
        else if (a.startsWith(u"--to="))
            options.backupFolder = a.mid(5);
        else
            return usageError(QStringLiteral("backup 不认识“%1”。").arg(a));
    }
    return options;
}

namespace {

// Whether two existing paths lie on one file system: then one disk's failure takes both.
bool onOneDisk(const QString& a, const QString& b)
{
    struct stat sa = {};
    struct stat sb = {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

int showStatus(const QString& folder, std::FILE* out)
{
    const BackupStatus s = readBackupStatus(folder);
    if (!s.lastGood)
        print(out, QStringLiteral("%1 中还没有经过检查的副本。").arg(folder));
    else if (s.lastGoodStore.isEmpty())
        print(out, QStringLiteral("最近一次成功备份：%1，%2 份报告，副本 %3。")
                       .arg(s.lastGood->toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                       .arg(s.lastGoodReports)
                       .arg(s.lastGoodFile));
    else
        print(out, QStringLiteral("最近一次成功备份：%1，备份的是%2，%3 份报告，副本 %4。")
                       .arg(s.lastGood->toString(QStringLiteral("yyyy-MM-dd HH:mm")), s.lastGoodStore)
                       .arg(s.lastGoodReports)
                       .arg(s.lastGoodFile));
    if (s.lastFailed)
        print(out, QStringLiteral("此后 %1 的备份失败：%2")
                       .arg(s.lastFailed->toString(QStringLiteral("yyyy-MM-dd HH:mm")), s.lastFailure));
    return s.lastGood && !s.lastFailed ? 0 : kExitFailed;
}

} // namespace

int runBackup(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err)
{
    const QString defaultFolder = defaultBackupFolder(programFolder);
    const QString folder =
        QDir::cleanPath(QFileInfo(options.backupFolder.value_or(defaultFolder)).absoluteFilePath());
    if (options.status)
        return showStatus(folder, out);

    const QDateTime now = QDateTime::currentDateTime();
    // The store the programs use, or why there is none: then the backup fails rather than copy
    // another store (a local file the workstations no longer use) and call it good.
    const Result<StoreChoice> choice = chooseStore(programFolder);
    const QString store = choice ? choice->description() : QStringLiteral("报告数据库");
    const auto refuse = [&](const QString& where, const QString& reason) {
        recordBackupFailure(where, now, reason);
        print(err, QStringLiteral("错误：%1 的备份失败，没有删除任何旧副本：%2").arg(store, reason));
        return kExitFailed;
    };
    // A folder given is a backup disk's: when it is missing the disk is not mounted, and a folder
    // made in its place would fill the disk it lies on and vanish under the mount.
    if (options.backupFolder && !QFileInfo(folder).isDir())
        return refuse(defaultFolder,
                      QStringLiteral("备份文件夹 %1 不存在（备份磁盘没有挂载？），没有建立它，也没有备份。")
                          .arg(folder));
    if (!makeBackupFolder(folder))
        return refuse(folder, QStringLiteral("无法建立备份文件夹 %1。").arg(folder));

    if (!choice)
        return refuse(folder, choice.failure().description);
    const BackupStatus last = readBackupStatus(folder);
    const CopiedStore kind = choice->kind == StoreChoice::Kind::Server ? CopiedStore::Server : CopiedStore::File;
    if (last.lastGood && last.lastGoodKind == CopiedStore::Server && kind == CopiedStore::File)
        return refuse(
            folder,
            QStringLiteral(
                "上次成功备份的是报告服务器，这次却找不到连接服务 korvela，只会备份 %1：运行备份的用户"
                "（例如定时器的用户）看不到服务 korvela。请把服务 korvela 写进系统的 "
                "/etc/postgresql-common/pg_service.conf，并给这个用户连接服务器的凭据（例如 ~/.pgpass）。")
                .arg(choice->file));
    BackupConditions conditions;
    if (!options.allowShrink)
        conditions.lastGoodReports = std::uint64_t(last.lastGoodReports);
    const CopyKind copyKind = options.scheduled ? CopyKind::Scheduled : CopyKind::ByHand;
    const Result<BackupSummary> made =
        kind == CopiedStore::Server
            ? backupServer(serviceConnection(), folder, now, copyKind, conditions)
            : backupDataFile(choice->file, folder, now, copyKind, conditions);
    if (!made)
        return refuse(folder, made.failure().description);
    recordBackup(folder, now, made->made, kind, store);
    print(out,
          QStringLiteral("已备份%1：%2 份报告，副本 %3，已检查（完整，报告份数与校验和 %4 与备份时一致）。")
              .arg(store)
              .arg(made->made.reports.count)
              .arg(made->made.file, made->made.reports.text()));
    if (kind == CopiedStore::File && onOneDisk(folder, QFileInfo(choice->file).absolutePath()))
        print(out, QStringLiteral("注意：副本与数据库在同一个磁盘上，这个磁盘损坏时副本会一同丢失；"
                                  "请用 --to 把副本放到另一个磁盘上。"));
    if (!options.scheduled)
        print(out, QStringLiteral("这份副本是手动备份，轮换不会删除它。"));
    else if (made->removed.isEmpty())
        print(out, QStringLiteral("没有需要删除的旧副本。"));
    else
        print(out, QStringLiteral("按保留规则（最近 14 天每天一份、此前 12 个月每月一份）删除了 %1 份旧副本：%2")
                       .arg(made->removed.size())
                       .arg(made->removed.join(QStringLiteral("、"))));
    return 0;
}

} // namespace korvela::admin
