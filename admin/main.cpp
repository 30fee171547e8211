// korvela-admin: the administrator's command for a department's report store (see
// korvela-admin.1).
#include "admin/backup_command.h"
#include "admin/command_line.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvela-admin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVELA_VERSION));
    using namespace korvela::admin;

    const QString folder = programFolder(QCoreApplication::applicationDirPath());
    if (const std::optional<int> status = runBackupCommands(QCoreApplication::arguments().mid(1), folder, stdout, stderr))
        return *status;
    const korvela::Result<Invocation> invocation = parseArguments(QCoreApplication::arguments().mid(1));
    if (!invocation) {
        const QByteArray text = (QStringLiteral("错误：%1\n运行 korvela-admin --help 查看用法。\n")
                                     .arg(invocation.failure().description))
                                    .toUtf8();
        std::fwrite(text.constData(), 1, std::size_t(text.size()), stderr);
        return kExitUsage;
    }
    return runInvocation(*invocation, folder, stdout, stderr);
}
