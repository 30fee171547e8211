#include "admin/upgrade.h"

#include "core/failure_codes.h"
#include "records/history_schema.h"
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
    if (*version < kSchemaVersion)
        for (const QString& statement : historySchema(db.dialect()))
            if (Status s = db.execute({statement, {}}); !s)
                return rolledBack(s.failure());
    if (Status s = db.commit(); !s)
        return rolledBack(s.failure());
    return UpgradeOutcome{*version, kSchemaVersion};
}

int runUpgrade(const Options&, const QString& programFolder, std::FILE* out, std::FILE* err)
{
    const Result<StoreChoice> choice = chooseStore(programFolder);
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
