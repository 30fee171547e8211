#pragma once

#include "core/status.h"
#include "store/report_checksum.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <string_view>

struct sqlite3;
struct sqlite3_backup;

namespace korvela {

class SqliteStatement;

// The rows of one query, read one at a time. Failures carry SQLite's extended result code and
// its message.
class SqliteRows
{
public:
    enum class Type { Integer = 1, Real, Text, Blob, Null }; // SQLite's own numbers

    explicit SqliteRows(SqliteStatement statement);
    ~SqliteRows();
    SqliteRows(SqliteRows&& other) noexcept;
    SqliteRows& operator=(SqliteRows&&) = delete;

    // Moves to the next row: true on it, false after the last, a failure when the file fails.
    Result<bool> next();
    // Back before the first row; in the same read transaction the same rows come again.
    void rewind();

    Type type(int column) const;
    std::int64_t integer(int column) const;
    // A text's UTF-8 as stored, a blob's bytes, a number as its text; valid until the next move.
    std::string_view bytes(int column) const;
    // Adds the row's first `columns` values to a fingerprint as the file holds them: null as null,
    // an integer in decimal, anything else as its bytes.
    void addTo(CanonicalRow& row, int columns) const;

private:
    std::unique_ptr<SqliteStatement> m_statement;
};

// The count and checksum (report_checksum.h) of the reports the rows give from where they stand,
// their first 27 values being A1..A27.
Result<Checksum> checksumOf(SqliteRows& reports);

// A SQLite database file as the administrator's commands read, check and copy it, apart from the
// report program's connection. Failures carry SQLite's extended result code and its message.
class SqliteFile
{
public:
    enum class Access { ReadOnly, ReadWrite, Create };
    // Whether the name may also be a "file:" URI with parameters ("?immutable=1").
    enum class Naming { Path, PathOrUri };

    // Statements wait up to `busyTimeout` for another program's lock.
    static Result<SqliteFile> open(const QString& name, Access access, std::chrono::milliseconds busyTimeout,
                                   Naming naming = Naming::Path);
    ~SqliteFile();
    SqliteFile(SqliteFile&& other) noexcept;
    SqliteFile& operator=(SqliteFile&& other) noexcept;

    // Runs one statement, or several separated by semicolons.
    Status execute(const char* sql);
    Result<SqliteRows> rows(const QString& sql);
    // A1..A27, then the rowid, of table A's reports after `afterRowid`, in their order of entry.
    Result<SqliteRows> reports(std::int64_t afterRowid = std::numeric_limits<std::int64_t>::min());

private:
    friend class SqliteCopy;
    explicit SqliteFile(sqlite3* db);

    sqlite3* m_db = nullptr;
};

// SQLite's online backup of one database into another, some pages at a time. A read transaction
// open on the source keeps every step on the same snapshot.
class SqliteCopy
{
public:
    static Result<SqliteCopy> start(SqliteFile& target, SqliteFile& source);
    ~SqliteCopy();
    SqliteCopy(SqliteCopy&& other) noexcept;
    SqliteCopy& operator=(SqliteCopy&&) = delete;

    // Copies up to `pages` more pages: true once the copy is whole. A step that found the source
    // busy copied nothing and is no failure.
    Result<bool> step(int pages);

private:
    SqliteCopy(sqlite3* target, sqlite3_backup* backup);
    void finish();

    sqlite3* m_target;
    sqlite3_backup* m_backup;
};

// Whether a failure says the file is no database, or a damaged one.
bool notADatabaseOrDamaged(const Failure& failure);

// A1..A27, then the rowid, of table A's reports after `afterRowid` on a connection, in their
// order of entry.
Result<SqliteRows> reportRows(sqlite3* db, std::int64_t afterRowid);

} // namespace korvela
