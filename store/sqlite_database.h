#pragma once

#include "core/database.h"

#include <chrono>

struct sqlite3;

namespace korvela {

// The report database on a SQLite file, through the SQLite C API: one prepared statement per call,
// every typed value bound as a parameter, rows copied straight from the engine's UTF-8 into a
// compact snapshot (a million reports fit in a few hundred megabytes).
class SqliteReportDatabase final : public ReportDatabase
{
public:
    SqliteReportDatabase() = default;
    ~SqliteReportDatabase() override;
    SqliteReportDatabase(const SqliteReportDatabase&) = delete;
    SqliteReportDatabase& operator=(const SqliteReportDatabase&) = delete;

    // Opens an existing database file for reading and writing (or only reading); never creates
    // one. A file that is no database, lacks table A or cannot be written (when it is to be) fails.
    // Statements wait up to `timeout` for another program's lock before failing.
    Status open(const QString& path, std::chrono::milliseconds timeout, StoreAccess access = StoreAccess::ReadWrite);

    SqlDialect dialect() const override { return SqlDialect::Sqlite; }
    bool isOpen() const override { return m_db != nullptr; }
    void close() override;

    Status begin() override;
    Status commit() override;
    Status rollback() override;
    bool inTransaction() const override;

    Status execute(const Statement& statement) override;
    std::unique_ptr<ResultSet> createResultSet() override;

    sqlite3* handle() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

} // namespace korvela
