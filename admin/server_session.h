#pragma once

#include "core/status.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <memory>
#include <vector>

struct pg_conn;
struct pg_result;

namespace korvela::admin {

struct ConnectionCloser
{
    void operator()(pg_conn* conn) const;
};
struct ResultClearer
{
    void operator()(pg_result* result) const;
};
using ServerConnection = std::unique_ptr<pg_conn, ConnectionCloser>;
using ServerResult = std::unique_ptr<pg_result, ResultClearer>;

// A connection of the administrator's own to the server of `connection` ("service=korvela"):
// texts travel as UTF-8, dates in ISO form, and a statement waits up to `lockTimeout` for a
// workstation's lock. A database whose encoding is not UTF8 is refused: it cannot hold every
// character a report may contain.
Result<ServerConnection> connectToServer(const QString& connection, std::chrono::milliseconds lockTimeout);

// Runs one statement (or, without parameters, several); the parameters travel as texts.
Result<ServerResult> serverQuery(pg_conn* conn, const QString& sql,
                                 const std::vector<QByteArray>& params = {});
// The first value of a query's first row ("" for null or no row).
Result<QByteArray> serverScalar(pg_conn* conn, const QString& sql,
                                const std::vector<QByteArray>& params = {});

// What the server said when it refused, as the administrator reads it.
Failure serverRefusal(pg_conn* conn, const pg_result* result);

// Whether the report table a exists (on the session's search path).
Result<bool> reportTableExists(pg_conn* conn);

// "host:port/database", as libpq resolved the service.
QString serverName(pg_conn* conn);

} // namespace korvela::admin
