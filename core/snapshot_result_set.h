#pragma once

#include "core/database.h"

#include <functional>

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

// The result set both stores give: a store runs the query and copies its rows (`Fetch`); moving and
// reading are the same whatever the store.
class SnapshotResultSet final : public ResultSet
{
public:
    using Fetch = std::function<Result<std::unique_ptr<Snapshot>>(const Statement&)>;

    SnapshotResultSet(ReportDatabase& db, Fetch fetch);

    Status open(const Statement& statement) override;
    bool isOpen() const override { return m_rows != nullptr; }
    void close() override;

    int recordCount() const override { return m_rows ? int(m_rows->rows()) : 0; }
    bool hasCurrentRow() const override { return m_rows && m_position >= 0 && m_position < recordCount(); }
    Status moveFirst() override;
    Status movePrevious() override { return moveBy(-1); }
    Status moveNext() override { return moveBy(+1); }

    Result<Value> field(const QString& name) const override;

private:
    int columnIndex(const QString& lowerName) const;
    Status moveBy(int step);

    ReportDatabase& m_db;
    Fetch m_fetch;
    std::unique_ptr<Snapshot> m_rows;
    int m_position = -1;
};

Failure notOpenFailure();

} // namespace korvela
