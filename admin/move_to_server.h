#pragma once

#include "core/status.h"
#include "store/admin_store.h"
#include "store/report_checksum.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>

namespace korvela::admin {

struct MoveOptions
{
    QString sourceFile; // a Data.Dat; only read
    QString connection; // "service=korvela"
    bool add = false;   // copy even when the server already holds reports
    std::chrono::milliseconds lockTimeout{kReportTableWait};
    bool retire = false; // sourceFile is a program folder's own Data/Data.Dat: retired after the move
};

struct MoveSummary
{
    Checksum copied; // the reports copied, as both ends counted them
    std::int64_t serverReportsBefore = 0;
    QString server;     // "host:port/database"
    double seconds = 0; // from opening the file to the commit
    QString retiredAs;  // the program folder's Data.Dat as it was renamed after the move
    QString notRetired; // why it was not, when it was to be
};

// What the copy is busy with, for a progress display: checking every value of the file, sending
// the reports, the server comparing its copy.
enum class MovePhase { Checking, Copying, Verifying };
using MoveProgress = std::function<void(MovePhase phase, std::int64_t done, std::int64_t total)>;

// Copies every report of the file into table a of the server, in one transaction: all or nothing.
// The file is read in one read transaction (a running Korvela may keep writing), first to check
// that every value fits its server column as it is (a date that is no date, a text that is no
// UTF-8 or holds U+0000, an option that is no integer refuse the move before anything is sent),
// then to stream the reports through COPY in the file's order of entry, so the server's rowid
// order is the file's. Refused when the server holds reports and `add` is not set. Before the
// commit the server counts and checksums the rows it received; any difference rolls back. Waiting
// for a workstation's lock on the table ends after `lockTimeout` with nothing copied.
//
// A program folder's own Data.Dat is then retired: when no other program has it open and it holds
// exactly the reports copied (nothing saved to it since), its write-ahead log is written into it
// and it is renamed Data.Dat.moved-to-server-<yyyyMMdd-HHmmss> and kept, so that chooseStore()
// never falls back to it. Otherwise the summary says why the file stays.
Result<MoveSummary> moveToServer(const MoveOptions& options, const MoveProgress& progress = {});

} // namespace korvela::admin
