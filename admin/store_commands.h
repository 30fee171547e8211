#pragma once

#include "admin/subcommand.h"

namespace korvela::admin {

// server-init, check: no options.
Result<Options> parseWithoutOptions(const QStringList& arguments);
// move-to-server [--add] [--file FILE]
Result<Options> parseMoveToServer(const QStringList& arguments);

int runServerInit(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err);
int runMoveToServer(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err);
int runCheck(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err);

} // namespace korvela::admin
