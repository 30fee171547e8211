#pragma once

#include "core/database.h"

#include <chrono>

struct pg_conn;

namespace korvela {

// The report database on a PostgreSQL server, through libpq: one connection, every typed value
// bound as a parameter, rows kept in the result the server sent (a snapshot, as the embedded
// store's). A connection the server ended is made again before the next transaction or search.
class PostgresReportDatabase final : public ReportDatabase
{
public:
    PostgresReportDatabase() = default;
    ~PostgresReportDatabase() override;
    PostgresReportDatabase(const PostgresReportDatabase&) = delete;
    PostgresReportDatabase& operator=(const PostgresReportDatabase&) = delete;

    // Connects with a libpq connection string ("service=korvela"). A server that does not answer,
    // a database that is not UTF8, has no table a or (when it is to be written) is read-only fails.
    // A statement waits up to `lockTimeout` for another workstation's lock before it fails. Read
    // only, every transaction of the session is read-only.
    Status open(const QString& connection, std::chrono::milliseconds lockTimeout,
                StoreAccess access = StoreAccess::ReadWrite);

    SqlDialect dialect() const override { return SqlDialect::Postgres; }
    bool isOpen() const override { return m_conn != nullptr; }
    void close() override;

    Status begin() override;
    Status commit() override;
    Status rollback() override;
    bool inTransaction() const override;

    Status execute(const Statement& statement) override;
    std::unique_ptr<ResultSet> createResultSet() override;

    pg_conn* handle() const { return m_conn; }
    // The server's process for this connection (what pg_terminate_backend takes).
    int serverProcess() const;

private:
    // Makes the connection again when the server ended it; never inside a transaction.
    Status reconnectIfLost();

    pg_conn* m_conn = nullptr;
    std::chrono::milliseconds m_lockTimeout{0};
    StoreAccess m_access = StoreAccess::ReadWrite;
};

// "?1 ... ?12" become "$1 ... $12", outside quoted texts and names.
QString serverParameters(const QString& sql);

// Where the server is, for the log: "host:port/database as user", as libpq resolved them.
QString describeServer(pg_conn* conn);

} // namespace korvela
