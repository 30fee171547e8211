#pragma once

#include "core/database.h"

#include <functional>
#include <unordered_map>

namespace korvela {

// The rows a store copied out of one query, with their lower-case column names.
class Snapshot
{
public:
    virtual ~Snapshot() = default;
    virtual std::size_t rows() const = 0;
    virtual const std::vector<QString>& columns() const = 0;
    virtual Value value(std::size_t row, int column) const = 0;
};

// The result set both stores give: a store runs the query and copies its rows (`Fetch`); moving,
// reading and writing back are the same whatever the store. Rows are written back by the column
// "rowid", which a set that is to be updated must select.
class SnapshotResultSet final : public ResultSet
{
public:
    using Fetch = std::function<Result<std::unique_ptr<Snapshot>>(const Statement&)>;

    SnapshotResultSet(ReportDatabase& db, QString table, Fetch fetch);

    Status open(const Statement& statement) override;
    bool isOpen() const override { return m_rows != nullptr; }
    void close() override;

    int recordCount() const override { return m_rows ? int(m_rows->rows()) : 0; }
    bool hasCurrentRow() const override { return m_rows && m_position >= 0 && m_position < recordCount(); }
    Status moveFirst() override;
    Status movePrevious() override { return moveBy(-1); }
    Status moveNext() override { return moveBy(+1); }

    Result<Value> field(const QString& name) const override;

    Status addNew() override;
    Status setField(const QString& name, const Value& value) override;
    Status update() override;
    void cancelUpdate() override;

private:
    int columnIndex(const QString& lowerName) const;
    Status moveBy(int step);

    ReportDatabase& m_db;
    QString m_table;
    Fetch m_fetch;
    std::unique_ptr<Snapshot> m_rows;
    // What this set wrote back, by cell, so the snapshot shows it.
    std::unordered_map<std::size_t, Value> m_edits;
    int m_position = -1;
    bool m_adding = false;
    std::vector<std::pair<QString, Value>> m_pending;
};

// Column and table names are ours (never typed by a user); still, only plain identifiers reach
// SQL text.
bool isIdentifier(const QString& name);

Failure notOpenFailure();

} // namespace korvela
