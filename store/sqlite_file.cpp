#include "store/sqlite_file.h"

#include "store/change_functions.h"
#include "store/sqlite_statement.h"

#include <QFile>

#include <utility>

namespace korvela {

namespace {

constexpr int kReportValues = 27;

} // namespace

SqliteRows::SqliteRows(SqliteStatement statement)
    : m_statement(std::make_unique<SqliteStatement>(std::move(statement)))
{
}

SqliteRows::~SqliteRows() = default;
SqliteRows::SqliteRows(SqliteRows&& other) noexcept = default;

Result<bool> SqliteRows::next()
{
    const int rc = sqlite3_step(m_statement->get());
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    return sqliteFailure(m_statement->db(), rc);
}

void SqliteRows::rewind()
{
    sqlite3_reset(m_statement->get());
}

SqliteRows::Type SqliteRows::type(int column) const
{
    return Type(sqlite3_column_type(m_statement->get(), column));
}

std::int64_t SqliteRows::integer(int column) const
{
    return sqlite3_column_int64(m_statement->get(), column);
}

std::string_view SqliteRows::bytes(int column) const
{
    // The text first, then its length: the order SQLite asks for.
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement->get(), column));
    return {text ? text : "", std::size_t(sqlite3_column_bytes(m_statement->get(), column))};
}

void SqliteRows::addTo(CanonicalRow& row, int columns) const
{
    for (int c = 0; c < columns; ++c) {
        switch (type(c)) {
        case Type::Null:
            row.addNull();
            break;
        case Type::Integer:
            row.addInteger(integer(c));
            break;
        default:
            row.addText(bytes(c));
        }
    }
}

Result<Checksum> checksumOf(SqliteRows& reports)
{
    Checksum sum;
    CanonicalRow row;
    for (;;) {
        Result<bool> more = reports.next();
        if (!more)
            return more.failure();
        if (!*more)
            return sum;
        row.clear();
        reports.addTo(row, kReportValues);
        sum.add(row.digest());
    }
}

bool notADatabaseOrDamaged(const Failure& failure)
{
    const int primary = failure.code & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

Result<SqliteRows> reportRows(sqlite3* db, std::int64_t afterRowid)
{
    SqliteStatement statement(
        db,
        {QStringLiteral("SELECT %1, rowid FROM A WHERE rowid > ?1 ORDER BY rowid").arg(reportColumnList()),
         {afterRowid}});
    if (!statement.ok())
        return sqliteFailure(db, statement.rc());
    return SqliteRows(std::move(statement));
}

SqliteFile::SqliteFile(sqlite3* db)
    : m_db(db)
{
}

SqliteFile::~SqliteFile()
{
    sqlite3_close_v2(m_db);
}

SqliteFile::SqliteFile(SqliteFile&& other) noexcept
    : m_db(std::exchange(other.m_db, nullptr))
{
}

SqliteFile& SqliteFile::operator=(SqliteFile&& other) noexcept
{
    std::swap(m_db, other.m_db);
    return *this;
}

Result<SqliteFile> SqliteFile::open(const QString& name, Access access, std::chrono::milliseconds busyTimeout,
                                    Naming naming)
{
    int flags = access == Access::ReadOnly    ? SQLITE_OPEN_READONLY
                : access == Access::ReadWrite ? SQLITE_OPEN_READWRITE
                                              : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (naming == Naming::PathOrUri)
        flags |= SQLITE_OPEN_URI;
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(name).constData(), &db, flags, nullptr);
    SqliteFile file(db);
    if (rc != SQLITE_OK)
        return sqliteFailure(db, rc);
    sqlite3_busy_timeout(db, int(busyTimeout.count()));
    if (const int registered = registerChangeFunctions(db); registered != SQLITE_OK)
        return sqliteFailure(db, registered);
    return file;
}

Status SqliteFile::execute(const char* sql)
{
    if (const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr); rc != SQLITE_OK)
        return sqliteFailure(m_db, rc);
    return {};
}

Result<SqliteRows> SqliteFile::rows(const QString& sql)
{
    SqliteStatement statement(m_db, {sql, {}});
    if (!statement.ok())
        return sqliteFailure(m_db, statement.rc());
    return SqliteRows(std::move(statement));
}

Result<SqliteRows> SqliteFile::reports(std::int64_t afterRowid)
{
    return reportRows(m_db, afterRowid);
}

SqliteCopy::SqliteCopy(sqlite3* target, sqlite3_backup* backup)
    : m_target(target)
    , m_backup(backup)
{
}

SqliteCopy::SqliteCopy(SqliteCopy&& other) noexcept
    : m_target(other.m_target)
    , m_backup(std::exchange(other.m_backup, nullptr))
{
}

SqliteCopy::~SqliteCopy()
{
    finish();
}

void SqliteCopy::finish()
{
    sqlite3_backup_finish(m_backup);
    m_backup = nullptr;
}

Result<SqliteCopy> SqliteCopy::start(SqliteFile& target, SqliteFile& source)
{
    sqlite3_backup* backup = sqlite3_backup_init(target.m_db, "main", source.m_db, "main");
    if (!backup)
        return sqliteFailure(target.m_db, SQLITE_ERROR);
    return SqliteCopy(target.m_db, backup);
}

Result<bool> SqliteCopy::step(int pages)
{
    const int rc = sqlite3_backup_step(m_backup, pages);
    if (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
        return false;
    // Finishing leaves the step's failure, if any, on the target's connection.
    finish();
    if (rc != SQLITE_DONE)
        return sqliteFailure(m_target, rc);
    return true;
}

} // namespace korvela
