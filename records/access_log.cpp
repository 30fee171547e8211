#include "records/access_log.h"

namespace korvela {

namespace {

template <typename T> Value orNull(const std::optional<T>& value)
{
    if (!value)
        return std::monostate{};
    return *value;
}

} // namespace

AccessLog::AccessLog(ReportDatabase& db)
    : m_db(db)
{
}

void AccessLog::searched(const QString& conditions, int count)
{
    const QString found = QStringLiteral("共 %1 条").arg(count);
    m_queued.push_back(
        {QStringLiteral("查询"), std::nullopt, conditions.isEmpty() ? found : conditions + u"; " + found});
}

void AccessLog::viewed(std::int64_t reportId)
{
    m_queued.push_back({QStringLiteral("查看"), reportId, std::nullopt});
}

void AccessLog::printed(std::optional<std::int64_t> reportId)
{
    m_queued.push_back({QStringLiteral("打印"), reportId, std::nullopt});
}

void AccessLog::exported(std::optional<std::int64_t> reportId, const QString& fileName)
{
    m_queued.push_back({QStringLiteral("导出"), reportId, fileName});
}

Statement AccessLog::statement(const Access& access) const
{
    Statement s;
    s.args.push_back(access.event);
    if (m_db.dialect() == SqlDialect::Postgres) {
        // The report travels as an array of one row id; a null array is a row without a report.
        s.sql = QStringLiteral("SELECT korvela_log_access(?1, ?2::bigint[], ?3)");
        s.args.push_back(access.reportId ? Value(QStringLiteral("{%1}").arg(*access.reportId)) : Value());
    } else {
        // The file's trigger on access_log fills in the rest and chains the row.
        s.sql = QStringLiteral("INSERT INTO access_log (event, report_id, detail) VALUES (?1, ?2, ?3)");
        s.args.push_back(orNull(access.reportId));
    }
    s.args.push_back(orNull(access.detail));
    return s;
}

Status AccessLog::flush()
{
    if (m_queued.empty() || m_db.inTransaction())
        return {};
    if (Status s = m_db.begin(); !s)
        return s;
    for (const Access& access : m_queued) {
        if (Status s = m_db.execute(statement(access)); !s) {
            (void)m_db.rollback();
            return s;
        }
    }
    if (Status s = m_db.commit(); !s) {
        (void)m_db.rollback();
        return s;
    }
    m_queued.clear();
    return {};
}

} // namespace korvela
