#pragma once

#include "core/database.h"

#include <QDate>
#include <QString>

#include <array>
#include <optional>

namespace korvela {

// The 27 values of one report, one per column A1..A27 of table A.
struct ReportRecord
{
    QString a1; // patient name
    QString a2; // age, the text of its box
    QString a3; // screening number, the report's key, stored as typed
    QString a4; // clinical examination
    QString a5; // ultrasound
    QString a6; // mammography
    QString a7; // clinical examination grade
    QString a8; // X-ray grade
    QString a9; // ultrasound grade
    QString a10; // other grade
    QString a11; // preliminary diagnostic impression
    QString a12; // recommended handling
    std::optional<QDate> a13; // examination date; empty only for rows stored without one
    QString a14; // examining physician
    std::array<int, 13> options{}; // A15..A27: 1 checked, 0 not

    bool operator==(const ReportRecord&) const = default;
};

// Column name ("a1".."a27") of text column n (1..14 but 13) and of option i (0..12).
QString columnName(int n);
inline QString optionColumn(int index) { return columnName(15 + index); }

// A13 is stored as the text "yyyy-MM-dd", so text order is date order.
Value dateToValue(const std::optional<QDate>& date);
// Reads a stored date; a time of day after the date is ignored. Null or unreadable gives no date.
std::optional<QDate> dateFromValue(const Value& value);
// An option column counts as checked exactly when it holds 1, as a number or as the text "1".
bool isChecked(const Value& value);

// Reads the current row of a result set over table A.
Result<ReportRecord> recordFromRow(const ResultSet& row);
// Sets the columns of the result set's new or current row from the record; A3 only when
// `withKey` (an overwrite keeps the stored screening number).
Status writeRecord(ResultSet& row, const ReportRecord& record, bool withKey);

} // namespace korvela
