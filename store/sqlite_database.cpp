#include "store/sqlite_database.h"

#include "core/snapshot_result_set.h"
#include "store/change_functions.h"
#include "store/sqlite_statement.h"

#include <QByteArray>

#include <sqlite3.h>

#include <cstring>
#include <memory>

namespace korvela {

namespace {

Failure engineFailure(sqlite3* db, int rc)
{
    const auto [code, detail] = sqliteFailure(db, rc);
    const int primary = code & 0xff;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        return {code, QStringLiteral("数据库正被其他程序占用，等待超时后仍无法读写（%1）。").arg(detail)};
    if (primary == SQLITE_READONLY || primary == SQLITE_PERM || primary == SQLITE_CANTOPEN)
        return {code, QStringLiteral("数据库文件无法写入或打开（%1）。").arg(detail)};
    if (primary == SQLITE_FULL)
        return {code, QStringLiteral("磁盘已满，数据无法写入（%1）。").arg(detail)};
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB)
        return {code, QStringLiteral("数据库文件已损坏或不是数据库（%1）。").arg(detail)};
    return {code, QStringLiteral("数据库错误（%1）。").arg(detail)};
}

// The rows of a snapshot in blocks that never move: growing never copies what was read and never
// needs room for it twice, and closing gives whole blocks back. A row lies in one block as the end
// offset of each cell (uint32), each cell's type, then the cells' bytes.
class RowStore
{
public:
    void clear()
    {
        m_blocks.clear();
        m_rows = {};
        m_used = m_size = 0;
    }

    // Copies the current row of the statement.
    void add(sqlite3_stmt* s, int columns)
    {
        m_cells.resize(std::size_t(columns));
        std::size_t bytes = 0;
        for (int c = 0; c < columns; ++c) {
            Cell& cell = m_cells[std::size_t(c)];
            cell.type = std::uint8_t(sqlite3_column_type(s, c));
            if (cell.type == SQLITE_INTEGER) {
                const sqlite3_int64 i = sqlite3_column_int64(s, c);
                std::memcpy(cell.number, &i, sizeof i);
                cell.data = cell.number;
                cell.size = sizeof i;
            } else if (cell.type == SQLITE_FLOAT) {
                const double d = sqlite3_column_double(s, c);
                std::memcpy(cell.number, &d, sizeof d);
                cell.data = cell.number;
                cell.size = sizeof d;
            } else if (cell.type == SQLITE_NULL) {
                cell.data = nullptr;
                cell.size = 0;
            } else {
                cell.data = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
                cell.size = std::size_t(sqlite3_column_bytes(s, c));
            }
            bytes += cell.size;
        }
        const std::size_t header = std::size_t(columns) * (sizeof(std::uint32_t) + 1);
        char* row = reserve(header + bytes);
        std::size_t end = 0;
        char* data = row + header;
        for (int c = 0; c < columns; ++c) {
            const Cell& cell = m_cells[std::size_t(c)];
            if (cell.size)
                std::memcpy(data + end, cell.data, cell.size);
            end += cell.size;
            const auto e = std::uint32_t(end);
            std::memcpy(row + std::size_t(c) * sizeof e, &e, sizeof e);
            row[std::size_t(columns) * sizeof e + std::size_t(c)] = char(cell.type);
        }
        m_rows.push_back(row);
    }

    std::size_t rows() const { return m_rows.size(); }

    Value value(std::size_t row, int column, int columns) const
    {
        const char* start = m_rows[row];
        const auto endOf = [&](int c) {
            std::uint32_t e = 0;
            if (c >= 0)
                std::memcpy(&e, start + std::size_t(c) * sizeof e, sizeof e);
            return std::size_t(e);
        };
        const auto type = std::uint8_t(start[std::size_t(columns) * sizeof(std::uint32_t) + std::size_t(column)]);
        const char* data = start + std::size_t(columns) * (sizeof(std::uint32_t) + 1) + endOf(column - 1);
        const std::size_t size = endOf(column) - endOf(column - 1);
        switch (type) {
        case SQLITE_INTEGER: {
            std::int64_t i;
            std::memcpy(&i, data, sizeof i);
            return i;
        }
        case SQLITE_FLOAT: {
            double d;
            std::memcpy(&d, data, sizeof d);
            return d;
        }
        case SQLITE_NULL:
            return std::monostate{};
        default:
            return QString::fromUtf8(data, qsizetype(size));
        }
    }

private:
    static constexpr std::size_t kBlockBytes = std::size_t(4) << 20;

    struct Cell
    {
        std::uint8_t type;
        const char* data;
        std::size_t size;
        char number[8];
    };

