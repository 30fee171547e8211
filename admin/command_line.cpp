#include "admin/command_line.h"

#include "admin/backup_command.h"

#include "admin/legacy_import.h"
#include "admin/move_to_server.h"
#include "admin/progress.h"
#include "admin/server_init.h"
#include "admin/store_check.h"
#include "core/failure_codes.h"
#include "legacy/legacy_decode.h"
#include "legacy/legacy_process.h"
#include "store/store_choice.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <optional>
#include <unistd.h>

namespace korvela::admin {

void print(std::FILE* to, const QString& text)
{
    const QByteArray bytes = (text + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), to);
    std::fflush(to);
}

namespace {

int failed(std::FILE* err, const Failure& failure)
{
    print(err, QStringLiteral("错误：%1").arg(failure.description));
    return kExitFailed;
}

Status requireService()
{
    if (serverServiceConfigured())
        return {};
    return Failure{
        FailureCode::NoServerService,
        QStringLiteral("没有配置报告服务器：以下文件中都没有连接服务 [%1]：%2。请先在其中之一写入这一节"
                       "（host、port、dbname、user 等），见 man korvela-admin。")
            .arg(QString::fromLatin1(kServiceName), serviceFiles().join(QStringLiteral("、")))};
}

int serverInit(std::FILE* out, std::FILE* err)
{
    if (Status s = requireService(); !s)
        return failed(err, s.failure());
    Result<ServerInitOutcome> r = initServer(serviceConnection());
    if (!r)
        return failed(err, r.failure());
    print(out, r->created ? QStringLiteral("已在服务器 %1 上建立报告数据表 a 及其索引。").arg(r->server)
                          : QStringLiteral("服务器 %1 上已有报告数据表 a，未作任何改动。").arg(r->server));
    return 0;
}

int moveToServer(const Invocation& invocation, const QString& folder, std::FILE* out, std::FILE* err)
{
    if (Status s = requireService(); !s)
        return failed(err, s.failure());
    MoveOptions options;
    options.sourceFile = QDir::cleanPath(
        QFileInfo(invocation.file.isEmpty() ? databasePath(folder) : invocation.file).absoluteFilePath());
    options.connection = serviceConnection();
    options.add = invocation.add;
    ProgressDisplay progress(err);
    Result<MoveSummary> r =
        moveToServer(options, [&](MovePhase phase, std::int64_t done, std::int64_t total) {
            progress.show(phase, done, total);
        });
    progress.finish();
    if (!r)
        return failed(err, r.failure());
    const double perSecond = r->seconds > 0 ? double(r->copied.count) / r->seconds : 0;
    print(out,
          QStringLiteral(
              "已将 %1 份报告从 %2 复制到服务器 %3（服务器上原有 %4 份）。两端的报告数与校验和一致（%5）。"
              "用时 %6 秒，每秒 %7 份。")
              .arg(QString::number(r->copied.count), options.sourceFile, r->server,
                   QString::number(r->serverReportsBefore), r->copied.text(),
                   QString::number(r->seconds, 'f', 1), QString::number(qint64(perSecond))));
    return 0;
}

int check(const QString& folder, std::FILE* out, std::FILE* err)
{
    const CheckReport report = checkConfiguredStore(folder);
    const QString counted = report.reports >= 0 ? QStringLiteral("共有 %1 份报告").arg(report.reports)
                                                : QStringLiteral("报告数无法清点");
    if (report.ok()) {
        print(out, QStringLiteral("%1 完好，%2。").arg(report.store, counted));
        return 0;
    }
    for (const QString& problem : report.problems)
        print(err, QStringLiteral("问题：%1").arg(problem));
    print(err, QStringLiteral("检查 %1 发现 %2 个问题，%3。")
                   .arg(report.store, QString::number(report.problems.size()), counted));
    return kExitFailed;
}

Failure usage(const QString& text)
{
    return {0, text};
}

// The hidden subcommand the import runs to read the old database in a process of its own.
constexpr char16_t kLegacyReader[] = u"legacy-reader";
// Files with fewer reports are read before a bar would be worth drawing.
constexpr std::int64_t kProgressFrom = 3000;

int importLegacyCommand(const Invocation& invocation, const QString& folder, std::FILE* out, std::FILE* err)
{
    ImportOptions options;
    options.file = invocation.legacyFile;
    options.codePage = invocation.codePage;
    options.check = invocation.check;
    options.programFolder = folder;
    options.reader = {QCoreApplication::applicationFilePath(), QString::fromUtf16(kLegacyReader)};
    const MovePhase phase = invocation.check ? MovePhase::Checking : MovePhase::Copying;
    const bool terminal = isatty(fileno(err)) == 1;
    std::optional<ProgressDisplay> progress;
    Result<ImportSummary> r = importLegacy(options, [&](std::int64_t done, std::int64_t total) {
        if (!terminal || total < kProgressFrom)
            return;
        if (!progress)
            progress.emplace(err);
        progress->show(phase, done, total);
    });
    if (progress)
        progress->finish();
    if (!r)
        return failed(err, r.failure());
    const QString source = QStringLiteral("%1（Jet %2）").arg(QDir::cleanPath(QFileInfo(options.file).absoluteFilePath()),
                                                             QString::number(r->jetVersion));
    const QString refused = QString::number(qsizetype(r->refused.size()));
    if (invocation.check)
        print(out, QStringLiteral("检查完毕，未写入任何内容。旧数据库 %1中有 %2 份报告：导入时将新增 %3 份，"
                                  "%4 份已在报告数据库中（不会重复添加），%5 份无法导入。报告数据库：%6。")
                       .arg(source, QString::number(r->read), QString::number(r->added),
                            QString::number(r->present), refused, r->store));
    else
        print(out, QStringLiteral("已从旧数据库 %1读出 %2 份报告：新增 %3 份，%4 份已在报告数据库中（未重复添加），"
                                  "%5 份未能导入。报告数据库：%6。用时 %7 秒。")
                       .arg(source, QString::number(r->read), QString::number(r->added),
                            QString::number(r->present), refused, r->store, QString::number(r->seconds, 'f', 1)));
    if (r->complete())
        return 0;
    for (const RefusedReport& report : r->refused)
        print(err, QStringLiteral("%1：第 %2 份报告（筛查编号 %3，姓名 %4）：%5。")
                       .arg(invocation.check ? QStringLiteral("无法导入") : QStringLiteral("未能导入"),
                            QString::number(report.ordinal), report.key, report.name, report.reason));
    print(err, invocation.check
                   ? QStringLiteral("有 %1 份报告无法导入（原因见上）。").arg(refused)
                   : QStringLiteral("有 %1 份报告未能导入（原因见上），其余报告已导入。这些报告仍在旧数据库中。")
                         .arg(refused));
    return kExitFailed;
}

// import-legacy FILE [--check] [--codepage CP]
Result<Invocation> parseImportLegacy(const QStringList& arguments)
{
    Invocation invocation;
    invocation.command = Command::ImportLegacy;
    bool options = true;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (options && (a == u"--help" || a == u"-h"))
            return Invocation{};
        if (options && a == u"--") {
            options = false;
        } else if (options && a == u"--check") {
            invocation.check = true;
        } else if (options && (a == u"--codepage" || a.startsWith(u"--codepage="))) {
            QString page;
            if (a == u"--codepage") {
                if (i + 1 >= arguments.size())
                    return usage(QStringLiteral("选项 --codepage 后面需要一个代码页（如 936）。"));
                page = arguments[++i];
            } else
                page = a.mid(11);
            if (!legacy::CodePage::open(page))
                return usage(QStringLiteral("未知的代码页：%1（可用如 936、GBK、GB18030、950、1252）。").arg(page));
            invocation.codePage = page;
        } else if (options && (a == u"--add" || a == u"--file" || a.startsWith(u"--file="))) {
            return usage(QStringLiteral("选项 %1 只能用于 move-to-server。").arg(a.section(u'=', 0, 0)));
        } else if (options && a.startsWith(u'-') && a.size() > 1) {
            return usage(QStringLiteral("未知选项：%1").arg(a));
        } else if (invocation.legacyFile.isEmpty() && !a.isEmpty()) {
            invocation.legacyFile = a;
        } else {
            return usage(QStringLiteral("多余的参数：%1").arg(a));
        }
    }
    if (invocation.legacyFile.isEmpty())
        return usage(QStringLiteral("import-legacy 后面需要旧数据库文件的路径（旧程序的 Data.Dat）。"));
    return invocation;
}

} // namespace

