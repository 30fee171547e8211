#include "admin/store_commands.h"

#include "admin/move_to_server.h"
#include "admin/progress.h"
#include "admin/server_init.h"
#include "admin/store_check.h"
#include "core/failure_codes.h"
#include "store/store_choice.h"

#include <QDir>
#include <QFileInfo>

namespace korvela::admin {

Status requireService(const QString& programFolder, const QString& onFile)
{
    const Result<StoreChoice> choice = chooseStore(programFolder);
    if (!choice)
        return choice.failure();
    if (choice->kind == StoreChoice::Kind::Server)
        return {};
    if (!onFile.isEmpty())
        return Failure{FailureCode::NoServerService, onFile.arg(choice->file)};
    return Failure{
        FailureCode::NoServerService,
        QStringLiteral("没有配置报告服务器：以下文件中都没有连接服务 [%1]：%2。请先在其中之一写入这一节"
                       "（host、port、dbname、user 等），见 man korvela-admin。")
            .arg(QString::fromLatin1(kServiceName), serviceFiles().join(QStringLiteral("、")))};
}

namespace {

Result<Options> parseStoreOptions(const QStringList& arguments, bool moveOptions)
{
    Options options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (isHelp(a))
            return helpAsked();
        if (a == u"--check" || a == u"--codepage" || a.startsWith(u"--codepage="))
            return usageError(QStringLiteral("选项 %1 只能用于 import-legacy。").arg(a.section(u'=', 0, 0)));
        const bool isFile = a == u"--file" || a.startsWith(u"--file=");
        if ((a == u"--add" || isFile) && !moveOptions)
            return usageError(QStringLiteral("选项 %1 只能用于 move-to-server。").arg(a.section(u'=', 0, 0)));
        if (a == u"--add") {
            options.add = true;
        } else if (isFile) {
            const std::optional<QString> path = optionValue(arguments, i);
            if (!path || path->isEmpty())
                return usageError(QStringLiteral("选项 --file 后面需要一个文件路径。"));
            options.file = *path;
        } else if (a.startsWith(u'-'))
            return usageError(QStringLiteral("未知选项：%1").arg(a));
        else
            return usageError(QStringLiteral("多余的参数：%1").arg(a));
    }
    return options;
}

} // namespace

Result<Options> parseWithoutOptions(const QStringList& arguments)
{
    return parseStoreOptions(arguments, false);
}

Result<Options> parseMoveToServer(const QStringList& arguments)
{
    return parseStoreOptions(arguments, true);
}

int runServerInit(const Options&, const QString& folder, std::FILE* out, std::FILE* err)
{
    if (Status s = requireService(folder); !s)
        return failed(err, s.failure());
    Result<ServerInitOutcome> r = initServer(serviceConnection());
    if (!r)
        return failed(err, r.failure());
    print(out, r->created ? QStringLiteral("已在服务器 %1 上建立报告数据表 a 及其索引。").arg(r->server)
                          : QStringLiteral("服务器 %1 上已有报告数据表 a，未作任何改动。").arg(r->server));
    return 0;
}

int runMoveToServer(const Options& invocation, const QString& folder, std::FILE* out, std::FILE* err)
{
    if (Status s = requireService(folder); !s)
        return failed(err, s.failure());
    const auto cleaned = [](const QString& path) {
        return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    };
    MoveOptions options;
    options.sourceFile = cleaned(invocation.file.isEmpty() ? databasePath(folder) : invocation.file);
    options.connection = serviceConnection();
    options.add = invocation.add;
    options.retire = options.sourceFile == cleaned(databasePath(folder));
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
    if (!r->retiredAs.isEmpty())
        print(out, QStringLiteral(
                       "原报告数据库文件已改名为 %1 保留，Korvela 不会再使用它；各程序从此使用服务器 %2。")
                       .arg(r->retiredAs, r->server));
    if (r->notRetired.isEmpty())
        return 0;
    print(err, QStringLiteral(
                   "报告已复制到服务器，但原报告数据库文件 %1 未改名：%2。在它改名之前，未配置连接服务 %3 "
                   "的用户仍会打开它。")
                   .arg(options.sourceFile, r->notRetired, QString::fromLatin1(kServiceName)));
    return kExitFailed;
}

int runCheck(const Options&, const QString& folder, std::FILE* out, std::FILE* err)
{
    const CheckReport report = checkConfiguredStore(folder);
    QString counted = report.reports >= 0 ? QStringLiteral("共有 %1 份报告").arg(report.reports)
                                          : QStringLiteral("报告数无法清点");
    if (report.historyRows >= 0 && report.accessRows >= 0)
        counted += QStringLiteral("，修改记录 %1 条、访问记录 %2 条").arg(report.historyRows).arg(report.accessRows);
    for (const QString& warning : report.warnings)
        print(err, QStringLiteral("警告：%1").arg(warning));
    if (report.ok()) {
        print(out, QStringLiteral("%1：完好，%2。").arg(report.store, counted));
        return 0;
    }
    for (const QString& problem : report.problems)
        print(err, QStringLiteral("问题：%1").arg(problem));
    print(err, QStringLiteral("检查 %1 发现 %2 个问题，%3。")
                   .arg(report.store, QString::number(report.problems.size()), counted));
    return kExitFailed;
}

} // namespace korvela::admin