    char* reserve(std::size_t bytes)
    {
        m_used = (m_used + 3) & ~std::size_t(3); // the offsets stay aligned
        if (m_blocks.empty() || m_used + bytes > m_size) {
            m_size = std::max(kBlockBytes, bytes);
            m_blocks.push_back(std::make_unique_for_overwrite<char[]>(m_size));
            m_used = 0;
        }
        char* at = m_blocks.back().get() + m_used;
        m_used += bytes;
        return at;
    }

    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::vector<const char*> m_rows;
    std::vector<Cell> m_cells;
    std::size_t m_used = 0;
    std::size_t m_size = 0;
};

// The rows of one query, copied as the engine gave them.
class SqliteSnapshot final : public Snapshot
{
public:
    std::size_t rows() const override { return store.rows(); }
    const std::vector<QString>& columns() const override { return names; }
    Value value(std::size_t row, int column) const override { return store.value(row, column, int(names.size())); }

    std::vector<QString> names;
    RowStore store;
};

Result<std::unique_ptr<Snapshot>> fetch(sqlite3* db, const Statement& statement)
{
    SqliteStatement stmt(db, statement);
    if (!stmt.ok())
        return engineFailure(db, stmt.rc());
    sqlite3_stmt* s = stmt.get();
    auto snapshot = std::make_unique<SqliteSnapshot>();
    const int columns = sqlite3_column_count(s);
    snapshot->names.reserve(std::size_t(columns));
    for (int c = 0; c < columns; ++c)
        snapshot->names.push_back(QString::fromUtf8(sqlite3_column_name(s, c)).toLower());
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW)
        snapshot->store.add(s, columns);
    if (rc != SQLITE_DONE)
        return engineFailure(db, rc);
    return std::unique_ptr<Snapshot>(std::move(snapshot));
}

} // namespace

SqliteReportDatabase::~SqliteReportDatabase()
{
    close();
}

Status SqliteReportDatabase::open(const QString& path, std::chrono::milliseconds timeout, StoreAccess access)
{
    close();
    sqlite3* db = nullptr;
    // Never create: a missing file is a failure, not an empty database.
    const bool write = access == StoreAccess::ReadWrite;
    const int rc =
        sqlite3_open_v2(path.toUtf8().constData(), &db, write ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY, nullptr);
    if (rc != SQLITE_OK) {
        Failure f = engineFailure(db, rc);
        sqlite3_close_v2(db);
        return f;
    }
    m_db = db;
    sqlite3_busy_timeout(m_db, int(timeout.count()));
    sqlite3_extended_result_codes(m_db, 1);
    if (const int registered = registerChangeFunctions(m_db); registered != SQLITE_OK) {
        Failure f = engineFailure(m_db, registered);
        close();
        return f;
    }
    if (write && sqlite3_db_readonly(m_db, "main") == 1) {
        close();
        return Failure{SQLITE_READONLY, QStringLiteral("数据库文件只读，报告无法保存。")};
    }
    // A committed save survives a crash or a power cut.
    for (const char* pragma : {"PRAGMA synchronous=FULL", "PRAGMA foreign_keys=OFF"}) {
        if (const Status s = execute({QString::fromLatin1(pragma), {}}); !s) {
            close();
            return s;
        }
    }
    // The file must hold the report table: this also rejects files that are no database.
    if (const Status s = execute({QStringLiteral("SELECT * FROM A LIMIT 0"), {}}); !s) {
        close();
        return s;
    }
    return {};
}

void SqliteReportDatabase::close()
{
    if (!m_db)
        return;
    if (inTransaction())
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(m_db);
    m_db = nullptr;
}

// The write lock is taken at the start, so a transaction never fails half-way for a lock that
// another program took after it began; waiting for that lock is bounded by the time-out.
Status SqliteReportDatabase::begin()
{
    return execute({QStringLiteral("BEGIN IMMEDIATE"), {}});
}

Status SqliteReportDatabase::commit()
{
    return execute({QStringLiteral("COMMIT"), {}});
}

Status SqliteReportDatabase::rollback()
{
    if (!inTransaction())
        return {};
    return execute({QStringLiteral("ROLLBACK"), {}});
}

bool SqliteReportDatabase::inTransaction() const
{
    return m_db && sqlite3_get_autocommit(m_db) == 0;
}

Status SqliteReportDatabase::execute(const Statement& statement)
{
    if (!m_db)
        return notOpenFailure();
    SqliteStatement stmt(m_db, statement);
    if (!stmt.ok())
        return engineFailure(m_db, stmt.rc());
    if (const int rc = stmt.run(); rc != SQLITE_DONE)
        return engineFailure(m_db, rc);
    return {};
}

std::unique_ptr<ResultSet> SqliteReportDatabase::createResultSet()
{
    return std::make_unique<SnapshotResultSet>(*this, [this](const Statement& statement) {
        return fetch(m_db, statement);
    });
}

} // namespace korvela
