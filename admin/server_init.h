#pragma once

#include "core/status.h"
#include "store/admin_store.h"

#include <QString>

namespace korvela::admin {

struct ServerInitOutcome
{
    bool created = false; // false: table a was there and nothing was changed
    QString server;       // "host:port/database"
};

// Makes the report schema (data/schema-postgresql.sql, built into the program) on the server of
// `connection` when table a is missing, in one transaction; an existing table is left as it is,
// so running it twice is safe. Two administrators running it at once make it once. Waiting for
// another session's lock ends after `lockTimeout` with nothing changed.
Result<ServerInitOutcome> initServer(const QString& connection,
                                     std::chrono::milliseconds lockTimeout = kReportTableWait);

} // namespace korvela::admin
