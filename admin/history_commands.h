#pragma once

#include "admin/subcommand.h"

namespace korvela::admin {

// history NUMBER [--json]
Result<Options> parseHistory(const QStringList& arguments);
// add-user NAME [--password]; remove-user NAME
Result<Options> parseAddUser(const QStringList& arguments);
Result<Options> parseRemoveUser(const QStringList& arguments);

int runHistory(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err);
int runAddUser(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err);
int runRemoveUser(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err);

// Whether `name` may be a person's login role: ASCII letters, digits, "_", "." and "-", a letter
// or "_" first, at most 63 characters, and none of the server's own or Korvela's role names.
// Gives why not, in Chinese, or nothing.
std::optional<QString> badRoleName(const QString& name);

} // namespace korvela::admin
