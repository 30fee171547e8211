#pragma once

#include "admin/row_checksum.h"
#include "core/status.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace korvela::admin {

// A copy of the reports, checked: where it is and what it holds.
struct BackupCopy
{
    QString file;
    Checksum reports; // count and checksum of all values, equal to the store's at the moment of the copy
    double seconds = 0;
};

struct BackupSummary
{
    BackupCopy made;
    QStringList removed; // older copies the rotation removed, after the new one was checked
};

// The folder copies go to when none is given: <program folder>/Data/backup.
QString defaultBackupFolder(const QString& programFolder);

// A consistent copy of Data.Dat while Korvela may be writing it: SQLite's online backup inside one
// read transaction of the source (writers in WAL mode never wait for it), into
// <folder>/Data-<yyyy-mm-dd-hhmm>.Dat, then checked (integrity_check, count and checksum equal
// to the source's in that transaction) before it takes its name; a fingerprint file
// (<copy>.sha256) lets a restore find a damaged copy. Then the rotation.
Result<BackupSummary> backupDataFile(const QString& dataFile, const QString& folder, const QDateTime& now);

// The same for the server of `connection`: pg_dump in its custom format of one exported snapshot,
// whose count and checksum the server computes in that snapshot; the dump's own rows are read back
// (pg_restore) and must give the same. <folder>/korvela-<yyyy-mm-dd-hhmm>.dump.
Result<BackupSummary> backupServer(const QString& connection, const QString& folder, const QDateTime& now);

// Rotation: of the copies in a folder (file names as above), those kept are the newest copy of
// each of the 14 newest days that have one, and the newest copy of each of the 12 newest months
// among the other copies; the rest are given back, oldest first.
QStringList copiesToRemove(const QStringList& fileNames);

// The record of the last attempt, kept beside the copies (korvela-backup.status).
struct BackupStatus
{
    std::optional<QDateTime> lastGood;
    QString lastGoodFile;
    qint64 lastGoodReports = 0;
    std::optional<QDateTime> lastFailed; // only when after the last good one
    QString lastFailure;
};
BackupStatus readBackupStatus(const QString& folder);
void recordBackup(const QString& folder, const QDateTime& when, const BackupCopy& copy);
void recordBackupFailure(const QString& folder, const QDateTime& when, const QString& reason);

struct RestoreSummary
{
    Checksum reports;
    QString keptAside; // the database as it was, kept beside (Data.Dat.before-restore-<time>)
};

// Whether Korvela runs from this program folder on this machine, for any user whose lock this
// process can see (the single-instance lock files of every session's runtime folder).
bool programRunning(const QString& programFolder);

// Puts a copy back in place of Data.Dat: refused while Korvela runs, and for a copy that fails the
// checks (its fingerprint, integrity_check, table A); the current database is kept aside; the copy
// takes the database's place by one rename, so an interruption at any moment leaves either the
// old or the new database, whole.
Result<RestoreSummary> restoreDataFile(const QString& programFolder, const QString& copy, const QDateTime& now);

// pg_restore of a dump into the server of `connection` after the same checks, in one transaction;
// a target that holds reports is refused unless `replace`.
Result<RestoreSummary> restoreServer(const QString& connection, const QString& dump, bool replace);

} // namespace korvela::admin
