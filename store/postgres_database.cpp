#include "store/postgres_database.h"

#include "core/snapshot_result_set.h"
#include "store/server_connection.h"

#include <libpq-fe.h>

#include <QByteArray>

#include <memory>

namespace korvela {

namespace {

// Type identifiers of the server's built-in types (pg_type.oid), as libpq reports them.
constexpr Oid kBool = 16, kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700, kFloat8 = 701, kNumeric = 1700;

constexpr Audience kWorkstation = Audience::Workstation;

bool connectionLost(PGconn* conn)
{
    return PQstatus(conn) != CONNECTION_OK;
}

// The parameters as text (the server converts them to the column's type), kept alive for the call.
struct Parameters
{
    std::vector<QByteArray> texts;
    std::vector<const char*> values;

    static Result<Parameters> of(const std::vector<Value>& args)
    {
        Parameters p;
        p.texts.reserve(args.size());
        for (const Value& v : args) {
            if (const auto* i = std::get_if<std::int64_t>(&v))
                p.texts.push_back(QByteArray::number(qlonglong(*i)));
            else if (const auto* d = std::get_if<double>(&v))
                p.texts.push_back(QByteArray::number(*d, 'g', 17));
            else if (const auto* s = std::get_if<QString>(&v)) {
                // Text parameters travel as C strings and the server stores no U+0000: refused
                // rather than cut short.
                if (s->contains(QChar(u'\0')))
                    return Failure{FailureCode::TextNotStorable,
                                   QStringLiteral("文字中含有数据库无法保存的控制字符（U+0000），请删除后再保存。")};
                p.texts.push_back(s->toUtf8());
            } else
                p.texts.push_back({});
        }
        for (std::size_t i = 0; i < args.size(); ++i)
            p.values.push_back(isNull(args[i]) ? nullptr : p.texts[i].constData());
        return p;
    }
};

Result<ServerResult> run(PGconn* conn, const Statement& statement)
{
    Result<Parameters> params = Parameters::of(statement.args);
    if (!params)
        return params.failure();
    return runOnServer(conn, serverParameters(statement.sql).toUtf8(), params->values, kWorkstation);
}

// The rows of one query, in the result the server sent.
class ServerSnapshot final : public Snapshot
{
public:
    explicit ServerSnapshot(ServerResult result)
        : m_result(std::move(result))
        , m_rows(std::size_t(PQntuples(m_result.get())))
    {
        const int columns = PQnfields(m_result.get());
        for (int c = 0; c < columns; ++c) {
            m_names.push_back(QString::fromUtf8(PQfname(m_result.get(), c)).toLower());
            m_types.push_back(PQftype(m_result.get(), c));
        }
    }

    std::size_t rows() const override { return m_rows; }
    const std::vector<QString>& columns() const override { return m_names; }

    Value value(std::size_t row, int column) const override
    {
        PGresult* r = m_result.get();
        if (PQgetisnull(r, int(row), column))
            return std::monostate{};
        const char* text = PQgetvalue(r, int(row), column);
        switch (m_types[std::size_t(column)]) {
        case kInt2:
        case kInt4:
        case kInt8:
            return std::int64_t(std::strtoll(text, nullptr, 10));
        case kFloat4:
        case kFloat8:
        case kNumeric:
            return std::strtod(text, nullptr);
        case kBool:
            return std::int64_t(text[0] == 't' ? 1 : 0);
        default: // texts, and dates in ISO form (the session's DateStyle)
            return QString::fromUtf8(text, PQgetlength(r, int(row), column));
        }
    }

private:
    ServerResult m_result;
    std::size_t m_rows;
    std::vector<QString> m_names;
    std::vector<Oid> m_types;
};

} // namespace

QString serverParameters(const QString& sql)
{
    QString out;
    out.reserve(sql.size());
    QChar quote;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == u'\'' || c == u'"') {
            quote = c;
        } else if (c == u'?' && i + 1 < sql.size() && sql[i + 1].isDigit()) {
            out += u'$';
            continue;
        }
        out += c;
    }
    return out;
}

QString describeServer(PGconn* conn)
{
    if (!conn)
        return QStringLiteral("(no connection)");
    const auto text = [](const char* s) { return s ? QString::fromUtf8(s) : QString(); };
    return QStringLiteral("%1:%2/%3 as %4").arg(text(PQhost(conn)), text(PQport(conn)), text(PQdb(conn)), text(PQuser(conn)));
}

PostgresReportDatabase::~PostgresReportDatabase()
{
    close();
}

