#pragma once

#include "admin/subcommand.h"

namespace korvela::admin {

// import-legacy FILE [--check] [--codepage CP]
Result<Options> parseImportLegacy(const QStringList& arguments);
int runImportLegacy(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err);

// The hidden subcommand the import runs to read the old database in a process of its own
// (legacy/legacy_process.h): legacy-reader FILE CP.
inline constexpr char16_t kLegacyReader[] = u"legacy-reader";
Result<Options> parseLegacyReader(const QStringList& arguments);
int runLegacyReader(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err);

} // namespace korvela::admin
