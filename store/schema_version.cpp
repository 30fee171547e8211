#include "store/schema_version.h"

namespace korvela {

namespace {

Result<Value> firstValue(ReportDatabase& db, const QString& sql)
{
    const std::unique_ptr<ResultSet> rows = db.createResultSet();
    if (Status s = rows->open({sql, {}}); !s)
        return s.failure();
    if (!rows->hasCurrentRow())
        return Value{};
    return rows->field(QStringLiteral("version"));
}

} // namespace

Result<int> schemaVersion(ReportDatabase& db)
{
    if (db.dialect() == SqlDialect::Postgres) {
        // A server of today's reports has no table korvela_schema yet.
        Result<Value> present = firstValue(
            db, QStringLiteral("SELECT CASE WHEN to_regclass('korvela_schema') IS NULL THEN 0 ELSE 1 END AS version"));
        if (!present)
            return present.failure();
        if (valueToText(*present) != u"1")
            return 0;
    }
    Result<Value> version = firstValue(db, db.dialect() == SqlDialect::Postgres
                                               ? QStringLiteral("SELECT max(version) AS version FROM korvela_schema")
                                               : QStringLiteral("SELECT user_version AS version FROM pragma_user_version"));
    if (!version)
        return version.failure();
    return valueToText(*version).toInt();
}

Status requireCurrentSchema(ReportDatabase& db)
{
    const Result<int> version = schemaVersion(db);
    if (!version)
        return version.failure();
    if (*version < kSchemaVersion)
        return Failure{FailureCode::SchemaVersionOther,
                       QStringLiteral("报告数据库的结构为第 %1 版，本程序需要第 %2 版（保存每份报告的修改记录）。"
                                      "请先运行 korvela-admin upgrade。")
                           .arg(*version)
                           .arg(kSchemaVersion)};
    if (*version > kSchemaVersion)
        return Failure{FailureCode::SchemaVersionOther,
                       QStringLiteral("报告数据库的结构为第 %1 版，由更新的 Korvela 建立；本程序只认识第 %2 版，"
                                      "请安装新版本的 Korvela。")
                           .arg(*version)
                           .arg(kSchemaVersion)};
    return {};
}

} // namespace korvela
