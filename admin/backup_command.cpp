#include "admin/backup_command.h"

#include "admin/backup.h"
#include "admin/restore.h"
#include "admin/command_line.h"
#include "store/store_choice.h"

#include <QDir>
#include <QFileInfo>

namespace korvela::admin {

namespace {

int usage(std::FILE* err, const QString& text)
{
    print(err, QStringLiteral("错误：%1\n运行 korvela-admin --help 查看用法。").arg(text));
    return kExitUsage;
}

QString store(const QString& programFolder)
{
    return serverServiceConfigured() ? QStringLiteral("报告服务器（连接服务 korvela）") : databasePath(programFolder);
}

int backup(const QStringList& options, const QString& programFolder, std::FILE* out, std::FILE* err)
{
    QString folder = defaultBackupFolder(programFolder);
    bool status = false;
    for (qsizetype i = 0; i < options.size(); ++i) {
        const QString& a = options[i];
        if (a == u"--status")
            status = true;
        else if (a == u"--to" && i + 1 < options.size())
            folder = options[++i];
        else if (a.startsWith(u"--to="))
            folder = a.mid(5);
        else
            return usage(err, QStringLiteral("backup 不认识“%1”。").arg(a));
    }
    folder = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    if (status) {
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
    const Result<BackupSummary> made = serverServiceConfigured()
                                           ? backupServer(serviceConnection(), folder, now)
                                           : backupDataFile(databasePath(programFolder), folder, now);
    if (!made) {
        recordBackupFailure(folder, now, made.failure().description);
        print(err, QStringLiteral("错误：%1 的备份失败，没有删除任何旧副本：%2")
                       .arg(store(programFolder), made.failure().description));
        return kExitFailed;
    }
    recordBackup(folder, now, made->made);
    print(out, QStringLiteral("已备份 %1：%2 份报告，副本 %3，已检查（完整，报告份数与校验和 %4 与备份时一致）。")
                   .arg(store(programFolder))
                   .arg(made->made.reports.count)
                   .arg(made->made.file, made->made.reports.text()));
    if (made->removed.isEmpty())
        print(out, QStringLiteral("没有需要删除的旧副本。"));
    else
        print(out, QStringLiteral("按保留规则（最近 14 天每天一份、此前 12 个月每月一份）删除了 %1 份旧副本：%2")
                       .arg(made->removed.size())
                       .arg(made->removed.join(QStringLiteral("、"))));
    return 0;
}

int restore(const QStringList& options, const QString& programFolder, std::FILE* out, std::FILE* err)
{
    QString file;
    bool replace = false;
    for (const QString& a : options) {
        if (a == u"--replace")
            replace = true;
        else if (a.startsWith(u"--") || !file.isEmpty())
            return usage(err, QStringLiteral("restore 不认识“%1”。").arg(a));
        else
            file = a;
    }
    if (file.isEmpty())
        return usage(err, QStringLiteral("restore 需要一个副本文件。"));
    file = QDir::cleanPath(QFileInfo(file).absoluteFilePath());
    const bool server = serverServiceConfigured();
    if (replace && !server)
        return usage(err, QStringLiteral("--replace 只用于报告服务器。"));
    const Result<RestoreSummary> restored = server ? restoreServer(serviceConnection(), file, replace)
                                                   : restoreDataFile(programFolder, file, QDateTime::currentDateTime());
    if (!restored) {
        print(err, QStringLiteral("错误：%1").arg(restored.failure().description));
        return kExitFailed;
    }
    print(out, QStringLiteral("已把 %1 恢复到 %2：%3 份报告。").arg(file, store(programFolder)).arg(restored->reports.count));
    if (!restored->keptAside.isEmpty())
        print(out, QStringLiteral("恢复前的数据库保留为 %1。").arg(restored->keptAside));
    return 0;
}

} // namespace

std::optional<int> runBackupCommands(const QStringList& arguments, const QString& programFolder, std::FILE* out,
                                     std::FILE* err)
{
    const QString name = arguments.value(0);
    if (name == u"backup")
        return backup(arguments.mid(1), programFolder, out, err);
    if (name == u"restore")
        return restore(arguments.mid(1), programFolder, out, err);
    return std::nullopt;
}

QString backupUsageText()
{
    return QStringLiteral("  backup [--to 文件夹] [--status]\n"
                          "      为正在使用的报告数据库做一份经过检查的副本（默认放在程序文件夹的\n"
                          "      Data/backup 中），然后按保留规则删除旧副本：最近 14 天每天一份、\n"
                          "      此前 12 个月每月一份。--status 显示最近一次成功备份的时间。\n"
                          "  restore 副本文件 [--replace]\n"
                          "      用副本替换 Data/Data.Dat（Korvela 在这台计算机上运行时拒绝）；当前的\n"
                          "      数据库保留为 Data.Dat.before-restore-时间。报告服务器上已有报告时，\n"
                          "      须加 --replace 才以转储替换它们。\n");
}

} // namespace korvela::admin
