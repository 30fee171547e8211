#include "store/server_session.h"

#include <QStringList>

#include "store/server_connection.h"

#include <algorithm>
#include <utility>

namespace korvela {

namespace {

constexpr Audience kAdministrator = Audience::Administrator;
// The columns of OtherSession from pg_stat_activity `s`: client, program, the time `since`.
QByteArray sessionColumns(const QByteArray& s, const QByteArray& since)
{
    return "coalesce(" + s + ".client_hostname, host(" + s + ".client_addr), ''), coalesce(" + s +
           ".application_name, ''), " + s + ".pid, to_char(" + s + '.' + since + ", 'YYYY-MM-DD HH24:MI:SS')";
}

Result<std::vector<OtherSession>> sessions(Result<ServerResult> result)
{
    if (!result)
        return result.failure();
    const ServerRows rows(std::move(*result));
    std::vector<OtherSession> found;
    for (int i = 0; i < rows.count(); ++i)
        found.push_back({QString::fromUtf8(rows.value(i, 0)), QString::fromUtf8(rows.value(i, 1)),
                         QString::fromLatin1(rows.value(i, 2)), QString::fromUtf8(rows.value(i, 3))});
    return found;
}

// COPY data goes in pieces libpq's int length can carry: one report's texts may run to a gigabyte.
constexpr std::size_t kCopyPiece = 1 << 20;

} // namespace

void ServerConnectionCloser::operator()(pg_conn* conn) const
{
    PQfinish(conn);
}

void ServerResultClearer::operator()(pg_result* result) const
{
    PQclear(result);
}

ServerRows::ServerRows(ServerResult result)
    : m_result(std::move(result))
{
}

int ServerRows::count() const
{
    return PQntuples(m_result.get());
}

QByteArray ServerRows::value(int row, int column) const
{
    return QByteArray(PQgetvalue(m_result.get(), row, column), PQgetlength(m_result.get(), row, column));
}

ServerCopy::ServerCopy(pg_conn* conn)
    : m_conn(conn)
{
}

ServerCopy::ServerCopy(ServerCopy&& other) noexcept
    : m_conn(std::exchange(other.m_conn, nullptr))
{
}

ServerCopy::~ServerCopy()
{
    abandon();
}

void ServerCopy::abandon()
{
    if (!m_conn)
        return;
    PQputCopyEnd(m_conn, "korvela-admin: copy abandoned");
    while (PGresult* r = PQgetResult(m_conn))
        PQclear(r);
    m_conn = nullptr;
}

Status ServerCopy::send(std::string& buffer)
{
    for (std::size_t from = 0; from < buffer.size(); from += kCopyPiece) {
        const std::size_t size = std::min(kCopyPiece, buffer.size() - from);
        if (PQputCopyData(m_conn, buffer.data() + from, int(size)) != 1)
            return serverFailure(m_conn, nullptr, kAdministrator);
    }
    buffer.clear();
    return {};
}

Status ServerCopy::finish()
{
    if (PQputCopyEnd(m_conn, nullptr) != 1)
        return serverFailure(m_conn, nullptr, kAdministrator);
    Status status;
    while (PGresult* r = PQgetResult(m_conn)) {
        if (PQresultStatus(r) != PGRES_COMMAND_OK && status)
            status = serverFailure(m_conn, r, kAdministrator);
        PQclear(r);
    }
    m_conn = nullptr;
    return status;
}

ServerSession::ServerSession(ServerConnection conn)
    : m_conn(std::move(conn))
{
}

Result<ServerSession> ServerSession::open(const QString& connection, std::chrono::milliseconds lockTimeout)
{
    Result<ServerConnection> conn = connectToServer(connection, {lockTimeout}, kAdministrator);
    if (!conn)
        return conn.failure();
    return ServerSession(std::move(*conn));
}

QString ServerSession::name() const
{
    return serverName(m_conn.get());
}

Status ServerSession::execute(const QString& sql)
{
    return runOnServer(m_conn.get(), sql.toUtf8(), {}, kAdministrator, StatementKind::Script).status();
}

Result<ServerRows> ServerSession::query(const QString& sql)
{
    Result<ServerResult> r =
        runOnServer(m_conn.get(), sql.toUtf8(), {}, kAdministrator, StatementKind::Script);
    if (!r)
        return r.failure();
    return ServerRows(std::move(*r));
}

Result<QByteArray> ServerSession::scalar(const QString& sql)
{
    Result<ServerRows> rows = query(sql);
    if (!rows)
        return rows.failure();
    return rows->count() == 0 ? QByteArray() : rows->value(0, 0);
}

bool ServerSession::inTransaction() const
{
    return PQtransactionStatus(m_conn.get()) != PQTRANS_IDLE;
}

Result<bool> ServerSession::reportTableExists()
{
    Result<QByteArray> r = scalar(QStringLiteral("SELECT to_regclass('a') IS NOT NULL"));
    if (!r)
        return r.failure();
    return *r == "t";
}

Result<Checksum> ServerSession::reportChecksum(std::int64_t afterRowid)
{
    return serverChecksum(m_conn.get(), afterRowid, kAdministrator);
}

QString describeSessions(const std::vector<OtherSession>& sessions)
{
    QStringList said;
    for (const OtherSession& s : sessions) {
        const QString client = s.client.isEmpty() ? QStringLiteral("本机") : s.client;
        const QString program = s.application.isEmpty() ? QString() : QStringLiteral("程序“%1”，").arg(s.application);
        said << QStringLiteral("%1（%2进程 %3，自 %4 起）").arg(client, program, s.pid, s.since);
    }
    return said.join(QStringLiteral("；"));
}

Result<std::vector<OtherSession>> ServerSession::otherSessions()
{
    return sessions(runOnServer(m_conn.get(),
                                "SELECT " + sessionColumns("s", "backend_start") + " FROM pg_stat_activity s"
                                " WHERE s.datname = current_database() AND s.pid <> pg_backend_pid()"
                                " AND s.backend_type = 'client backend' ORDER BY s.backend_start",
                                {}, kAdministrator));
}

Result<std::vector<OtherSession>> ServerSession::reportTableHolders()
{
    return sessions(runOnServer(m_conn.get(),
                                "SELECT " + sessionColumns("s", "xact_start") + " FROM pg_stat_activity s"
                                " WHERE s.pid <> pg_backend_pid() AND s.pid IN (SELECT l.pid FROM pg_locks l"
                                " WHERE l.granted AND l.relation = to_regclass('a')) ORDER BY s.xact_start",
                                {}, kAdministrator));
}

Result<std::vector<OtherSession>> ServerSession::cancelLockWait(const QString& application,
                                                                 std::chrono::milliseconds wait)
{
    const QByteArray name = application.toUtf8(), milliseconds = QByteArray::number(qint64(wait.count()));
    // pg_cancel_backend runs once for each session waited for: the second time it finds the
    // statement already cancelled.
    return sessions(runOnServer(
        m_conn.get(),
        "SELECT " + sessionColumns("b", "xact_start") + ", pg_cancel_backend(w.pid) FROM pg_stat_activity w"
        " JOIN pg_stat_activity b ON b.pid = ANY (pg_blocking_pids(w.pid))"
        " WHERE w.application_name = $1 AND w.datname = current_database()"
        " AND EXISTS (SELECT FROM pg_locks l WHERE l.pid = w.pid AND NOT l.granted"
        " AND l.waitstart < now() - $2::bigint * interval '1 millisecond')"
        " ORDER BY b.backend_start",
        {name.constData(), milliseconds.constData()}, kAdministrator));
}

Result<ServerCopy> ServerSession::copyInto(const QString& target)
{
    const ServerResult copy(
        PQexec(m_conn.get(), QStringLiteral("COPY %1 FROM STDIN").arg(target).toUtf8().constData()));
    if (PQresultStatus(copy.get()) != PGRES_COPY_IN)
        return serverFailure(m_conn.get(), copy.get(), kAdministrator);
    return ServerCopy(m_conn.get());
}

} // namespace korvela
