#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace korvela::admin {

// korvela-admin backup [--to FOLDER] [--status] and restore FILE [--replace]: runs them and gives
// the exit status; nothing when the arguments name another subcommand.
std::optional<int> runBackupCommands(const QStringList& arguments, const QString& programFolder, std::FILE* out,
                                     std::FILE* err);

// Their part of the usage text.
QString backupUsageText();

} // namespace korvela::admin
