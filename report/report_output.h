#pragma once

#include "core/status.h"
#include "records/report_record.h"
#include "core/system_services.h"
#include "core/word_processor.h"

#include <QString>
#include <functional>
#include <memory>

namespace korvela {

// The password that lifts the protection of an exported report.
QString exportPassword();

// The file an export writes: "<program folder>/doc/<number>（<name>）.doc", number and name
// trimmed of blanks. A character no file name can carry ("/", "\", ":", "*", "?", the double
// quote, "<", ">", "|", control characters) becomes "_", as does each dot of a number or name
// that is only "." or "..": the file always lands in doc. A name too long for the file system (with
// the office's lock file beside it) is shortened, the patient's name first.
QString exportFileName(const QString& programFolder, const QString& number, const QString& name);

// Makes sure `app` is a running instance: one the user ended is replaced by a fresh one from
// `make`, started and set up as at load.
Status ensureWordProcessor(std::unique_ptr<WordProcessor>& app, const WordProcessorFactory& make,
                           WordProcessorEvents& events);

// Puts the report into the word processor's window, filled, maximised, for the user to print
// there. `minimiseWindow` runs between the fill and the showing. On failure no report is left
// open in the word processor.
Status printReport(SystemServices& system, WordProcessor& wordProcessor, const ReportRecord& report,
                   const std::function<void()>& minimiseWindow);

// Whether a save started in the word processor goes through. It is locked whenever the window
// is up; the export unlocks it only for its own protect and save.
enum class SaveLock { Locked, Open };

// Opens the save lock while it lives; locks it again at every end.
class SaveLockOpen
{
public:
    explicit SaveLockOpen(SaveLock& lock)
        : m_lock(lock)
    {
        m_lock = SaveLock::Open;
    }
    ~SaveLockOpen() { m_lock = SaveLock::Locked; }
    SaveLockOpen(const SaveLockOpen&) = delete;
    SaveLockOpen& operator=(const SaveLockOpen&) = delete;

private:
    SaveLock& m_lock;
};

// Saves the report, filled and protected for reading only, under exportFileName(), without
// showing the word processor. `saveLock` is open only around the export's own protect and save.
// Returns the file written; on failure no report is left open.
Result<QString> exportReport(SystemServices& system, WordProcessor& wordProcessor, const ReportRecord& report,
                             SaveLock& saveLock);

} // namespace korvela
