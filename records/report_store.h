#pragma once

#include "core/database.h"
#include "core/prompts.h"
#include "records/report_record.h"

namespace korvela {

// Removes leading and trailing blanks (U+0020) only; tabs and other spaces stay.
QString trimBlanks(const QString& text);

// The rows whose screening number equals `key`. Both sides are compared trimmed and without
// regard to the case of Latin letters, so a re-save finds its row whatever blanks it was typed
// with; "%", "_" and quotes are plain characters. The first column is the row id, so the rows
// can be written back.
Statement selectByKey(const QString& key);
Statement deleteByKey(const QString& key);

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
