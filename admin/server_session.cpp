#include "admin/server_session.h"

#include "core/failure_codes.h"

#include <libpq-fe.h>

namespace korvela::admin {

void ConnectionCloser::operator()(pg_conn* conn) const
{
    PQfinish(conn); // a transaction still open ends with the session, rolled back
}

void ResultClearer::operator()(pg_result* result) const
{
    PQclear(result);
}

QString serverName(pg_conn* conn)
{
    const auto text = [](const char* s) { return s ? QString::fromUtf8(s) : QString(); };
    return QStringLiteral("%1:%2/%3").arg(text(PQhost(conn)), text(PQport(conn)), text(PQdb(conn)));
}

Failure serverRefusal(pg_conn* conn, const pg_result* result)
{
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const QString sqlState = state ? QString::fromLatin1(state) : QString();
    QString detail = QString::fromUtf8(result ? PQresultErrorMessage(result) : "").trimmed();
    if (detail.isEmpty())
        detail = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
    if (PQstatus(conn) != CONNECTION_OK || sqlState.startsWith(u"08") || sqlState.startsWith(u"57P"))
        return {FailureCode::ServerConnectionLost,
                QStringLiteral("与数据库服务器的连接已断开（%1）。").arg(detail)};
    if (sqlState == u"55P03" || sqlState == u"40P01")
        return {FailureCode::ServerLockTimeout,
                QStringLiteral("报告数据表正被其他工作站使用，等待超时（%1）。请在各工作站保存完毕后再试。")
                    .arg(detail)};
    if (sqlState == u"42501")
        return {FailureCode::ServerRefused, QStringLiteral("服务器拒绝了操作：权限不足（%1）。").arg(detail)};
    if (sqlState == u"25006")
        return {FailureCode::ServerRefused, QStringLiteral("服务器上的数据库只读（%1）。").arg(detail)};
    if (sqlState == u"53100")
        return {FailureCode::ServerRefused, QStringLiteral("服务器磁盘已满（%1）。").arg(detail)};
    return {FailureCode::ServerRefused, QStringLiteral("服务器拒绝了操作（%1 %2）。").arg(sqlState, detail)};
}

Result<ServerConnection> connectToServer(const QString& connection, std::chrono::milliseconds lockTimeout)
{
    if (qEnvironmentVariableIsEmpty("PGCONNECT_TIMEOUT"))
        qputenv("PGCONNECT_TIMEOUT", "10");
    ServerConnection conn(PQconnectdb(connection.toUtf8().constData()));
    if (!conn || PQstatus(conn.get()) != CONNECTION_OK)
        return Failure{FailureCode::ServerUnreachable,
                       QStringLiteral("无法连接数据库服务器（%1）。")
                           .arg(QString::fromUtf8(PQerrorMessage(conn.get())).trimmed())};
    const char* encoding = PQparameterStatus(conn.get(), "server_encoding");
    if (!encoding || qstrcmp(encoding, "UTF8") != 0)
        return Failure{
            FailureCode::ServerNotUsable,
            QStringLiteral("服务器 %1 上的数据库编码为 %2，报告数据库必须为 UTF8。"
                           "请以 UTF8 编码重新创建该数据库（CREATE DATABASE ... ENCODING 'UTF8'）。")
                .arg(serverName(conn.get()), QString::fromLatin1(encoding ? encoding : "?"))};
    if (PQsetClientEncoding(conn.get(), "UTF8") != 0)
        return serverRefusal(conn.get(), nullptr);
    const QString settings = QStringLiteral("SET DateStyle = ISO; SET standard_conforming_strings = on; "
                                            "SET lock_timeout = %1")
                                 .arg(lockTimeout.count());
    if (Result<ServerResult> r = serverQuery(conn.get(), settings); !r)
        return r.failure();
    return conn;
}

Result<ServerResult> serverQuery(pg_conn* conn, const QString& sql, const std::vector<QByteArray>& params)
{
    const QByteArray text = sql.toUtf8();
    ServerResult result;
    if (params.empty()) {
        result.reset(PQexec(conn, text.constData()));
    } else {
        std::vector<const char*> values;
        for (const QByteArray& p : params)
            values.push_back(p.isNull() ? nullptr : p.constData());
        result.reset(PQexecParams(conn, text.constData(), int(values.size()), nullptr, values.data(), nullptr,
                                  nullptr, 0));
    }
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        return serverRefusal(conn, result.get());
    return result;
}

Result<QByteArray> serverScalar(pg_conn* conn, const QString& sql, const std::vector<QByteArray>& params)
{
    Result<ServerResult> r = serverQuery(conn, sql, params);
    if (!r)
        return r.failure();
    if (PQntuples(r->get()) == 0 || PQnfields(r->get()) == 0 || PQgetisnull(r->get(), 0, 0))
        return QByteArray();
    return QByteArray(PQgetvalue(r->get(), 0, 0), PQgetlength(r->get(), 0, 0));
}

Result<bool> reportTableExists(pg_conn* conn)
{
    Result<QByteArray> r = serverScalar(conn, QStringLiteral("SELECT to_regclass('a') IS NOT NULL"));
    if (!r)
        return r.failure();
    return *r == "t";
}

} // namespace korvela::admin
