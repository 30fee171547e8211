#include "admin/legacy_command.h"

#include "admin/legacy_import.h"
#include "admin/progress.h"
#include "legacy/legacy_decode.h"
#include "legacy/legacy_process.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <optional>
#include <unistd.h>

namespace korvela::admin {

namespace {

// Files with fewer reports are read before a bar would be worth drawing.
constexpr std::int64_t kProgressFrom = 3000;

} // namespace

Result<Options> parseImportLegacy(const QStringList& arguments)
{
    Options invocation;
    bool options = true;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (options && isHelp(a))
            return helpAsked();
        if (options && a == u"--") {
            options = false;
        } else if (options && a == u"--check") {
            invocation.check = true;
        } else if (options && (a == u"--codepage" || a.startsWith(u"--codepage="))) {
            const std::optional<QString> page = optionValue(arguments, i);
            if (!page)
                return usageError(QStringLiteral("选项 --codepage 后面需要一个代码页（如 936）。"));
            if (!legacy::CodePage::open(*page))
                return usageError(QStringLiteral("未知的代码页：%1（可用如 936、GBK、GB18030、950、1252）。").arg(*page));
            invocation.codePage = *page;
        } else if (options && (a == u"--add" || a == u"--file" || a.startsWith(u"--file="))) {
            return usageError(QStringLiteral("选项 %1 只能用于 move-to-server。").arg(a.section(u'=', 0, 0)));
        } else if (options && a.startsWith(u'-') && a.size() > 1) {
            return usageError(QStringLiteral("未知选项：%1").arg(a));
        } else if (invocation.file.isEmpty() && !a.isEmpty()) {
            invocation.file = a;
        } else {
            return usageError(QStringLiteral("多余的参数：%1").arg(a));
        }
    }
    if (invocation.file.isEmpty())
        return usageError(QStringLiteral("import-legacy 后面需要旧数据库文件的路径（旧程序的 Data.Dat）。"));
    return invocation;
}

int runImportLegacy(const Options& invocation, const QString& folder, std::FILE* out, std::FILE* err)
{
    ImportOptions options;
    options.file = invocation.file;
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

Result<Options> parseLegacyReader(const QStringList& arguments)
{
    // Two arguments are always the file and the code page, whatever the file is called.
    if (arguments.size() == 1 && isHelp(arguments.first()))
        return helpAsked();
    if (arguments.size() != 2)
        return usageError(QStringLiteral("%1 需要文件和代码页两个参数。").arg(QString::fromUtf16(kLegacyReader)));
    Options options;
    options.file = arguments[0];
    options.codePage = arguments[1];
    return options;
}

int runLegacyReader(const Options& options, const QString&, std::FILE* out, std::FILE*)
{
    return legacy::serveLegacyReader(options.file, options.codePage, out);
}

} // namespace korvela::admin
