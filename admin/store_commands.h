#pragma once

#include "admin/subcommand.h"

namespace korvela::admin {

// The server chosen, or why there is none to work on: `onFile` (its %1 the file's path) when the
// reports are in the program folder's file, else how to configure the service.
Status requireService(const QString& programFolder, const QString& onFile = {});

// server-init, check: no options.
Result<Options> parseWithoutOptions(const QStringList& arguments);
// move-to-server [--add] [--file FILE]
Result<Options> parseMoveToServer(const QStringList& arguments);

int runServerInit(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err);
int runMoveToServer(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err);
int runCheck(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err);

} // namespace korvela::admin
