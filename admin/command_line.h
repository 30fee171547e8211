#pragma once

#include "core/status.h"

#include <QString>
#include <QStringList>
#include <cstdio>

namespace korvela::admin {

enum class Command { Help, ServerInit, MoveToServer, Check, ImportLegacy, LegacyReader };

struct Invocation
{
    Command command = Command::Help;
    bool add = false; // move-to-server --add
    QString file;     // move-to-server --file; empty for the program folder's Data/Data.Dat
    // import-legacy FILE [--check] [--codepage CP]; also the hidden legacy-reader FILE CP, the
    // process the import reads the old database in (legacy_process.h).
    QString legacyFile;
    QString codePage = QStringLiteral("936");
    bool check = false;
};

// Exit statuses: 0 only when everything asked for was done (or the store is sound).
inline constexpr int kExitFailed = 1; // the command failed or check found a problem
inline constexpr int kExitUsage = 2;  // the command line was wrong; nothing was done

// Writes one line of the command's output, in UTF-8, at once.
void print(std::FILE* to, const QString& text);

// Reads the arguments after the program's name; a failure says in Chinese what is wrong.
Result<Invocation> parseArguments(const QStringList& arguments);

// The program folder whose Data/Data.Dat is meant: $KORVELA_HOME when set, else the folder of the
// executable (/opt/korvela for the installed package; /usr/bin/korvela-admin links there).
QString programFolder(const QString& executableFolder);

QString usageText(const QString& programFolder);

// Runs the command: results to `out`, failures and the progress to `err`. Gives the exit status.
int runInvocation(const Invocation& invocation, const QString& programFolder, std::FILE* out, std::FILE* err);

} // namespace korvela::admin
