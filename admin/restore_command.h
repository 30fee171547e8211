#pragma once

#include "admin/subcommand.h"

namespace korvela::admin {

// restore FILE [--replace] [--force]; either option without a server is a wrong command line.
Result<Options> parseRestore(const QStringList& arguments);
int runRestore(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err);

} // namespace korvela::admin
