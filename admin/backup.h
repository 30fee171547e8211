#pragma once

#include "core/status.h"
#include "store/report_checksum.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
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

// Who made a copy, which its name says: only the timer's copies rotate.
enum class CopyKind
{
    Scheduled,     // Data-<yyyy-mm-dd-hhmm>.Dat, korvela-<...>.dump: backup --scheduled, from the timer
    ByHand,        // Data-<...>-manual.Dat: any other backup, kept by every rotation
    BeforeRestore, // korvela-<...>-before-restore.dump: the server as a restore found it
};

// The folder copies go to when none is given: <program folder>/Data/backup.
QString defaultBackupFolder(const QString& programFolder);

// Makes a backup folder that does not exist yet, its parents included: mode 2770, group korvela
// when there is one, so the copies in it belong to the group whoever makes them.
bool makeBackupFolder(const QString& folder);

// What a backup is held to beyond its own checks.
struct BackupConditions
{
    // The reports of the last good copy: a store holding fewer than half as many is refused before
    // anything is copied (the wrong store, or reports lost); 0: no such check.
    std::uint64_t lastGoodReports = 0;
    // Hears of the copy as written, before it is checked (the file and the checks' own tests).
    std::function<void(const QString& partial)> written = [](const QString&) {};
    // Hears that the copy's read transaction of a data file has begun, before the checksum's
    // begins beside it (the test of their one snapshot).
    std::function<void()> reading = [] {};
};

// A consistent copy of Data.Dat while Korvela may be writing it: SQLite's online backup inside one
// read transaction of the source (writers in WAL mode never wait for it), into
// <folder>/Data-<yyyy-mm-dd-hhmm>.Dat (named after `kind`), then checked (integrity_check, count
// and checksum equal to the source's in that transaction) before it takes its name; a fingerprint
// file (<copy>.sha256) lets a restore find a damaged copy. Then, for the timer's copy, the rotation.
// A missing folder is made (makeBackupFolder); a failure leaves no file behind. The copy and its
// fingerprint are 0640, group korvela when there is one.
Result<BackupSummary> backupDataFile(const QString& dataFile, const QString& folder, const QDateTime& now,
                                     CopyKind kind = CopyKind::ByHand,
                                     const BackupConditions& conditions = {});

// The same for the server of `connection`: pg_dump in its custom format of one exported snapshot,
// whose count and checksum the server computes in that snapshot; the dump's own rows are read back
// (pg_restore) and must give the same. <folder>/korvela-<yyyy-mm-dd-hhmm>.dump, named after `kind`.
Result<BackupSummary> backupServer(const QString& connection, const QString& folder, const QDateTime& now,
                                   CopyKind kind = CopyKind::ByHand, const BackupConditions& conditions = {});

// Rotation: of the copies in a folder (file names as above), those kept are the newest copy of
// each of the 14 newest days that have one, and the newest copy of each of the 12 newest months
// among the other copies; the rest are given back, oldest first.
QStringList copiesToRemove(const QStringList& fileNames);

// Which kind of store a copy is of.
enum class CopiedStore
{
    File,
    Server,
};

// The record of the last attempt, kept beside the copies (korvela-backup.status, mode 0660).
struct BackupStatus
{
    std::optional<QDateTime> lastGood;
    QString lastGoodFile;
    qint64 lastGoodReports = 0;
    std::optional<CopiedStore> lastGoodKind; // none in a record older than the store's kind
    QString lastGoodStore;                   // the store's name as messages say it
    std::optional<QDateTime> lastFailed; // only when after the last good one
    QString lastFailure;
};
BackupStatus readBackupStatus(const QString& folder);
void recordBackup(const QString& folder, const QDateTime& when, const BackupCopy& copy, CopiedStore kind,
                  const QString& store);
// Only into a folder that exists: the record of a missing backup disk is not written in its place.
void recordBackupFailure(const QString& folder, const QDateTime& when, const QString& reason);

} // namespace korvela::admin
