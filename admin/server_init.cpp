#include "admin/server_init.h"

#include "admin/server_schema.h"
#include "admin/server_session.h"

#include <libpq-fe.h>

namespace korvela::admin {

Result<ServerInitOutcome> initServer(const QString& connection)
{
    Result<ServerConnection> conn = connectToServer(connection, std::chrono::seconds(30));
    if (!conn)
        return conn.failure();
    pg_conn* c = conn->get();
    ServerInitOutcome outcome{false, serverName(c)};
    // The advisory lock orders two runs at once: the second finds what the first made.
    if (Result<ServerResult> r = serverQuery(
            c, QStringLiteral("BEGIN; SELECT pg_advisory_xact_lock(hashtext('korvela-admin server-init'))"));
        !r)
        return r.failure();
    Result<bool> exists = reportTableExists(c);
    if (!exists)
        return exists.failure();
    if (!*exists) {
        if (Result<ServerResult> r =
                serverQuery(c, QString::fromUtf8(serverSchema().data(), qsizetype(serverSchema().size())));
            !r)
            return r.failure();
        outcome.created = true;
    }
    if (Result<ServerResult> r = serverQuery(c, QStringLiteral("COMMIT")); !r)
        return r.failure();
    return outcome;
}

} // namespace korvela::admin
