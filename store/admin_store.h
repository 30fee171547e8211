#pragma once

#include "core/database.h"
#include "store/report_checksum.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace korvela {

class PostgresReportDatabase;
class SqliteReportDatabase;

// The configured store as korvela-admin adds reports to it: the reports through ReportDatabase,
// and what each engine does in its own way beside them.
class AdminStore
{
public:
    virtual ~AdminStore() = default;

    virtual ReportDatabase& reports() = 0;
    // Where the reports are: the file's path, or "服务器 host:port/database".
    virtual QString name() const = 0;

    // Keeps every other writer out until the open transaction ends (the embedded store's
    // transaction holds the file's write lock from its start already).
    virtual Status keepOtherWritersOut() = 0;
    // Adds one report, its 27 values in column order, in the open transaction.
    virtual Status addReport(const std::vector<Value>& values) = 0;
    // The count and checksum of the reports after `afterRowid`, computed from the values as the
    // store holds them.
    virtual Result<Checksum> reportChecksum(std::int64_t afterRowid) = 0;
    // After many reports were added, the planner's figures brought up to date at once rather than
    // at the next autovacuum. The reports are in whatever comes of it.
    virtual void refreshStatistics() = 0;
};

// `path`: the file's path as the store was chosen by it.
std::unique_ptr<AdminStore> administer(std::unique_ptr<SqliteReportDatabase> db, const QString& path);
// `connection`: the connection string it was opened with (the name given is the server's own).
std::unique_ptr<AdminStore> administer(std::unique_ptr<PostgresReportDatabase> db, const QString& connection);

// How long korvela-admin waits for a workstation to let go of the report table: as long as a
// workstation waits for another, so an administrator queued for the table holds a save up no
// longer than a save may wait.
inline constexpr std::chrono::seconds kReportTableWait{5};

// The failure of a statement that waited longer than `waited` for another session's lock on the
// report table, said as what it waited for and naming the sessions holding the table (asked on a
// connection of its own to `connection`); any other failure as it is.
Failure reportTableWait(const Failure& failure, const QString& connection, std::chrono::milliseconds waited);

} // namespace korvela