Result<Invocation> parseArguments(const QStringList& arguments)
{
    Invocation invocation;
    if (arguments.isEmpty())
        return invocation;
    const QString& name = arguments.first();
    if (name == u"help" || name == u"--help" || name == u"-h")
        return invocation;
    if (name == u"import-legacy")
        return parseImportLegacy(arguments);
    if (name == kLegacyReader) {
        if (arguments.size() != 3)
            return usage(QStringLiteral("%1 需要文件和代码页两个参数。").arg(name));
        invocation.command = Command::LegacyReader;
        invocation.legacyFile = arguments[1];
        invocation.codePage = arguments[2];
        return invocation;
    }
    if (name == u"server-init")
        invocation.command = Command::ServerInit;
    else if (name == u"move-to-server")
        invocation.command = Command::MoveToServer;
    else if (name == u"check")
        invocation.command = Command::Check;
    else if (name.startsWith(u'-'))
        return usage(QStringLiteral("未知选项：%1").arg(name));
    else
        return usage(QStringLiteral("未知的子命令：%1").arg(name));

    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == u"--help" || a == u"-h")
            return Invocation{};
        if (a == u"--check" || a == u"--codepage" || a.startsWith(u"--codepage="))
            return usage(QStringLiteral("选项 %1 只能用于 import-legacy。").arg(a.section(u'=', 0, 0)));
        const bool isFile = a == u"--file" || a.startsWith(u"--file=");
        if ((a == u"--add" || isFile) && invocation.command != Command::MoveToServer)
            return usage(QStringLiteral("选项 %1 只能用于 move-to-server。").arg(a.section(u'=', 0, 0)));
        if (a == u"--add") {
            invocation.add = true;
        } else if (isFile) {
            QString path;
            if (a == u"--file") {
                if (i + 1 >= arguments.size())
                    return usage(QStringLiteral("选项 --file 后面需要一个文件路径。"));
                path = arguments[++i];
            } else
                path = a.mid(7);
            if (path.isEmpty())
                return usage(QStringLiteral("选项 --file 后面需要一个文件路径。"));
            invocation.file = path;
        } else if (a.startsWith(u'-'))
            return usage(QStringLiteral("未知选项：%1").arg(a));
        else
            return usage(QStringLiteral("多余的参数：%1").arg(a));
    }
    return invocation;
}

