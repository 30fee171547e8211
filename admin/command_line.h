#pragma once

#include "admin/subcommand.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <vector>

namespace korvela::admin {

// A subcommand of korvela-admin: the name the administrator types, what its usage says, how its
// arguments are read and what it does.
struct Subcommand
{
    QString name;
    QString synopsis;    // its arguments, as its usage writes them after the name
    QString description; // lines, as its usage writes them under the synopsis
    // The arguments after the name; a failure says in Chinese what is wrong with them.
    Result<Options> (*parse)(const QStringList& arguments);
    // Results to `out`, failures and the progress to `err`. Gives the exit status.
    int (*run)(const Options& options, const QString& programFolder, std::FILE* out, std::FILE* err);
    bool hidden = false; // run by korvela-admin itself; korvela-admin's usage leaves it out
};

// Every subcommand, in the order of korvela-admin's usage.
const std::vector<Subcommand>& subcommands();

// The subcommand of this name, or none.
const Subcommand* findSubcommand(const QString& name);

// korvela-admin's usage: every subcommand that is not hidden, and where the program folder and the
// service korvela are.
QString usageText(const QString& programFolder);
// One subcommand's usage, for its --help.
QString usageText(const Subcommand& subcommand);

// The program folder whose Data/Data.Dat is meant: $KORVELA_HOME when set, else the folder of the
// executable (/opt/korvela for the installed package; /usr/bin/korvela-admin links there).
QString programFolder(const QString& executableFolder);

} // namespace korvela::admin
