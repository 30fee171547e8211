#pragma once

// The SQLite statement that the report database and the administrator's files share.

#include "core/database.h"

#include <sqlite3.h>

namespace korvela {

// "A1, A2, ..., A27": the report table's value columns, in order.
QString reportColumnList();

// SQLite's extended result code and message for the connection's last failure (or for `rc`
// alone when there is no connection), as the engine words it.
Failure sqliteFailure(sqlite3* db, int rc);

// One prepared statement with its arguments bound; finalized with its owner.
class SqliteStatement
{
public:
    SqliteStatement(sqlite3* db, const Statement& statement, unsigned prepareFlags = 0);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&&) = delete;

    // SQLITE_OK when it was prepared and bound.
    int rc() const { return m_rc; }
    bool ok() const { return m_rc == SQLITE_OK; }
    sqlite3* db() const { return m_db; }
    sqlite3_stmt* get() const { return m_stmt; }

    // SQLite binds are 1-based.
    int bind(int index, const Value& value);
    // Steps until the statement is done: SQLITE_DONE, or the code it failed with.
    int run();
    // Back before its first row with nothing bound, for the next use.
    void reset();

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc = SQLITE_OK;
};

} // namespace korvela
