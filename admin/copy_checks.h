#pragma once

#include "core/status.h"
#include "store/report_checksum.h"
#include "store/sqlite_file.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include <sys/types.h>

// What backups and restores both do to a copy: open and check a database file, fingerprint a file,
// read a dump's rows back, count and checksum reports.
namespace korvela::admin::copies {

// A failure of a backup (FailureCode::BackupFailed).
Failure backupFailure(const QString& text);

// Opens a database file (a "file:" URI allowed), waiting up to 5 s for locks.
Result<SqliteFile> openSqlite(const QString& name, SqliteFile::Access access);
// A failure of the engine, said with what was being done.
Failure sqliteFailure(const Failure& engine, const QString& what);
Status exec(SqliteFile& db, const char* sql, const QString& what);

// Count and checksum of the reports of table A (report_checksum.h), in the connection's
// transaction.
Result<Checksum> tableChecksum(SqliteFile& db);
// What PRAGMA integrity_check says: "ok", or the problems found.
Result<QString> integrity(SqliteFile& db);

bool syncFile(const QString& path);
// Gives an open file or folder `mode` whatever the umask, and the group korvela when there is one
// and this process may give it (a failure to give the group is no failure).
bool giveToGroup(int fd, mode_t mode);
// The SHA-256 of a file's bytes, in hex; empty when it cannot be read.
QByteArray fileSha256(const QString& path);
// The fingerprint `sha256` of `copy` beside it (<copy>.sha256, mode 0640), in the form sha256sum
// reads ("<hex>  <name>").
bool writeFingerprint(const QString& copy, const QByteArray& sha256);
// Whether a copy matches its fingerprint; nothing when it has none.
std::optional<bool> matchesFingerprint(const QString& copy);

// The table a rows of a custom-format dump, read back by pg_restore, as the server's checksum
// query sees them: every value but the row id, null as null, everything else as its text.
Result<Checksum> dumpChecksum(const QString& dump);
// Runs a PostgreSQL client program; gives what went wrong, empty when it ran. `whileRunning` is
// called every half second until it ends.
QString runTool(const QString& program, const QStringList& args,
                const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                const std::function<void()>& whileRunning = [] {});

} // namespace korvela::admin::copies
