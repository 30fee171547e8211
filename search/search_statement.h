#pragma once

#include "core/database.h"
#include "core/failure_codes.h"
#include "core/status.h"

#include <QDate>
#include <QString>
#include <optional>

namespace korvela {

// Reads a date as the staff type it: "2024-3-5", "2024/03/05", "2024.3.5", "2024年3月5日" or
// "20240305", with blanks around it, digits and separators also in their full-width forms.
// Days that do not exist ("2024-02-30") and every other text give no date.
std::optional<QDate> readTypedDate(const QString& text);

// The conditions of a search over table A (a WHERE clause without the word), in two forms with the
// same parameters ?1, ?2 ...: `where` leaves the engine free to choose its indexes; in
// `dateOrderedWhere` the embedded engine reads rows in the order of the date index, which finds
// the first few of a large result at once instead of sorting all of it.
struct SearchConditions
{
    QString where;
    QString dateOrderedWhere;
    std::vector<Value> args;
};

// The conditions for the five search boxes' texts, as BuildSearchStatement describes them.
Result<SearchConditions> BuildSearchConditions(SqlDialect dialect, const QString& b3, const QString& b1,
                                               const QString& b14, const QString& b13, const QString& b113);

// The search over table A for the five search boxes' texts. Rows without a screening number are
// never found; each filled box (trimmed of blanks) narrows the search: b3, b1, b14 to screening
// numbers, names and physicians beginning with its text (Latin letters in either case), b13 to
// the examinations on that day or later and, with b13 filled, b113 to those on that day or
// earlier. Newest examination first; among equal dates the last entered first; no date last.
// What was typed travels only as bound values. Fails, naming the box, when a date box holds no
// readable date. Written for the engine of `dialect`.
Result<Statement> BuildSearchStatement(SqlDialect dialect, const QString& b3, const QString& b1, const QString& b14,
                                       const QString& b13, const QString& b113);

// "共查询到 3 条符合条件的记录".
QString foundCountCaption(int count);

} // namespace korvela
