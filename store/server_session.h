#pragma once

#include "core/status.h"
#include "store/report_checksum.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

namespace korvela {

struct ServerConnectionCloser
{
    void operator()(pg_conn* conn) const; // a transaction still open ends with the session, rolled back
};
struct ServerResultClearer
{
    void operator()(pg_result* result) const;
};
using ServerConnection = std::unique_ptr<pg_conn, ServerConnectionCloser>;
using ServerResult = std::unique_ptr<pg_result, ServerResultClearer>;

// The rows a query gave, each value as the server's text ("" for null).
class ServerRows
{
public:
    explicit ServerRows(ServerResult result);

    int count() const;
    QByteArray value(int row, int column) const;

private:
    ServerResult m_result;
};

// Rows streamed into a table by COPY ... FROM STDIN, in COPY's text form. Nothing of them is
// stored unless finish() succeeds; a copy dropped before that is abandoned.
class ServerCopy
{
public:
    explicit ServerCopy(pg_conn* conn);
    ~ServerCopy();
    ServerCopy(ServerCopy&& other) noexcept;
    ServerCopy& operator=(ServerCopy&&) = delete;

    // Sends what the buffer holds and empties it.
    Status send(std::string& buffer);
    Status finish();

private:
    void abandon();

    pg_conn* m_conn;
};

// Another session connected to the same database, as pg_stat_activity shows it.
struct OtherSession
{
    QString client;      // its host name or address; empty when it came through a Unix socket
    QString application; // application_name, as the client gave it
    QString pid;         // its server process, as pg_terminate_backend() takes it
    QString since;       // "yyyy-mm-dd hh:mm:ss": when it connected, or began its transaction
};

// Sessions as an administrator reads them: "192.168.10.21（程序“korvela”，进程 4242，自 … 起）；…", the
// program left out when the client named none, "本机" for a Unix socket.
QString describeSessions(const std::vector<OtherSession>& sessions);

// A connection of the administrator's own to the server of a libpq connection string
// ("service=korvela"), made as the report program makes its own (UTF-8 texts, ISO dates, the
// lock time-out; a database not in UTF8 refused), its failures worded for the administrator.
class ServerSession
{
public:
    static Result<ServerSession> open(const QString& connection, std::chrono::milliseconds lockTimeout);

    // "host:port/database", as libpq resolved the service.
    QString name() const;

    // Runs one statement, or several separated by semicolons.
    Status execute(const QString& sql);
    Result<ServerRows> query(const QString& sql);
    // The first value of a query's first row ("" for null or no row).
    Result<QByteArray> scalar(const QString& sql);
    bool inTransaction() const;

    // Whether the report table a exists (on the session's search path).
    Result<bool> reportTableExists();
    // The count and checksum (report_checksum.h) of table a's reports with a rowid greater than
    // `afterRowid`, computed by the server from its own values.
    Result<Checksum> reportChecksum(std::int64_t afterRowid = std::numeric_limits<std::int64_t>::min());
    // The other sessions connected to this session's database, in the order they connected (since:
    // then).
    Result<std::vector<OtherSession>> otherSessions();
    // The other sessions holding a lock on the report table a (since: the start of their
    // transaction), oldest transaction first.
    Result<std::vector<OtherSession>> reportTableHolders();
    // When the session named `application` has waited longer than `wait` for a lock, cancels its
    // statement (so its transaction ends, rolled back) and gives the sessions it waited for (since:
    // the start of their transaction); nothing when none of its sessions waits that long.
    Result<std::vector<OtherSession>> cancelLockWait(const QString& application, std::chrono::milliseconds wait);
    // Starts COPY into `target` ("a (a1, a2, ...)").
    Result<ServerCopy> copyInto(const QString& target);

private:
    explicit ServerSession(ServerConnection conn);

    ServerConnection m_conn;
};

} // namespace korvela
