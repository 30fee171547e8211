#pragma once

#include "core/failure_codes.h"
#include "core/status.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

namespace korvela {

// A column value as the database gives it: null, an integer, a real or a text.
using Value = std::variant<std::monostate, std::int64_t, double, QString>;

inline bool isNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }
// Text form of a value: null gives the empty text, numbers their decimal text.
QString valueToText(const Value& v);

// SQL text with positional parameters (?1, ?2, ...) and the values bound to them.
// Everything a user typed travels in `args`, never inside `sql`. The server store sends the
// parameters as $1, $2, ..., which is how its engine writes them.
struct Statement
{
    QString sql;
    std::vector<Value> args;
};

// A client-side result set, for reading: the rows are copied when it is opened, so its record
// count is exact at once and later writes or deletes by anyone leave them as they were. Reports
// are written with statements (ReportDatabase::execute).
class ResultSet
{
public:
    virtual ~ResultSet() = default;

    // Closes the set first when it is open, then runs the statement and copies its rows. The set
    // stands on its first row (or on no row when nothing was found).
    virtual Status open(const Statement& statement) = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;

    virtual int recordCount() const = 0;
    // True while the set stands on a row.
    virtual bool hasCurrentRow() const = 0;
    virtual Status moveFirst() = 0;
    // Moving before the first or past the last row leaves the set on no row; that move itself
    // succeeds, reading a field afterwards fails.
    virtual Status movePrevious() = 0;
    virtual Status moveNext() = 0;

    // The current row's value of a column, by lower-case name ("a1".."a27").
    virtual Result<Value> field(const QString& name) const = 0;
};

// What a program does with the reports: the report window reads and writes them; a program that
// only reads them opens the store so that it cannot write (a read-only file or server role is
// enough for it).
enum class StoreAccess { ReadWrite, ReadOnly };

// The version of the store's tables that this program reads and writes: 1 keeps every report's
// history and the access log beside table A. A file records it in PRAGMA user_version, a server in
// table korvela_schema; a store of today's reports without them is version 0.
inline constexpr int kSchemaVersion = 1;

// The engines differ in how a few conditions are written (case folding, trimming, row locks);
// statements that use them are built for the engine of the database they run on.
enum class SqlDialect { Sqlite, Postgres };

// The one connection to the report database for the whole run.
class ReportDatabase
{
public:
    virtual ~ReportDatabase() = default;

    virtual SqlDialect dialect() const = 0;

    virtual bool isOpen() const = 0;
    virtual void close() = 0;

    virtual Status begin() = 0;
    virtual Status commit() = 0;
    virtual Status rollback() = 0;
    virtual bool inTransaction() const = 0;

    // Runs a statement that returns no rows.
    virtual Status execute(const Statement& statement) = 0;

    // A result set on this connection, closed.
    virtual std::unique_ptr<ResultSet> createResultSet() = 0;
};

} // namespace korvela
