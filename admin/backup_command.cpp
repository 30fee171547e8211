#include "admin/backup_command.h"

#include "admin/backup.h"
#include "store/store_choice.h"

#include <QDir>
#include <QFileInfo>

namespace korvela::admin {

QString storeName(const QString& programFolder)
{
    return serverServiceConfigured() ? QStringLiteral("报告服务器（连接服务 korvela）") : databasePath(programFolder);
}

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
        else if (a == u"--to" && i + 1 < arguments.size())
            options.backupFolder = arguments[++i];
        else if (a.startsWith(u"--to="))
            options.backupFolder = a.mid(5);
        else
            return usageError(QStringLiteral("backup 不认识“%1”。").arg(a));
    }
    return options;
}

int runBackup(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err)
{
    const QString folder = QDir::cleanPath(
        QFileInfo(options.backupFolder.value_or(defaultBackupFolder(programFolder))).absoluteFilePath());
    if (options.status) {
        const BackupStatus s = readBackupStatus(folder);
        if (!s.lastGood) {
            print(out, QStringLiteral("%1 中还没有经过检查的副本。").arg(folder));
        } else {
            print(out, QStringLiteral("最近一次成功备份：%1，%2 份报告，副本 %3。")
                           .arg(s.lastGood->toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                           .arg(s.lastGoodReports)
                           .arg(s.lastGoodFile));
        }
        if (s.lastFailed)
            print(out, QStringLiteral("此后 %1 的备份失败：%2")
                           .arg(s.lastFailed->toString(QStringLiteral("yyyy-MM-dd HH:mm")), s.lastFailure));
        return s.lastGood && !s.lastFailed ? 0 : kExitFailed;
    }

    const QDateTime now = QDateTime::currentDateTime();
    const CopyKind kind = options.scheduled ? CopyKind::Scheduled : CopyKind::ByHand;
    const Result<BackupSummary> made = serverServiceConfigured()
                                           ? backupServer(serviceConnection(), folder, now, kind)
                                           : backupDataFile(databasePath(programFolder), folder, now, kind);
    if (!made) {
        recordBackupFailure(folder, now, made.failure().description);
        print(err, QStringLiteral("错误：%1 的备份失败，没有删除任何旧副本：%2")
                       .arg(storeName(programFolder), made.failure().description));
        return kExitFailed;
    }
    recordBackup(folder, now, made->made);
    print(out, QStringLiteral("已备份 %1：%2 份报告，副本 %3，已检查（完整，报告份数与校验和 %4 与备份时一致）。")
                   .arg(storeName(programFolder))
                   .arg(made->made.reports.count)
                   .arg(made->made.file, made->made.reports.text()));
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
