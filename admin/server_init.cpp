#include "admin/server_init.h"

#include "admin/server_schema.h"
#include "store/server_session.h"

namespace korvela::admin {

Result<ServerInitOutcome> initServer(const QString& connection)
{
    Result<ServerSession> session = ServerSession::open(connection, std::chrono::seconds(30));
    if (!session)
        return session.failure();
    ServerInitOutcome outcome{false, session->name()};
    // The advisory lock orders two runs at once: the second finds what the first made.
    if (Status s = session->execute(
            QStringLiteral("BEGIN; SELECT pg_advisory_xact_lock(hashtext('korvela-admin server-init'))"));
        !s)
        return s.failure();
    Result<bool> exists = session->reportTableExists();
    if (!exists)
        return exists.failure();
    if (!*exists) {
        if (Status s =
                session->execute(QString::fromUtf8(serverSchema().data(), qsizetype(serverSchema().size())));
            !s)
            return s.failure();
        outcome.created = true;
    }
    if (Status s = session->execute(QStringLiteral("COMMIT")); !s)
        return s.failure();
    return outcome;
}

} // namespace korvela::admin
