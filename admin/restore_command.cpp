#include "admin/restore_command.h"

#include "admin/backup_command.h"
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
        else if (a.startsWith(u"--") || !options.file.isEmpty())
            return usageError(QStringLiteral("restore 不认识“%1”。").arg(a));
        else
            options.file = a;
    }
    if (options.file.isEmpty())
        return usageError(QStringLiteral("restore 需要一个副本文件。"));
    if (options.replace && !serverServiceConfigured())
        return usageError(QStringLiteral("--replace 只用于报告服务器。"));
    return options;
}

int runRestore(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err)
{
    const QString file = QDir::cleanPath(QFileInfo(options.file).absoluteFilePath());
    const Result<RestoreSummary> restored =
        serverServiceConfigured() ? restoreServer(serviceConnection(), file, options.replace)
                                  : restoreDataFile(programFolder, file, QDateTime::currentDateTime());
    if (!restored)
        return failed(err, restored.failure());
    print(out, QStringLiteral("已把 %1 恢复到 %2：%3 份报告。").arg(file, storeName(programFolder)).arg(restored->reports.count));
    if (!restored->keptAside.isEmpty())
        print(out, QStringLiteral("恢复前的数据库保留为 %1。").arg(restored->keptAside));
    return 0;
}

} // namespace korvela::admin
