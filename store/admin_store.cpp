#include "store/admin_store.h"

#include "core/failure_codes.h"
#include "store/postgres_database.h"
#include "store/server_connection.h"
#include "store/sqlite_database.h"
#include "store/sqlite_file.h"
#include "store/sqlite_statement.h"

#include <QStringList>
#include <optional>

namespace korvela {

namespace {

constexpr int kReportValues = 27;

Statement insertReport()
{
    Statement insert{QStringLiteral("INSERT INTO A (%1) VALUES (").arg(reportColumnList()), {}};
    for (int c = 1; c <= kReportValues; ++c)
        insert.sql += QStringLiteral("?%1%2").arg(c).arg(c < kReportValues ? u", " : u")");
    return insert;
}

class FileStore final : public AdminStore
{
public:
    FileStore(std::unique_ptr<SqliteReportDatabase> db, const QString& path)
        : m_db(std::move(db))
        , m_path(path)
    {
    }

    ReportDatabase& reports() override { return *m_db; }
    QString name() const override { return m_path; }
    Status keepOtherWritersOut() override { return {}; }

    // One statement prepared once, bound afresh for each report.
    Status addReport(const std::vector<Value>& values) override
    {
        if (!m_insert) {
            m_insert.emplace(m_db->handle(), insertReport(), SQLITE_PREPARE_PERSISTENT);
            if (!m_insert->ok())
                return failure();
        }
        for (std::size_t c = 0; c < values.size(); ++c)
            if (m_insert->bind(int(c) + 1, values[c]) != SQLITE_OK)
                return failure();
        const int rc = m_insert->run();
        m_insert->reset();
        if (rc != SQLITE_DONE)
            return failure();
        return {};
    }

    Result<Checksum> reportChecksum(std::int64_t afterRowid) override
    {
        Result<SqliteRows> rows = reportRows(m_db->handle(), afterRowid);
        Result<Checksum> sum = rows ? checksumOf(*rows) : Result<Checksum>(rows.failure());
        if (!sum)
            return failure();
        return sum;
    }

    void refreshStatistics() override {}

private:
    Failure failure() const
    {
        const Failure engine = sqliteFailure(m_db->handle(), SQLITE_ERROR);
        return {
            engine.code,
            QStringLiteral("数据库错误（%1，SQLite 代码 %2）。").arg(engine.description).arg(engine.code)};
    }

    std::unique_ptr<SqliteReportDatabase> m_db;
    QString m_path;
    std::optional<SqliteStatement> m_insert;
};

class ServerStore final : public AdminStore
{
public:
    explicit ServerStore(std::unique_ptr<PostgresReportDatabase> db)
        : m_db(std::move(db))
        , m_insert(insertReport())
    {
    }

    ReportDatabase& reports() override { return *m_db; }
    QString name() const override { return QStringLiteral("服务器 %1").arg(serverName(m_db->handle())); }

    Status keepOtherWritersOut() override
    {
        return m_db->execute({QStringLiteral("LOCK TABLE a IN EXCLUSIVE MODE"), {}});
    }

    Status addReport(const std::vector<Value>& values) override
    {
        m_insert.args = values;
        return m_db->execute(m_insert);
    }

    Result<Checksum> reportChecksum(std::int64_t afterRowid) override
    {
        return serverChecksum(m_db->handle(), afterRowid, Audience::Administrator);
    }

    void refreshStatistics() override
    {
        (void)runOnServer(m_db->handle(), "VACUUM (ANALYZE) a", {}, Audience::Administrator,
                          StatementKind::Script);
    }

private:
    std::unique_ptr<PostgresReportDatabase> m_db;
    Statement m_insert;
};

} // namespace

std::unique_ptr<AdminStore> administer(std::unique_ptr<SqliteReportDatabase> db, const QString& path)
{
    return std::make_unique<FileStore>(std::move(db), path);
}

std::unique_ptr<AdminStore> administer(std::unique_ptr<PostgresReportDatabase> db, const QString&)
{
    return std::make_unique<ServerStore>(std::move(db));
}

Failure reportTableWait(const Failure& failure, const QString& connection, std::chrono::milliseconds waited)
{
    if (failure.code != FailureCode::ServerLockTimeout)
        return failure;
    std::vector<OtherSession> holders;
    if (Result<ServerSession> session = ServerSession::open(connection, std::chrono::seconds(1)))
        if (Result<std::vector<OtherSession>> found = session->reportTableHolders())
            holders = std::move(*found);
    return {failure.code,
            QStringLiteral("等待其他工作站释放报告表 a 超过 %1 秒，未作任何改动。%2请等各工作站保存或删除完毕"
                           "（或答完其上打开的“是否更改？”提问）后再试。")
                .arg(QString::number(double(waited.count()) / 1000, 'g', 3),
                     holders.empty() ? QString()
                                     : QStringLiteral("占用报告表的会话：%1。").arg(describeSessions(holders)))};
}

} // namespace korvela
