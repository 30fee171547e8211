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
// it was, its history starts empty. A store already there is left alone; a newer one is refused.
Result<UpgradeOutcome> upgradeStore(ReportDatabase& db);

// upgrade: no options.
int runUpgrade(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err);

} // namespace korvela::admin
