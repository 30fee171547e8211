#pragma once

#include "core/database.h"
#include "records/report_fields.h"

#include <QDate>
#include <QString>

#include <array>
#include <optional>

namespace korvela {

// The 27 values of one report: the texts of the text and list fields, the examination date and
// the thirteen options, each addressed by its field.
struct ReportRecord
{
    // Text and list fields, stored as typed; the entries of the date and option fields stay empty.
    std::array<QString, kFieldCount> texts;
    // Empty only for rows stored without a date.
    std::optional<QDate> examDate;
    // Option fields; the entries of the other fields stay false.
    std::array<bool, kFieldCount> options{};

    QString& operator[](Field field) { return texts[index(field)]; }
    const QString& operator[](Field field) const { return texts[index(field)]; }
    bool& checked(Field field) { return options[index(field)]; }
    bool checked(Field field) const { return options[index(field)]; }

    bool operator==(const ReportRecord&) const = default;
};

// The database's column name of a field, as result sets address it ("a1".."a27").
QString fieldColumn(Field field);

// A13 is stored as the text "yyyy-MM-dd", so text order is date order.
Value dateToValue(const std::optional<QDate>& date);
// Reads a stored date; a time of day after the date is ignored. Null or unreadable gives no date.
std::optional<QDate> dateFromValue(const Value& value);
// An option column counts as checked exactly when it holds 1, as a number or as the text "1".
bool isChecked(const Value& value);

// Reads the current row of a result set over table A.
Result<ReportRecord> recordFromRow(const ResultSet& row);
// Reads a version the history keeps: a JSON array of the 27 values in column order (texts,
// integers, null; the date as "yyyy-MM-dd"), as either engine writes it. Anything else fails.
Result<ReportRecord> recordFromJson(const QString& text);
// The value the record stores in a field's column.
Value columnValue(const ReportRecord& record, Field field);

} // namespace korvela
