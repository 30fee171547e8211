#pragma once

#include "admin/subcommand.h"
#include "core/database.h"

namespace korvela::admin {

struct UpgradeOutcome
{
    int from = 0; // the version the store was at; equal to `to` when nothing was to be done
    int to = 0;
};

// Brings the store's tables to the program's version in one transaction: every report stays as
// it was, its history starts empty. A store already there keeps its tables (a server's staff get
// their rights again); a newer one is refused.
Result<UpgradeOutcome> upgradeStore(ReportDatabase& db);

// A store just put back from a copy: brought to the program's version (upgradeStore), and every
// report's state recorded in the history as `command` left it (one row each), in
// one transaction.
Status recordEveryReport(ReportDatabase& db, const QString& command);

// upgrade [--file FILE]: the chosen store, or that report file (as setup and the package's
// post-install name the program folder's own).
Result<Options> parseUpgrade(const QStringList& arguments);
int runUpgrade(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err);

} // namespace korvela::admin