QString programFolder(const QString& executableFolder)
{
    const QString home = qEnvironmentVariable("KORVELA_HOME");
    return QDir::cleanPath(QDir(home.isEmpty() ? executableFolder : home).absolutePath());
}

QString usageText(const QString& programFolder)
{
    return QStringLiteral("用法：korvela-admin <子命令> [选项]\n"
                          "\n"
                          "把科室的报告搬到报告服务器上，并检查报告数据库。\n"
                          "\n"
                          "子命令：\n"
                          "  server-init\n"
                          "      在连接服务 korvela 所指的服务器上建立报告数据表 a 及其索引；\n"
                          "      表 a 已存在时不作任何改动，可以重复运行。数据库的编码必须为 UTF8。\n"
                          "  move-to-server [--add] [--file 文件]\n"
                          "      把 Data.Dat 中的全部报告按录入顺序复制到服务器上，在一个事务中完成：\n"
                          "      全部成功，或全部撤销。文件只被读取，Korvela 可以同时在使用它。\n"
                          "      --add         服务器上已有报告时仍然复制，追加在已有报告之后\n"
                          "      --file 文件   要复制的文件（默认：程序文件夹中的 Data/Data.Dat）\n"
                          "  import-legacy 文件 [--check] [--codepage 代码页]\n"
                          "      把旧程序的报告数据库（Windows 上的 Data\\Data.Dat，Jet 数据库）中表 A 的全部报告\n"
                          "      按原来的顺序加入正在使用的报告数据库，在一个事务中完成：出错时一份也不加入。\n"
                          "      可以重复运行：27 项值完全相同的报告视为同一份，已有的不再添加。\n"
                          "      --check       读出并检查全部报告，说明导入时会怎样，不写入任何内容\n"
                          "      --codepage 代码页  Jet 3（Access 97）文件中文字的代码页（默认 936，即 GBK）\n"
                          "  check\n"
                          "      检查正在使用的报告数据库（配置了连接服务 korvela 时为服务器，\n"
                          "      否则为程序文件夹中的 Data/Data.Dat），并显示报告数。\n"
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
        .arg(programFolder, serviceFiles().join(QStringLiteral("、"))).arg(backupUsageText());
}

int runInvocation(const Invocation& invocation, const QString& folder, std::FILE* out, std::FILE* err)
{
    switch (invocation.command) {
    case Command::Help:
        print(out, usageText(folder));
        return 0;
    case Command::ServerInit:
        return serverInit(out, err);
    case Command::MoveToServer:
        return moveToServer(invocation, folder, out, err);
    case Command::Check:
        return check(folder, out, err);
    case Command::ImportLegacy:
        return importLegacyCommand(invocation, folder, out, err);
    case Command::LegacyReader:
        return legacy::serveLegacyReader(invocation.legacyFile, invocation.codePage, out);
    }
    return kExitFailed;
}

} // namespace korvela::admin
