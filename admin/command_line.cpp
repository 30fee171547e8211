#include "admin/command_line.h"

#include "admin/backup_command.h"
#include "admin/history_commands.h"
#include "admin/restore_command.h"
#include "admin/legacy_command.h"
#include "admin/store_commands.h"
#include "admin/upgrade.h"
#include "store/store_choice.h"

#include <QDir>

namespace korvela::admin {

namespace {

// The name and the synopsis, as the usage's line of a subcommand.
QString synopsisLine(const Subcommand& subcommand)
{
    return subcommand.synopsis.isEmpty() ? subcommand.name
                                         : QString(subcommand.name + u' ' + subcommand.synopsis);
}

QString indented(const QString& lines, const QString& indent)
{
    QString text;
    for (const QString& line : lines.split(u'\n'))
        text += indent + line + u'\n';
    return text;
}

} // namespace

const std::vector<Subcommand>& subcommands()
{
    static const std::vector<Subcommand> table{
        {QStringLiteral("server-init"),
         {},
         QStringLiteral("在连接服务 korvela 所指的服务器上建立报告数据表 a 及其索引和修改记录；\n"
                        "表 a 已存在时不作任何改动，可以重复运行。数据库的编码必须为 UTF8。"),
         parseWithoutOptions,
         runServerInit},
        {QStringLiteral("upgrade"),
         QStringLiteral("[--file 文件]"),
         QStringLiteral("把正在使用的报告数据库（文件或服务器）的结构升级到本程序的版本，在一个事务中完成：\n"
                        "全部报告保留不变，此后每份报告的新建、修改、删除都记入修改记录，查询、查看、打印、\n"
                        "导出记入访问记录。已是最新版本时不作任何改动，可以重复运行。\n"
                        "--file 文件   升级这个报告数据库文件（安装和 setup 用它升级程序文件夹中的 Data/Data.Dat）"),
         parseUpgrade,
         runUpgrade},
        {QStringLiteral("move-to-server"),
         QStringLiteral("[--add] [--file 文件]"),
         QStringLiteral("把 Data.Dat 中的全部报告按录入顺序复制到服务器上，在一个事务中完成：\n"
                        "全部成功，或全部撤销。文件只被读取，Korvela 可以同时在使用它。\n"
                        "--add         服务器上已有报告时仍然复制，追加在已有报告之后\n"
                        "--file 文件   要复制的文件（默认：程序文件夹中的 Data/Data.Dat）"),
         parseMoveToServer,
         runMoveToServer},
        {QStringLiteral("import-legacy"),
         QStringLiteral("文件 [--check] [--codepage 代码页]"),
         QStringLiteral("把旧程序的报告数据库（Windows 上的 Data\\Data.Dat，Jet 数据库）中表 A 的全部报告\n"
                        "按原来的顺序加入正在使用的报告数据库，在一个事务中完成：出错时一份也不加入。\n"
                        "可以重复运行：27 项值完全相同的报告视为同一份，已有的不再添加。\n"
                        "--check       读出并检查全部报告，说明导入时会怎样，不写入任何内容\n"
                        "--codepage 代码页  Jet 3（Access 97）文件中文字的代码页（默认 936，即 GBK）"),
         parseImportLegacy,
         runImportLegacy},
        {QStringLiteral("check"),
         {},
         QStringLiteral("检查正在使用的报告数据库（配置了连接服务 korvela 时为服务器，\n"
                        "否则为程序文件夹中的 Data/Data.Dat），并显示报告数；重新计算修改记录与\n"
                        "访问记录的校验链，并核对每份报告与它在修改记录中的最新版本。"),
         parseWithoutOptions,
         runCheck},
        {QStringLiteral("history"),
         QStringLiteral("筛查编号 [--json]"),
         QStringLiteral("列出这个筛查编号的报告的每一次改动，最早的在前，供脚本读取：一行标题，其后每次改动一行，\n"
                        "以制表符分隔：seq、时间（UTC 与本地）、操作、修改人、工作站、行号、改动的栏目。\n"
                        "--json        以 JSON 输出，并含每次改动前后的全部 27 项值"),
         parseHistory,
         runHistory},
        {QStringLiteral("add-user"),
         QStringLiteral("角色名 [--password]"),
         QStringLiteral("（仅用于报告服务器）为一个人建立自己的登录角色，属于组角色 korvela_staff，\n"
                        "修改记录由此记下是谁改动了报告。角色名通常就是这个人的 Linux 用户名。\n"
                        "--password    生成一个随机密码并只显示这一次；不给出时角色没有密码\n"
                        "              （以 peer、证书或 Kerberos 登录）"),
         parseAddUser,
         runAddUser},
        {QStringLiteral("remove-user"),
         QStringLiteral("角色名"),
         QStringLiteral("（仅用于报告服务器）删除 add-user 建立的登录角色；数据库的所有者和不属于\n"
                        "korvela_staff 的角色不会被删除。修改记录中以它记下的行保持不变。"),
         parseRemoveUser,
         runRemoveUser},
        {QStringLiteral("backup"),
         QStringLiteral("[--to 文件夹] [--status] [--scheduled] [--allow-shrink]"),
         QStringLiteral("为正在使用的报告数据库做一份经过检查的副本。报告份数不到上次成功备份时的一半，\n"
                        "或上次备份的是报告服务器而这次找不到连接服务 korvela 时，拒绝备份。\n"
                        "--to 文件夹     副本放在这个文件夹中（须已存在，不会自动建立；\n"
                        "                默认：程序文件夹中的 Data/backup）\n"
                        "--status        显示最近一次成功备份的时间、所备份的数据库和报告份数\n"
                        "--scheduled     定时备份：副本按保留规则轮换（最近 14 天每天一份、\n"
                        "                此前 12 个月每月一份）；其他副本名为 -manual，不会被删除\n"
                        "--allow-shrink  报告份数不到上次成功备份时的一半也照样备份"),
         parseBackup,
         runBackup},
        {QStringLiteral("restore"),
         QStringLiteral("副本文件 [--replace] [--force]"),
         QStringLiteral("用副本替换 Data/Data.Dat（Korvela 在这台计算机上运行时拒绝）；当前的数据库\n"
                        "（无论是否完好）连同其 -wal、-shm 保留为 Data.Dat.before-restore-时间。\n"
                        "报告服务器：其他会话连接着数据库时拒绝并列出它们；恢复前先把服务器上现有的\n"
                        "报告转储到 Data/backup 中（korvela-时间-before-restore.dump）；其他会话持有锁\n"
                        "超过 10 秒时放弃恢复并列出它们，服务器上的报告不变。\n"
                        "--replace     服务器上已有报告时，以转储替换它们\n"
                        "--force       其他会话连接着数据库时也恢复"),
         parseRestore,
         runRestore},
        {QString::fromUtf16(kLegacyReader),
         QStringLiteral("文件 代码页"),
         QStringLiteral("由 import-legacy 在单独的进程中运行，不供直接使用：读出旧数据库文件中表 A 的\n"
                        "全部报告，以数据帧写到标准输出。代码页用于 Jet 3（Access 97）文件中的文字。"),
         parseLegacyReader,
         runLegacyReader,
         true},
    };
    return table;
}

const Subcommand* findSubcommand(const QString& name)
{
    for (const Subcommand& subcommand : subcommands())
        if (subcommand.name == name)
            return &subcommand;
    return nullptr;
}

QString usageText(const QString& programFolder)
{
    QString listed;
    for (const Subcommand& subcommand : subcommands())
        if (!subcommand.hidden)
            listed += u"  " + synopsisLine(subcommand) + u'\n' +
                      indented(subcommand.description, QStringLiteral("      "));
    return QStringLiteral("用法：korvela-admin <子命令> [选项]\n"
                          "\n"
                          "把科室的报告搬到报告服务器上，并检查报告数据库。\n"
                          "\n"
                          "子命令：\n"
                          "%3"
                          "  help, --help\n"
                          "      显示本说明。\n"
                          "\n"
                          "程序文件夹：环境变量 KORVELA_HOME，未设置时为 korvela-admin 所在的文件夹\n"
                          "（现在是 %1）。\n"
                          "连接服务 korvela 在以下文件之一中定义：%2。\n"
                          "\n"
                          "退出状态：0 全部成功；1 操作失败或检查发现问题；2 命令行有误，未作任何操作。\n"
                          "详见 man korvela-admin。")
        .arg(programFolder, serviceFiles().join(QStringLiteral("、")), listed);
}

QString usageText(const Subcommand& subcommand)
{
    return u"用法：korvela-admin " + synopsisLine(subcommand) + u"\n\n" +
           indented(subcommand.description, QStringLiteral("  ")) + u"\n详见 man korvela-admin。";
}

QString programFolder(const QString& executableFolder)
{
    const QString home = qEnvironmentVariable("KORVELA_HOME");
    return QDir::cleanPath(QDir(home.isEmpty() ? executableFolder : home).absolutePath());
}

} // namespace korvela::admin
