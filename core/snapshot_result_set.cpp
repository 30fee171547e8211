#include "core/snapshot_result_set.h"

#include <algorithm>

namespace korvela {

namespace {

Failure noSuchField(const QString& name)
{
    return {FailureCode::NoSuchField, QStringLiteral("记录集中没有字段“%1”。").arg(name)};
}

} // namespace

Failure notOpenFailure()
{
    return {FailureCode::DatabaseNotOpen, QStringLiteral("数据库连接或记录集未打开。")};
}

SnapshotResultSet::SnapshotResultSet(ReportDatabase& db, Fetch fetch)
    : m_db(db)
    , m_fetch(std::move(fetch))
{}

Status SnapshotResultSet::open(const Statement& statement)
{
    close();
    if (!m_db.isOpen())
        return notOpenFailure();
    Result<std::unique_ptr<Snapshot>> rows = m_fetch(statement);
    if (!rows)
        return rows.failure();
    m_rows = std::move(*rows);
    m_position = recordCount() > 0 ? 0 : -1;
    return {};
}

void SnapshotResultSet::close()
{
    m_rows.reset();
    m_position = -1;
}

Status SnapshotResultSet::moveFirst()
{
    if (!m_rows)
        return notOpenFailure();
    m_position = recordCount() > 0 ? 0 : -1;
    return {};
}

Status SnapshotResultSet::moveBy(int step)
{
    if (!m_rows)
        return notOpenFailure();
    // Off either end the set stands on no row: -1 before the first, the count past the last.
    if (m_position < 0 && step < 0)
        return {};
    if (m_position >= recordCount() && step > 0)
        return {};
    m_position = std::clamp(m_position + step, -1, recordCount());
    return {};
}

int SnapshotResultSet::columnIndex(const QString& lowerName) const
{
    const std::vector<QString>& names = m_rows->columns();
    for (std::size_t c = 0; c < names.size(); ++c)
        if (names[c] == lowerName)
            return int(c);
    return -1;
}

Result<Value> SnapshotResultSet::field(const QString& name) const
{
    if (!m_rows)
        return notOpenFailure();
    if (!hasCurrentRow())
        return Failure{FailureCode::NoCurrentRow, QStringLiteral("当前没有记录（已在第一条之前或最后一条之后）。")};
    // Callers name columns in lower case; only another spelling costs a conversion.
    int column = columnIndex(name);
    if (column < 0)
        column = columnIndex(name.toLower());
    if (column < 0)
        return noSuchField(name);
    return m_rows->value(std::size_t(m_position), column);
}

} // namespace korvela
