#pragma once

#include "admin/row_checksum.h"
#include "core/status.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

struct sqlite3;
struct pg_conn;

// What backups and restores both do to a copy: open and check a database file, fingerprint a file,
// read a dump's rows back, count and checksum reports.
namespace korvela::admin::copies {

// A failure of a backup (FailureCode::BackupFailed).
Failure backupFailure(const QString& text);

struct SqliteCloser
{
    void operator()(sqlite3* db) const;
};
using Sqlite = std::unique_ptr<sqlite3, SqliteCloser>;

// Opens a database file with sqlite3_open_v2 flags (URIs allowed), waiting up to 5 s for locks.
Result<Sqlite> openSqlite(const QString& path, int flags);
Failure sqliteFailure(sqlite3* db, const QString& what);
Status exec(sqlite3* db, const char* sql, const QString& what);

// Count and checksum of every value of table A, row ids included, in the connection's transaction.
Result<Checksum> tableChecksum(sqlite3* db);
// What PRAGMA integrity_check says: "ok", or the problems found.
Result<QString> integrity(sqlite3* db);

bool syncFile(const QString& path);
// The copy's fingerprint beside it, in the form sha256sum reads ("<hex>  <name>").
bool writeFingerprint(const QString& copy);
// Whether a copy matches its fingerprint; nothing when it has none.
std::optional<bool> matchesFingerprint(const QString& copy);

// The table a rows of a custom-format dump, read back by pg_restore, as the server's checksum
// query sees them: every value but the row id, null as null, everything else as its text.
Result<Checksum> dumpChecksum(const QString& dump);
// The server's own count and checksum of table a, in the session's transaction.
Result<Checksum> serverChecksum(pg_conn* conn);
// Runs a PostgreSQL client program; gives what went wrong, empty when it ran.
QString runTool(const QString& program, const QStringList& args);

} // namespace korvela::admin::copies
