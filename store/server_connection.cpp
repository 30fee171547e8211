#include "store/server_connection.h"

#include "core/failure_codes.h"
#include "store/postgres_database.h"

#include <QStringList>

#include <cerrno> // program_invocation_short_name

namespace korvela {

namespace {

enum class Trouble { ConnectionLost, LockTimeout, DiskFull, NoPrivilege, ReadOnly, Other };

// What a refusal means, by its SQLSTATE (PostgreSQL's appendix A "Error Codes").
Trouble troubleOf(PGconn* conn, const QString& sqlState)
{
    // The session is gone: a connection exception (class 08), or the server ending it (57P01..05:
    // shut down, crashed, starting up, the database dropped, an idle session ended). A cancelled
    // statement (57014: statement_timeout, pg_cancel_backend) leaves the session as it was.
    if (PQstatus(conn) != CONNECTION_OK || sqlState.startsWith(u"08") || sqlState.startsWith(u"57P"))
        return Trouble::ConnectionLost;
    // Another session held a lock: longer than lock_timeout (55P03), or in a deadlock the server
    // broke (40P01). A serialization failure (40001) waited for no lock: it comes of another
    // transaction's changes under a stricter isolation, or of a standby's recovery.
    if (sqlState == u"55P03" || sqlState == u"40P01")
        return Trouble::LockTimeout;
    if (sqlState == u"53100")
        return Trouble::DiskFull;
    if (sqlState == u"42501")
        return Trouble::NoPrivilege;
    if (sqlState == u"25006")
        return Trouble::ReadOnly;
    return Trouble::Other;
}

struct Wording
{
    Trouble trouble;
    int code;
    const char16_t* workstation;
    const char16_t* administrator;
};

// %1: the server's message; for other refusals its SQLSTATE, a space and the message.
constexpr Wording kWordings[] = {
    {Trouble::ConnectionLost, FailureCode::ServerConnectionLost, u"与数据库服务器的连接已断开（%1）。",
     u"与数据库服务器的连接已断开（%1）。"},
    {Trouble::LockTimeout, FailureCode::ServerLockTimeout,
     u"数据库正被其他程序占用，等待超时后仍无法读写（%1）。",
     u"报告数据表正被其他工作站使用，等待超时（%1）。请在各工作站保存完毕后再试。"},
    {Trouble::DiskFull, FailureCode::ServerRefused, u"服务器磁盘已满，数据无法写入（%1）。",
     u"服务器磁盘已满（%1）。"},
    {Trouble::NoPrivilege, FailureCode::ServerRefused, u"数据库无法写入（%1）。",
     u"服务器拒绝了操作：权限不足（%1）。"},
    {Trouble::ReadOnly, FailureCode::ServerRefused, u"数据库无法写入（%1）。",
     u"服务器上的数据库只读（%1）。"},
    {Trouble::Other, FailureCode::ServerRefused, u"数据库错误（%1）。", u"服务器拒绝了操作（%1）。"},
};

QString libpqMessage(PGconn* conn)
{
    return QString::fromUtf8(PQerrorMessage(conn)).trimmed();
}

} // namespace

Failure serverFailure(PGconn* conn, const PGresult* result, Audience audience)
{
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const QString sqlState = state ? QString::fromLatin1(state) : QString();
    QString detail = result ? QString::fromUtf8(PQresultErrorMessage(result)).trimmed() : QString();
    if (detail.isEmpty())
        detail = libpqMessage(conn);
    const Trouble trouble = troubleOf(conn, sqlState);
    for (const Wording& w : kWordings) {
        if (w.trouble != trouble)
            continue;
        const char16_t* text = audience == Audience::Workstation ? w.workstation : w.administrator;
        return {w.code,
                QString::fromUtf16(text).arg(trouble == Trouble::Other ? sqlState + u' ' + detail : detail)};
    }
    Q_UNREACHABLE();
}

QString serverName(PGconn* conn)
{
    const auto text = [](const char* s) { return s ? QString::fromUtf8(s) : QString(); };
    return QStringLiteral("%1:%2/%3").arg(text(PQhost(conn)), text(PQport(conn)), text(PQdb(conn)));
}

Result<ServerConnection> connectToServer(const QString& connection, const SessionSettings& settings,
                                         Audience audience)
{
    // The service's own connect_timeout comes before the environment's.
    if (qEnvironmentVariableIsEmpty("PGCONNECT_TIMEOUT"))
        qputenv("PGCONNECT_TIMEOUT", "10");
    // Sessions go by the program's name unless the service names one, so an administrator's list
    // of connected sessions says which are workstations.
    const QByteArray dbname = connection.toUtf8();
    const char* const keywords[] = {"dbname", "fallback_application_name", nullptr};
    const char* const values[] = {dbname.constData(), program_invocation_short_name, nullptr};
    ServerConnection conn(PQconnectdbParams(keywords, values, /*expand_dbname=*/1));
    if (!conn || PQstatus(conn.get()) != CONNECTION_OK)
        return Failure{FailureCode::ServerUnreachable,
                       audience == Audience::Workstation
                           ? QStringLiteral("无法连接数据库服务器 %1（%2）。")
                                 .arg(describeServer(conn.get()), libpqMessage(conn.get()))
                           : QStringLiteral("无法连接数据库服务器（%1）。").arg(libpqMessage(conn.get()))};
    const char* encoding = PQparameterStatus(conn.get(), "server_encoding");
    if (!encoding || qstrcmp(encoding, "UTF8") != 0)
        return Failure{
            FailureCode::ServerNotUsable,
            audience == Audience::Workstation
                ? QStringLiteral("服务器上的报告数据库编码为 %1，必须为 UTF8。")
                      .arg(QString::fromLatin1(encoding))
                : QStringLiteral("服务器 %1 上的数据库编码为 %2，报告数据库必须为 UTF8。"
                                 "请以 UTF8 编码重新创建该数据库（CREATE DATABASE ... ENCODING 'UTF8'）。")
                      .arg(serverName(conn.get()), QString::fromLatin1(encoding ? encoding : "?"))};
    if (Status s = prepareSession(conn.get(), settings, audience); !s)
        return s.failure();
    return conn;
}

Status prepareSession(PGconn* conn, const SessionSettings& settings, Audience audience)
{
    if (PQsetClientEncoding(conn, "UTF8") != 0)
        return serverFailure(conn, nullptr, audience);
    // lock_timeout without a unit is in milliseconds.
    QString sql =
        QStringLiteral("SET DateStyle = ISO; SET lock_timeout = %1; SET standard_conforming_strings = on")
            .arg(settings.lockTimeout.count());
    if (settings.access == StoreAccess::ReadOnly)
        sql += QStringLiteral("; SET default_transaction_read_only = on");
    return runOnServer(conn, sql.toUtf8(), {}, audience, StatementKind::Script).status();
}

Result<ServerResult> runOnServer(PGconn* conn, const QByteArray& sql, const std::vector<const char*>& params,
                                 Audience audience, StatementKind kind)
{
    // A script goes as it is (several statements); one statement always with its parameters, so
    // nothing in it can run a second one.
    ServerResult result(kind == StatementKind::Script
                            ? PQexec(conn, sql.constData())
                            : PQexecParams(conn, sql.constData(), int(params.size()), nullptr, params.data(),
                                           nullptr, nullptr, 0));
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        return serverFailure(conn, result.get(), audience);
    return result;
}

Result<Checksum> serverChecksum(PGconn* conn, std::int64_t afterRowid, Audience audience)
{
    // Each value as CanonicalRow writes it: octet_length counts the UTF-8 bytes the client counts,
    // to_char writes the date whatever the session's DateStyle.
    QStringList values;
    for (int c = 1; c <= 27; ++c) {
        const QString column = QStringLiteral("a%1").arg(c);
        const QString text = c == 13   ? QStringLiteral("to_char(a13, 'YYYY-MM-DD')")
                             : c >= 15 ? column + u"::text"
                                       : column;
        values << QStringLiteral("coalesce('v' || octet_length(%1) || ':' || %1, 'n')").arg(text);
    }
    // The first 16 hex digits of the MD5 as a signed 64-bit number; the sum brought into 0..2^64-1.
    const QByteArray sql =
        QStringLiteral(
            "SELECT count(*), ((coalesce(sum(('x' || left(md5(%1), 16))::bit(64)::bigint::numeric), 0)"
            " % 18446744073709551616) + 18446744073709551616) % 18446744073709551616"
            " FROM a WHERE rowid > $1::bigint")
            .arg(values.join(QStringLiteral(" || ")))
            .toUtf8();
    const QByteArray after = QByteArray::number(qlonglong(afterRowid));
    Result<ServerResult> r = runOnServer(conn, sql, {after.constData()}, audience);
    if (!r)
        return r.failure();
    return Checksum{std::strtoull(PQgetvalue(r->get(), 0, 0), nullptr, 10),
                    std::strtoull(PQgetvalue(r->get(), 0, 1), nullptr, 10)};
}

} // namespace korvela
