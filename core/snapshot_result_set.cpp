#include "core/snapshot_result_set.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace korvela {

namespace {

Failure noSuchField(const QString& name)
{
    return {FailureCode::NoSuchField, QStringLiteral("记录集中没有字段“%1”。").arg(name)};
}

} // namespace

bool isIdentifier(const QString& name)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return re.match(name).hasMatch();
}

Failure notOpenFailure()
{
    return {FailureCode::DatabaseNotOpen, QStringLiteral("数据库连接或记录集未打开。")};
}

SnapshotResultSet::SnapshotResultSet(ReportDatabase& db, QString table, Fetch fetch)
    : m_db(db)
    , m_table(std::move(table))
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
    m_edits.clear();
    m_position = -1;
    cancelUpdate();
}

Status SnapshotResultSet::moveFirst()
{
    if (!m_rows)
        return notOpenFailure();
    cancelUpdate();
    m_position = recordCount() > 0 ? 0 : -1;
    return {};
}

Status SnapshotResultSet::moveBy(int step)
{
    if (!m_rows)
        return notOpenFailure();
    cancelUpdate();
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
    const std::size_t cell = std::size_t(m_position) * m_rows->columns().size() + std::size_t(column);
    if (const auto edited = m_edits.find(cell); edited != m_edits.end())
        return edited->second;
    return m_rows->value(std::size_t(m_position), column);
}

Status SnapshotResultSet::addNew()
{
    if (!m_rows)
        return notOpenFailure();
    m_pending.clear();
    m_adding = true;
    return {};
}

Status SnapshotResultSet::setField(const QString& name, const Value& value)
{
    if (!m_rows)
        return notOpenFailure();
    if (!isIdentifier(name))
        return noSuchField(name);
    const QString column = name.toLower();
    if (!m_adding && columnIndex(column) < 0)
        return noSuchField(name);
    for (auto& [n, v] : m_pending) {
        if (n == column) {
            v = value;
            return {};
        }
    }
    m_pending.emplace_back(column, value);
    return {};
}

Status SnapshotResultSet::update()
{
    if (!m_rows)
        return notOpenFailure();
    if (m_pending.empty() && !m_adding)
        return {};
    Statement statement;
    QStringList columns;
    for (const auto& [name, value] : m_pending) {
        columns << name;
        statement.args.push_back(value);
    }
    if (m_adding) {
        QStringList marks;
        for (qsizetype i = 1; i <= columns.size(); ++i)
            marks << QStringLiteral("?%1").arg(i);
        statement.sql = columns.isEmpty() ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(m_table)
                                          : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                                .arg(m_table, columns.join(u','), marks.join(u','));
    } else {
        const Result<Value> rowid = hasCurrentRow() ? field(QStringLiteral("rowid")) : Result<Value>(noSuchField({}));
        if (!rowid)
            return Failure{FailureCode::NotUpdatable, QStringLiteral("当前记录无法更新。")};
        QStringList sets;
        for (qsizetype i = 0; i < columns.size(); ++i)
            sets << QStringLiteral("%1=?%2").arg(columns[i]).arg(i + 1);
        statement.sql =
            QStringLiteral("UPDATE %1 SET %2 WHERE rowid=?%3").arg(m_table, sets.join(u',')).arg(columns.size() + 1);
        statement.args.push_back(*rowid);
    }
    if (Status done = m_db.execute(statement); !done)
        return done;
    if (!m_adding) {
        const std::size_t rowStart = std::size_t(m_position) * m_rows->columns().size();
        for (const auto& [name, value] : m_pending)
            m_edits[rowStart + std::size_t(columnIndex(name))] = value;
    }
    cancelUpdate();
    return {};
}

void SnapshotResultSet::cancelUpdate()
{
    m_pending.clear();
    m_adding = false;
}

} // namespace korvela
