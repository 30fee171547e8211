#include "admin/server_init.h"

#include "admin/server_schema.h"
#include "core/failure_codes.h"
#include "records/history_schema.h"
#include "store/server_session.h"

namespace korvela::admin {

namespace {

Result<ServerInitOutcome> makeSchema(const QString& connection, std::chrono::milliseconds lockTimeout)
{
    Result<ServerSession> session = ServerSession::open(connection, lockTimeout);
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
        // A new store keeps the history from its first report.
        for (const QString& statement : historySchema(SqlDialect::Postgres))
            if (Status s = session->execute(statement); !s)
                return s.failure();
        outcome.created = true;
    }
    if (Status s = session->execute(QStringLiteral("COMMIT")); !s)
        return s.failure();
    return outcome;
}

} // namespace

Result<ServerInitOutcome> initServer(const QString& connection, std::chrono::milliseconds lockTimeout)
{
    Result<ServerInitOutcome> outcome = makeSchema(connection, lockTimeout);
    if (outcome || outcome.failure().code != FailureCode::ServerLockTimeout)
        return outcome;
    return Failure{
        FailureCode::ServerLockTimeout,
        QStringLiteral("等待其他会话释放锁超过 %1 秒（另一个 korvela-admin server-init 正在进行，或有会话正在"
                       "修改数据库的结构），未作任何改动。请稍后再试。")
            .arg(QString::number(double(lockTimeout.count()) / 1000, 'g', 3))};
}

} // namespace korvela::admin
