#pragma once

#include "core/database.h"

namespace korvela {

// The version the store's tables are at (core/database.h kSchemaVersion): the file's
// PRAGMA user_version, the server's table korvela_schema; 0 when it records none.
Result<int> schemaVersion(ReportDatabase& db);

// Succeeds when the store is at the program's version; otherwise the failure says which it is and
// that korvela-admin upgrade brings it up.
Status requireCurrentSchema(ReportDatabase& db);

} // namespace korvela
