#pragma once

#include "admin/subcommand.h"

namespace korvela::admin {

// The store backup and restore work on, as their messages name it.
QString storeName(const QString& programFolder);

// backup [--to FOLDER] [--status] [--scheduled] [--allow-shrink]
Result<Options> parseBackup(const QStringList& arguments);
int runBackup(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err);

} // namespace korvela::admin
