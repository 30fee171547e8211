#pragma once

// What korvela-admin reads of a store's history and access log (row by row, so a million changes
// never sit in memory), and the server's login roles of the staff, one per person.

#include "core/database.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace korvela {

// Queries on a store in one read-only snapshot, on a connection of the reader's own. Values come
// as the store holds them: null, an integer (the server's integer types too), a real, or a text
// (a blob's bytes as UTF-8).
class StoreReader
{
public:
    virtual ~StoreReader() = default;

    virtual SqlDialect dialect() const = 0;

    // Hands each row of `query` to `row`, the server's rows a few thousand at a time. A failure of
    // `row` ends the reading and is given back; so does `row` answering false, with no failure.
    using RowHandler = std::function<Result<bool>(const std::vector<Value>& values)>;
    virtual Status eachRow(const Statement& query, const RowHandler& row) = 0;
};

// The file, opened read-only; statements wait up to ten seconds for a writer's lock.
Result<std::unique_ptr<StoreReader>> readFile(const QString& path);
// The server of a libpq connection string ("service=korvela"), in a read-only transaction.
Result<std::unique_ptr<StoreReader>> readServer(const QString& connection);

// The group role every person's login role belongs to; its rights are the staff's.
inline constexpr char kStaffRole[] = "korvela_staff";

// On the server of `connection`: a login role named `name` in the staff's group, with the password
// when one is given (sent only as its SCRAM verifier, never in plain text). Refused when a role of
// that name exists.
Status createStaffRole(const QString& connection, const QString& name, const std::optional<QString>& password);
// Drops the login role `name`; refused for the database's owner and for a role that is not a
// member of the staff's group.
Status dropStaffRole(const QString& connection, const QString& name);

} // namespace korvela
