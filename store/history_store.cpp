#include "store/history_store.h"

#include "core/failure_codes.h"
#include "store/postgres_database.h"
#include "store/server_connection.h"
#include "store/sqlite_statement.h"

#include <QFile>

#include <utility>

namespace korvela {

namespace {

constexpr Audience kAdministrator = Audience::Administrator;

// Rows fetched from the server's cursor at a time.
constexpr int kFetchRows = 5000;

class FileReader final : public StoreReader
{
public:
    explicit FileReader(sqlite3* db)
        : m_db(db)
    {
    }
    ~FileReader() override { sqlite3_close_v2(m_db); }

    SqlDialect dialect() const override { return SqlDialect::Sqlite; }

    Status eachRow(const Statement& query, const RowHandler& row) override
    {
        SqliteStatement statement(m_db, query);
        if (!statement.ok())
            return sqliteFailure(m_db, statement.rc());
        std::vector<Value> values(std::size_t(sqlite3_column_count(statement.get())));
        for (;;) {
            const int rc = sqlite3_step(statement.get());
            if (rc == SQLITE_DONE)
                return {};
            if (rc != SQLITE_ROW)
                return sqliteFailure(m_db, rc);
            for (std::size_t c = 0; c < values.size(); ++c)
                values[c] = valueAt(statement.get(), int(c));
            Result<bool> more = row(values);
            if (!more)
                return more.failure();
            if (!*more)
                return {};
        }
    }

private:
    static Value valueAt(sqlite3_stmt* s, int c)
    {
        switch (sqlite3_column_type(s, c)) {
        case SQLITE_NULL:
            return {};
        case SQLITE_INTEGER:
            return std::int64_t(sqlite3_column_int64(s, c));
        case SQLITE_FLOAT:
            return sqlite3_column_double(s, c);
        default: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
            return QString::fromUtf8(text, sqlite3_column_bytes(s, c));
        }
        }
    }

    sqlite3* m_db;
};

// The server's integer types (pg_type.oid), as libpq reports them.
constexpr Oid kInt8 = 20, kInt2 = 21, kInt4 = 23;

class ServerReader final : public StoreReader
{
public:
    explicit ServerReader(ServerConnection conn)
        : m_conn(std::move(conn))
    {
    }

    SqlDialect dialect() const override { return SqlDialect::Postgres; }

    Status eachRow(const Statement& query, const RowHandler& row) override
    {
        std::vector<QByteArray> texts;
        std::vector<const char*> params;
        for (const Value& v : query.args)
            texts.push_back(isNull(v) ? QByteArray() : valueToText(v).toUtf8());
        for (std::size_t i = 0; i < texts.size(); ++i)
            params.push_back(isNull(query.args[i]) ? nullptr : texts[i].constData());
        // A cursor: the server keeps the rows and sends them a batch at a time.
        if (Result<ServerResult> declared = runOnServer(
                m_conn.get(), "DECLARE korvela_rows NO SCROLL CURSOR FOR " + serverParameters(query.sql).toUtf8(),
                params, kAdministrator);
            !declared)
            return declared.failure();
        Status status = fetchAll(row);
        if (Result<ServerResult> closed =
                runOnServer(m_conn.get(), "CLOSE korvela_rows", {}, kAdministrator);
            !closed && status)
            status = closed.failure();
        return status;
    }

private:
    Status fetchAll(const RowHandler& row)
    {
        const QByteArray fetch = "FETCH " + QByteArray::number(kFetchRows) + " FROM korvela_rows";
        std::vector<Value> values;
        for (;;) {
            Result<ServerResult> batch = runOnServer(m_conn.get(), fetch, {}, kAdministrator);
            if (!batch)
                return batch.failure();
            const PGresult* r = batch->get();
            const int rows = PQntuples(r), columns = PQnfields(r);
            values.resize(std::size_t(columns));
            for (int i = 0; i < rows; ++i) {
                for (int c = 0; c < columns; ++c)
                    values[std::size_t(c)] = valueAt(r, i, c);
                Result<bool> more = row(values);
                if (!more)
                    return more.failure();
                if (!*more)
                    return {};
            }
            if (rows < kFetchRows)
                return {};
        }
    }

    static Value valueAt(const PGresult* r, int row, int column)
    {
        if (PQgetisnull(r, row, column))
            return {};
        const char* text = PQgetvalue(r, row, column);
        switch (PQftype(r, column)) {
        case kInt8:
        case kInt4:
        case kInt2:
            return std::int64_t(std::strtoll(text, nullptr, 10));
        default:
            return QString::fromUtf8(text, PQgetlength(r, row, column));
        }
    }