Status PostgresReportDatabase::open(const QString& connection, std::chrono::milliseconds lockTimeout,
                                    StoreAccess access)
{
    close();
    m_lockTimeout = lockTimeout;
    m_access = access;
    Result<ServerConnection> connected = connectToServer(connection, {lockTimeout, access}, kWorkstation);
    if (!connected)
        return connected.failure();
    m_conn = connected->release();
    // The database must hold the report table and be writable (a standby or a read-only
    // database is refused here rather than at the first save).
    const QString privileges = access == StoreAccess::ReadWrite ? QStringLiteral("SELECT, INSERT, UPDATE, DELETE")
                                                                 : QStringLiteral("SELECT");
    Result<ServerResult> readOnly =
        run(m_conn, {QStringLiteral("SELECT current_setting('transaction_read_only'), "
                                    "has_table_privilege('a', '%1')")
                         .arg(privileges),
                     {}});
    if (!readOnly) {
        const Failure f{FailureCode::ServerNotUsable,
                        QStringLiteral("服务器上没有报告数据表（%1）。请先运行 korvela-admin server-init。").arg(readOnly.failure().description)};
        close();
        return f;
    }
    const bool serverReadOnly = qstrcmp(PQgetvalue(readOnly->get(), 0, 0), "on") == 0;
    if ((access == StoreAccess::ReadWrite && serverReadOnly) || qstrcmp(PQgetvalue(readOnly->get(), 0, 1), "t") != 0) {
        close();
        return Failure{FailureCode::ServerNotUsable, QStringLiteral("服务器上的报告数据库只读或无权写入，报告无法保存。")};
    }
    return {};
}

Status PostgresReportDatabase::reconnectIfLost()
{
    if (!m_conn)
        return notOpenFailure();
    if (!connectionLost(m_conn))
        return {};
    PQreset(m_conn);
    if (connectionLost(m_conn))
        return Failure{FailureCode::ServerConnectionLost,
                       QStringLiteral("与数据库服务器的连接已断开，重新连接失败（%1）。")
                           .arg(QString::fromUtf8(PQerrorMessage(m_conn)).trimmed())};
    return prepareSession(m_conn, {m_lockTimeout, m_access}, kWorkstation);
}

void PostgresReportDatabase::close()
{
    if (!m_conn)
        return;
    PQfinish(m_conn); // an open transaction ends with the session, rolled back
    m_conn = nullptr;
}

Status PostgresReportDatabase::begin()
{
    if (Status s = reconnectIfLost(); !s)
        return s;
    Result<ServerResult> r = run(m_conn, {QStringLiteral("BEGIN"), {}});
    // A connection the server ended since the last statement shows only now; nothing was done
    // in it yet, so the transaction starts once more on a new one.
    if (!r && r.failure().code == FailureCode::ServerConnectionLost) {
        if (Status s = reconnectIfLost(); !s)
            return s;
        r = run(m_conn, {QStringLiteral("BEGIN"), {}});
    }
    if (!r)
        return r.failure();
    return {};
}

Status PostgresReportDatabase::commit()
{
    return execute({QStringLiteral("COMMIT"), {}});
}

Status PostgresReportDatabase::rollback()
{
    if (!inTransaction())
        return {};
    return execute({QStringLiteral("ROLLBACK"), {}});
}

bool PostgresReportDatabase::inTransaction() const
{
    if (!m_conn)
        return false;
    const PGTransactionStatusType t = PQtransactionStatus(m_conn);
    return t == PQTRANS_INTRANS || t == PQTRANS_INERROR || t == PQTRANS_ACTIVE;
}

Status PostgresReportDatabase::execute(const Statement& statement)
{
    if (!m_conn)
        return notOpenFailure();
    if (!inTransaction())
        if (Status s = reconnectIfLost(); !s)
            return s;
    if (Result<ServerResult> r = run(m_conn, statement); !r)
        return r.failure();
    return {};
}

int PostgresReportDatabase::serverProcess() const
{
    return m_conn ? PQbackendPID(m_conn) : 0;
}

std::unique_ptr<ResultSet> PostgresReportDatabase::createResultSet()
{
    return std::make_unique<SnapshotResultSet>(
        *this, [this](const Statement& statement) -> Result<std::unique_ptr<Snapshot>> {
            const bool alone = !inTransaction();
            if (alone)
                if (Status s = reconnectIfLost(); !s)
                    return s.failure();
            Result<ServerResult> r = run(m_conn, statement);
            // A search outside a transaction reads only: it is asked once more on a new
            // connection when the server had ended the old one.
            if (!r && alone && r.failure().code == FailureCode::ServerConnectionLost) {
                if (Status s = reconnectIfLost(); !s)
                    return s.failure();
                r = run(m_conn, statement);
            }
            if (!r)
                return r.failure();
            return std::unique_ptr<Snapshot>(std::make_unique<ServerSnapshot>(std::move(*r)));
        });
}

} // namespace korvela
