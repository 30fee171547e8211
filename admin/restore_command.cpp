#include "admin/restore_command.h"

#include "admin/backup.h"
#include "admin/restore.h"
#include "store/store_choice.h"

#include <QDir>
#include <QFileInfo>

namespace korvela::admin {

Result<Options> parseRestore(const QStringList& arguments)
{
    Options options;
    for (const QString& a : arguments) {
        if (isHelp(a))
            return helpAsked();
        if (a == u"--replace")
            options.replace = true;
        else if (a == u"--force")
            options.force = true;
        else if (a.startsWith(u"--") || !options.file.isEmpty())
            return usageError(QStringLiteral("restore 不认识“%1”。").arg(a));
        else
            options.file = a;
    }
    if (options.file.isEmpty())
        return usageError(QStringLiteral("restore 需要一个副本文件。"));
    return options;
}

int runRestore(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err)
{
    const Result<StoreChoice> store = chooseStore(programFolder);
    if (!store)
        return failed(err, store.failure());
    const bool server = store->kind == StoreChoice::Kind::Server;
    // Options only a server has are a wrong command line for a file, as if misspelt.
    if (!server && (options.replace || options.force)) {
        print(err, QStringLiteral("错误：%1 只用于报告服务器。\n运行 korvela-admin --help 查看用法。")
                       .arg(options.replace ? u"--replace" : u"--force"));
        return kExitUsage;
    }
    const QString file = QDir::cleanPath(QFileInfo(options.file).absoluteFilePath());
    const QDateTime now = QDateTime::currentDateTime();
    const Result<RestoreSummary> restored =
        server ? restoreServer(serviceConnection(), file,
                               {options.replace, options.force, defaultBackupFolder(programFolder), now,
                                [err](const QString& doing) { print(err, doing); }})
               : restoreDataFile(programFolder, file, now);
    if (!restored)
        return failed(err, restored.failure());
    print(out, QStringLiteral("已把 %1 恢复到%2：%3 份报告。").arg(file, store->description()).arg(restored->reports.count));
    if (!restored->keptAside.isEmpty())
        print(out, (server ? QStringLiteral("恢复前服务器上的报告保留在转储 %1 中。")
                           : QStringLiteral("恢复前的数据库保留为 %1。"))
                       .arg(restored->keptAside.join(QStringLiteral("、"))));
    return 0;
}

} // namespace korvela::admin