    ServerConnection m_conn;
};

// The refusal of a role's creation or removal, said to the administrator.
Failure roleRefused(const QString& text)
{
    return {FailureCode::StaffRoleRefused, text};
}

// A connection as the administrator, and the one word a question of the role answers.
struct RoleState
{
    ServerConnection conn;
    QString answer;
};

// `question`: $1 is the role, $2 the staff's group.
Result<RoleState> askAboutRole(const QString& connection, const QByteArray& role, const char* question)
{
    Result<ServerConnection> conn = connectToServer(connection, {std::chrono::seconds(10)}, kAdministrator);
    if (!conn)
        return conn.failure();
    Result<ServerResult> r = runOnServer(conn->get(), question, {role.constData(), kStaffRole}, kAdministrator);
    if (!r)
        return r.failure();
    const QString answer = QString::fromUtf8(PQgetvalue(r->get(), 0, 0));
    return RoleState{std::move(*conn), answer};
}

// `text` as an identifier or a literal of the connection's server, quoted.
QByteArray quoted(PGconn* conn, const QByteArray& text, bool identifier)
{
    char* escaped = identifier ? PQescapeIdentifier(conn, text.constData(), std::size_t(text.size()))
                               : PQescapeLiteral(conn, text.constData(), std::size_t(text.size()));
    const QByteArray out(escaped ? escaped : "");
    PQfreemem(escaped);
    return out;
}

} // namespace

Result<std::unique_ptr<StoreReader>> readFile(const QString& path)
{
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    auto reader = std::make_unique<FileReader>(db);
    if (rc != SQLITE_OK)
        return sqliteFailure(db, rc);
    sqlite3_busy_timeout(db, 10000);
    // One read transaction: every query sees the same moment.
    if (const int begun = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr); begun != SQLITE_OK)
        return sqliteFailure(db, begun);
    return std::unique_ptr<StoreReader>(std::move(reader));
}

Result<std::unique_ptr<StoreReader>> readServer(const QString& connection)
{
    Result<ServerConnection> conn =
        connectToServer(connection, {std::chrono::seconds(10), StoreAccess::ReadOnly}, kAdministrator);
    if (!conn)
        return conn.failure();
    if (Result<ServerResult> begun = runOnServer(conn->get(), "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY",
                                                 {}, kAdministrator);
        !begun)
        return begun.failure();
    return std::unique_ptr<StoreReader>(std::make_unique<ServerReader>(std::move(*conn)));
}

Status createStaffRole(const QString& connection, const QString& name, const std::optional<QString>& password)
{
    const QByteArray role = name.toUtf8();
    Result<RoleState> state = askAboutRole(
        connection, role,
        "SELECT CASE WHEN EXISTS (SELECT FROM pg_roles WHERE rolname = $1) THEN 'taken'"
        " WHEN NOT EXISTS (SELECT FROM pg_roles WHERE rolname = $2) THEN 'no-staff'"
        " WHEN NOT (SELECT rolcreaterole OR rolsuper FROM pg_roles WHERE rolname = current_user) THEN 'no-right'"
        " ELSE '' END");
    if (!state)
        return state.failure();
    PGconn* c = state->conn.get();
    if (state->answer == u"taken")
        return roleRefused(QStringLiteral("服务器上已有名为 %1 的角色，未作任何改动。").arg(name));
    if (state->answer == u"no-staff")
        return roleRefused(QStringLiteral("服务器上没有组角色 %1：请先运行 korvela-admin upgrade。")
                               .arg(QString::fromLatin1(kStaffRole)));
    if (state->answer == u"no-right")
        return roleRefused(QStringLiteral("所连接的角色无权建立角色：请在服务器上以 postgres 运行 "
                                          "ALTER ROLE %1 CREATEROLE; 之后再试。")
                               .arg(QString::fromUtf8(PQuser(c))));
    QByteArray sql = "CREATE ROLE " + quoted(c, role, true) + " LOGIN IN ROLE " + kStaffRole;
    if (password) {
        // The server's own kind of verifier (scram-sha-256 by default), made here.
        char* verifier = PQencryptPasswordConn(c, password->toUtf8().constData(), role.constData(), nullptr);
        if (!verifier)
            return serverFailure(c, nullptr, kAdministrator);
        sql += " PASSWORD " + quoted(c, verifier, false);
        PQfreemem(verifier);
    }
    return runOnServer(c, sql, {}, kAdministrator).status();
}

Status dropStaffRole(const QString& connection, const QString& name)
{
    const QByteArray role = name.toUtf8();
    Result<RoleState> state = askAboutRole(
        connection, role,
        "SELECT CASE WHEN NOT EXISTS (SELECT FROM pg_roles WHERE rolname = $1) THEN 'missing'"
        " WHEN $1 = (SELECT pg_get_userbyid(datdba) FROM pg_database WHERE datname = current_database())"
        " THEN 'owner'"
        " WHEN NOT EXISTS (SELECT FROM pg_auth_members m JOIN pg_roles r ON r.oid = m.member"
        " JOIN pg_roles g ON g.oid = m.roleid WHERE r.rolname = $1 AND g.rolname = $2) THEN 'stranger'"
        " ELSE '' END");
    if (!state)
        return state.failure();
    if (state->answer == u"missing")
        return roleRefused(QStringLiteral("服务器上没有名为 %1 的角色。").arg(name));
    if (state->answer == u"owner")
        return roleRefused(
            QStringLiteral("%1 是报告数据库的所有者（korvela-admin 所用的角色），不能删除。").arg(name));
    if (state->answer == u"stranger")
        return roleRefused(QStringLiteral("角色 %1 不属于组角色 %2，不是用 add-user 建立的工作人员，未删除。")
                               .arg(name, QString::fromLatin1(kStaffRole)));
    PGconn* c = state->conn.get();
    return runOnServer(c, "DROP ROLE " + quoted(c, role, true), {}, kAdministrator).status();
}

} // namespace korvela
