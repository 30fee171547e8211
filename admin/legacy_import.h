#pragma once

#include "core/status.h"
#include "store/admin_store.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

namespace korvela::admin {

struct ImportOptions
{
    QString file;                            // the old program's Data.Dat; only read
    QString codePage = QStringLiteral("936"); // the texts of a Jet 3 file
    bool check = false;                      // read and compare everything, write nothing
    QString programFolder;                   // whose store is meant (the service korvela, else Data/Data.Dat)
    // The reading process: the program and its first arguments ("korvela-admin legacy-reader").
    QStringList reader;
    std::chrono::milliseconds readerTimeout{std::chrono::seconds(60)};
    std::chrono::milliseconds lockTimeout{kReportTableWait}; // for a workstation to let go of the table
};

// A report of the file that was not brought over, and why.
struct RefusedReport
{
    std::int64_t ordinal = 0; // its place in the file's row order
    QString key;              // its screening number and name, as far as they could be read
    QString name;
    QString reason;
};

struct ImportSummary
{
    QString store;           // where the reports went: the file's path or "服务器 host:port/database"
    int jetVersion = 0;
    std::int64_t read = 0;    // reports of the file
    std::int64_t added = 0;   // added to the store (with --check: that would be added)
    std::int64_t present = 0; // already in the store as often as the file holds them
    std::vector<RefusedReport> refused;
    double seconds = 0;

    bool complete() const { return refused.empty(); }
};

// How far the import is: reports of the file read, of how many.
using ImportProgress = std::function<void(std::int64_t done, std::int64_t total)>;

// Adds the reports of the old program's table A to the configured store, in the file's row
// order, in one transaction: an import that fails or is killed leaves the store as it was. A
// report counts as already there when a stored report has all 27 values equal (as the program
// shows them); the store ends up holding each report of the file as many times as the file holds
// it, so an import run again adds nothing and one after an interrupted run adds what is missing.
// A report whose value cannot be shown as the old program showed it is not added and is listed
// with the reason; the others are. A file that cannot be read (not a Jet database, damaged,
// encoded, without table A or a column of it, or with no reports) adds nothing. Before the commit
// the store counts and checksums the reports it received; any difference undoes the import.
Result<ImportSummary> importLegacy(const ImportOptions& options, const ImportProgress& progress = {});

} // namespace korvela::admin
