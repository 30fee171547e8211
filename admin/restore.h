#pragma once

#include "core/status.h"
#include "store/report_checksum.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace korvela::admin {

struct RestoreSummary
{
    Checksum reports;
    // What was there before, kept: Data.Dat.before-restore-<time> and its -wal and -shm as far as
    // they were there; for a server, the dump of it taken before the restore.
    QStringList keptAside;
};

// Where the sessions of every user keep their runtime folders (/run/user/<uid>).
inline const QString kSessionsRoot = QStringLiteral("/run/user");

// Whether Korvela runs from this program folder on this machine, for any user whose lock this
// process can see: this process's runtime folder, each session's under `sessionsRoot`, and the
// temporary folders Qt falls back on.
bool programRunning(const QString& programFolder, const QString& sessionsRoot);

// The steps of restoreDataFile after which the files on disk stand differently: the checked copy
// lies beside Data.Dat, the current database is kept aside, the copy has taken its place.
enum class RestoreStep { Copied, KeptAside, Replaced };

// What restoreDataFile asks of the machine beyond its own files, replaceable by a test.
struct RestoreHooks
{
    QString sessionsRoot = kSessionsRoot;
    // rename(2): a file takes another's name in one step, or nothing changes.
    std::function<bool(const QString& from, const QString& to)> rename = renameFile;
    // Hears of each step as it is done.
    std::function<void(RestoreStep)> reached = [](RestoreStep) {};

    static bool renameFile(const QString& from, const QString& to);
};

// Puts a copy back in place of Data.Dat: refused while Korvela runs, and for a copy that fails the
// checks (its fingerprint, integrity_check, table A). Whatever lies at Data.Dat and its -wal and
// -shm is kept aside under Data.Dat.before-restore-<time> with the same suffixes, whatever state
// it is in (damaged, no database at all, a log without its database); it is never a condition of
// the restore. The copy takes the database's place by one rename, so an interruption at any moment
// leaves the old or the new database whole; a restore that fails leaves everything as it was.
Result<RestoreSummary> restoreDataFile(const QString& programFolder, const QString& copy, const QDateTime& now,
                                       const RestoreHooks& hooks = {});

// How a server restore goes.
struct ServerRestore
{
    bool replace = false; // a server holding reports takes the dump's in their place
    bool force = false;   // even while other sessions are connected to the database
    QString backupFolder; // the dump of the server as the restore finds it goes there
    QDateTime now;
    // Says what the restore does before each step that may wait for the server.
    std::function<void(const QString&)> progress = [](const QString&) {};
};

// How long pg_restore waits for a lock another session holds before it gives up, changing nothing.
inline constexpr std::chrono::seconds kRestoreLockTimeout{10};

// pg_restore of a dump into the server of `connection`, in one transaction, after the dump's
// checks: refused while other sessions are connected unless `force`, and for a server holding
// reports unless `replace`; the server as it was is first dumped (checked) into `backupFolder`.
// A lock held by another session longer than kRestoreLockTimeout ends the restore with the
// sessions named and the server unchanged.
Result<RestoreSummary> restoreServer(const QString& connection, const QString& dump, const ServerRestore& how);

} // namespace korvela::admin
