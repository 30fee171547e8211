#pragma once

#include "core/database.h"

#include <QString>
#include <vector>

namespace korvela {

// The statements that bring a store of today's reports (version 0) to kSchemaVersion, run in one
// transaction: the history of every report (report_history), the access log (access_log), the
// head of each hash chain (korvela_chain), the triggers on table A that write the history in the
// transaction of each change, and the version itself. On the server also the group role
// korvela_staff and its rights: the staff change reports and read the history and the log, and
// add to them only through the triggers and korvela_log_access().
std::vector<QString> historySchema(SqlDialect dialect);

// The staff's rights on a server store (none on a file, whose users the file system decides),
// given again where a restore of a dump left them out.
std::vector<QString> historyRights(SqlDialect dialect);

} // namespace korvela
