#include "admin/upgrade.h"

#include "core/failure_codes.h"
#include "records/history_schema.h"
#include "records/report_sql.h"
#include "store/admin_store.h"
#include "store/schema_version.h"
#include "store/store_choice.h"

namespace korvela::admin {

Result<UpgradeOutcome> upgradeStore(ReportDatabase& db)
{
    if (Status s = db.begin(); !s)
        return s.failure();
    const auto rolledBack = [&db](const Failure& failure) {
        (void)db.rollback();
        return failure;
    };
    const Result<int> version = schemaVersion(db);
    if (!version)
        return rolledBack(version.failure());
    if (*version > kSchemaVersion)
        return rolledBack(requireCurrentSchema(db).failure());
    // The staff's rights are given again on a store already there, where a restore may have left
    // them out.
    for (const QString& statement :
         *version < kSchemaVersion ? historySchema(db.dialect()) : historyRights(db.dialect()))
        if (Status s = db.execute({statement, {}}); !s)
            return rolledBack(s.failure());
    if (Status s = db.commit(); !s)
        return rolledBack(s.failure());
    return UpgradeOutcome{*version, kSchemaVersion};
}

Status recordEveryReport(ReportDatabase& db, const QString& command)
{
    if (Result<UpgradeOutcome> upgraded = upgradeStore(db); !upgraded)
        return upgraded.failure();
    if (Status s = db.begin(); !s)
        return s;
    // Each report rewritten as it is: its history row holds it after the command.
    const Statement statements[] = {ReportSql(db.dialect()).changeContext(command, std::nullopt),
                                    ReportSql::rewriteEveryReport()};
    for (const Statement& statement : statements)
        if (Status s = db.execute(statement); !s) {
            (void)db.rollback();
            return s;
        }
    return db.commit();
}

Result<Options> parseUpgrade(const QStringList& arguments)
{
    Options options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (isHelp(a))
            return helpAsked();
        if (a == u"--file" || a.startsWith(u"--file=")) {
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

int runUpgrade(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err)
{
    StoreChoice named;
    named.file = options.file;
    const Result<StoreChoice> choice = options.file.isEmpty() ? chooseStore(programFolder) : named;
    if (!choice)
        return failed(err, choice.failure());
    Result<std::unique_ptr<AdminStore>> store = openAdminStore(*choice, kReportTableWait, StoreAccess::ReadWrite);
    if (!store)
        return failed(err, store.failure());
    const Result<UpgradeOutcome> upgraded = upgradeStore((*store)->reports());
    if (!upgraded)
        return failed(err, upgraded.failure());
    if (upgraded->from == upgraded->to)
        print(out, QStringLiteral("%1 的结构已是第 %2 版，未作任何改动。").arg((*store)->name()).arg(upgraded->to));
    else
        print(out, QStringLiteral("已把 %1 的结构由第 %2 版升级到第 %3 版：全部报告保留不变，"
                                  "此后每次新建、修改、删除都记入修改记录。")
                       .arg((*store)->name())
                       .arg(upgraded->from)
                       .arg(upgraded->to));
    return 0;
}

} // namespace korvela::admin
