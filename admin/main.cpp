// korvela-admin: the administrator's command for a department's report store (see
// korvela-admin.1).
#include "admin/command_line.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvela-admin"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVELA_VERSION));
    using namespace korvela::admin;

    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString folder = programFolder(QCoreApplication::applicationDirPath());
    const QString name = arguments.value(0);
    if (arguments.isEmpty() || name == u"help" || isHelp(name)) {
        print(stdout, usageText(folder));
        return 0;
    }
    const Subcommand* subcommand = findSubcommand(name);
    const QString unknown =
        name.startsWith(u'-') ? QStringLiteral("未知选项：%1") : QStringLiteral("未知的子命令：%1");
    const korvela::Result<Options> options =
        subcommand ? subcommand->parse(arguments.mid(1)) : usageError(unknown.arg(name));
    if (!options) {
        print(stderr, QStringLiteral("错误：%1\n运行 korvela-admin --help 查看用法。")
                          .arg(options.failure().description));
        return kExitUsage;
    }
    if (options->help) {
        print(stdout, usageText(*subcommand));
        return 0;
    }
    return subcommand->run(*options, folder, stdout, stderr);
}
