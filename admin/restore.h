#pragma once

#include "core/status.h"
#include "store/report_checksum.h"

#include <QDateTime>
#include <QString>

#include <functional>

namespace korvela::admin {

struct RestoreSummary
{
    Checksum reports;
    QString keptAside; // the database as it was, kept beside (Data.Dat.before-restore-<time>)
};

// Whether Korvela runs from this program folder on this machine, for any user whose lock this
// process can see (the single-instance lock files of every session's runtime folder).
bool programRunning(const QString& programFolder);

// The steps of restoreDataFile after which the files on disk stand differently: the checked copy
// lies beside Data.Dat, the current database is kept aside, the copy has taken its place.
enum class RestoreStep { Copied, KeptAside, Replaced };

// Puts a copy back in place of Data.Dat: refused while Korvela runs, and for a copy that fails the
// checks (its fingerprint, integrity_check, table A); the current database is kept aside; the copy
// takes the database's place by one rename, so an interruption at any moment leaves either the
// old or the new database, whole. `reached` hears of each step as it is done.
Result<RestoreSummary> restoreDataFile(
    const QString& programFolder, const QString& copy, const QDateTime& now,
    const std::function<void(RestoreStep)>& reached = [](RestoreStep) {});

// pg_restore of a dump into the server of `connection` after the same checks, in one transaction;
// a target that holds reports is refused unless `replace`.
Result<RestoreSummary> restoreServer(const QString& connection, const QString& dump, bool replace);

} // namespace korvela::admin
