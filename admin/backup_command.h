#pragma once

#include "admin/subcommand.h"

namespace korvela::admin {

// backup [--to FOLDER] [--status] [--scheduled] [--allow-shrink]
Result<Options> parseBackup(const QStringList& arguments);
int runBackup(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err);

} // namespace korvela::admin
