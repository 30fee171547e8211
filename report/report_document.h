#pragma once

#include "core/status.h"
#include "records/report_record.h"
#include "core/system_services.h"
#include "core/word_processor.h"

#include <QString>
#include <QStringList>

namespace korvela {

// The marks for a handling option: "(√)" checked, "( )" not.
QString optionMark(bool checked);

// The examination date as the report shows it: the Chinese short form ("2026/12/9") whatever the
// machine's language, no time of day; empty when the report has no date.
QString shortDate(const std::optional<QDate>& date);

// The 27 placeholder texts in the order they are filled, the fields' order: "<姓名>" ..
// "<主检医师>", "<CL1>" .. "<CL13>".
const QStringList& placeholderTexts();

// The placeholder table filled with a report's values, exactly as the window holds them (not
// trimmed, not changed in case).
PlaceholderValues ReportPlaceholders(const ReportRecord& report);

// Adds one placeholder to a fill: a value that is empty or only blanks goes in as one space, any
// other value unchanged, its own blanks included.
void Word_call(PlaceholderValues& fill, const QString& placeholder, const QString& value);

// The most characters the report's texts may hold together. The report sheet is a page or two;
// far longer texts (a paste gone wrong) would keep the word processor laying out pages for
// minutes to hours, unusable meanwhile.
constexpr qsizetype kMaxReportCharacters = 30000;

// Refuses, with a message saying so, a report whose texts together exceed kMaxReportCharacters.
Status CheckReportLength(const ReportRecord& report);

// The template files in the program folder.
QString pristineTemplatePath(const QString& programFolder); // Tmp2.Tmp
QString workingCopyPath(const QString& programFolder);      // Tmp1.Tmp
// The lock files the word processors leave beside the working copy.
QStringList workingCopyLockPaths(const QString& programFolder);

// Refreshes the working copy from the pristine template, removes stale lock files and opens the
// working copy as the report document. A report still open from before is closed first, its
// changes discarded. Without the pristine template the working copy is opened as it is.
Status PrepareReportDocument(SystemServices& system, WordProcessor& wordProcessor);

// Fills the report document with the report's values in one pass, then leaves no text selected.
Status FillReportDocument(WordProcessor& wordProcessor, const ReportRecord& report);

} // namespace korvela
