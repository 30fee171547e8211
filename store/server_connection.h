#pragma once

// What the report database and the administrator's session share of libpq: the one way a
// connection is made and set up, and the one map from the server's refusals to failures.

#include "core/database.h"
#include "store/server_session.h"

#include <libpq-fe.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace korvela {

// Who reads a failure: the staff at a workstation (the report window, korvela-review), or the
// administrator at korvela-admin, who is told what to do about it.
enum class Audience { Workstation, Administrator };

struct SessionSettings
{
    std::chrono::milliseconds lockTimeout{0};
    StoreAccess access = StoreAccess::ReadWrite;
};

// Connects to the server of `connection` and sets the session up (prepareSession()). A server
// that does not answer within ten seconds (unless the service or PGCONNECT_TIMEOUT says
// otherwise), or a database not in UTF8 (it cannot hold every character a report may hold), fails.
Result<ServerConnection> connectToServer(const QString& connection, const SessionSettings& settings,
                                         Audience audience);
// Texts as UTF-8, dates in ISO form, standard strings, the lock time-out in milliseconds, and
// every transaction read-only when only reading. Again after every new connection.
Status prepareSession(PGconn* conn, const SessionSettings& settings, Audience audience);

// Runs one statement with its parameters as texts (a null pointer for a null), or a script of
// several statements without parameters.
enum class StatementKind { One, Script };
Result<ServerResult> runOnServer(PGconn* conn, const QByteArray& sql, const std::vector<const char*>& params,
                                 Audience audience, StatementKind kind = StatementKind::One);

// The failure of a statement the server refused (`result`), or of the connection itself.
Failure serverFailure(PGconn* conn, const PGresult* result, Audience audience);

// "host:port/database", as libpq resolved them.
QString serverName(PGconn* conn);

// The count and checksum of table a's reports after `afterRowid`, computed by the server.
Result<Checksum> serverChecksum(PGconn* conn, std::int64_t afterRowid, Audience audience);

} // namespace korvela
