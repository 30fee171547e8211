#pragma once

#include "core/status.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace korvela::admin {

// Exit statuses: 0 only when everything asked for was done (or the store is sound).
inline constexpr int kExitFailed = 1; // the command failed or check found a problem
inline constexpr int kExitUsage = 2;  // the command line was wrong; nothing was done

// What a subcommand's arguments ask for; each subcommand reads the fields that are its own.
struct Options
{
    bool help = false; // --help or -h: its usage is shown and nothing is done
    // move-to-server --file (empty: the program folder's Data/Data.Dat); the old database of
    // import-legacy and legacy-reader; the copy restore puts back.
    QString file;
    QString codePage = QStringLiteral("936"); // the texts of a Jet 3 file: import-legacy --codepage
    std::optional<QString> backupFolder;     // backup --to; none: the program folder's Data/backup
    bool add = false;                         // move-to-server --add
    bool check = false;                       // import-legacy --check
    bool status = false;                      // backup --status
    bool replace = false;                     // restore --replace
    bool scheduled = false;                   // backup --scheduled: the timer's copy, which rotates
    bool allowShrink = false;                 // backup --allow-shrink
    bool force = false;                       // restore --force: workstations connected to the server
    QString argument;                         // history NUMBER; add-user and remove-user NAME
    bool json = false;                        // history --json
    bool password = false;                    // add-user --password
};

// What a command line that asks for a subcommand's usage gives.
inline Options helpAsked()
{
    Options options;
    options.help = true;
    return options;
}

// Writes one line of the command's output, in UTF-8, at once.
void print(std::FILE* to, const QString& text);

// Says the failure on `err`; gives kExitFailed.
int failed(std::FILE* err, const Failure& failure);

// A wrong command line; `text` says in Chinese what is wrong.
Failure usageError(const QString& text);

bool isHelp(const QString& argument);

// The value of the option at arguments[i], written "--name=VALUE" or "--name VALUE" (then `i`
// moves on to the value); none when the value is missing.
std::optional<QString> optionValue(const QStringList& arguments, qsizetype& i);

} // namespace korvela::admin
