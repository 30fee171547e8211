#pragma once

#include "core/database.h"
#include "core/prompts.h"
#include "records/report_record.h"

#include <optional>

namespace korvela {

// Removes leading and trailing blanks (U+0020) only; tabs and other spaces stay.
QString trimBlanks(const QString& text);

// A-Z become a-z; every other character stays, as both engines fold case when comparing.
QString foldLatinCase(const QString& text);

// The rows whose screening number equals `key`. Both sides are compared trimmed and without
// regard to the case of Latin letters, so a re-save finds its row whatever blanks it was typed
// with; "%", "_" and quotes are plain characters. The rows carry their row id, so they can be
// written back.
Statement selectByKey(SqlDialect dialect, const QString& key);
// The condition of those two, its key bound at ?<parameter>, and the value to bind there.
QString keyCondition(SqlDialect dialect, int parameter);
Value keyArgument(SqlDialect dialect, const QString& key);
Statement deleteByKey(SqlDialect dialect, const QString& key);
// Taken at the start of a save or delete transaction, held to its end: another workstation's save
// or delete of the same screening number waits for it (up to the database's lock time-out), so
// two saves of one new number give one row. Saves of other numbers never wait. The embedded
// store needs none: its transaction holds the whole file.
std::optional<Statement> lockKey(SqlDialect dialect, const QString& key);

// The two required fields, tested trimmed, the screening number first. Shows the message for the
// first one missing and answers false.
bool requireNumberAndName(Prompts& prompts, const QString& number, const QString& name);

struct SaveResult
{
    enum Kind { Saved, Declined, Failed } kind = Failed;
    Failure failure; // when Failed
};

// Stores the record in one transaction: a new row when no row holds its screening number;
// otherwise, when the user agrees, every column but A3 of the first such row is overwritten.
// Asks the question itself; the caller shows the closing message.
SaveResult saveReport(ReportDatabase& db, ResultSet& saveResults, Prompts& prompts, const ReportRecord& record);

// Deletes every row that holds the screening number, in one transaction.
Status deleteReport(ReportDatabase& db, const QString& key);

// The messages that end a failed save or delete.
void showSaveFailure(Prompts& prompts, const Failure& failure);
void showDeleteFailure(Prompts& prompts, const Failure& failure);

} // namespace korvela
