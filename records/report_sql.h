#pragma once

#include "core/database.h"
#include "records/report_fields.h"
#include "records/report_record.h"

#include <cstdint>
#include <optional>

namespace korvela {

// Removes leading and trailing blanks (U+0020) only; tabs and other spaces stay.
QString trimBlanks(const QString& text);

// A-Z become a-z; every other character stays, as both engines fold case when comparing.
QString foldLatinCase(const QString& text);

// How a prefix condition lets the engine read the table: by whichever index it likes, or along
// the date index (the first few of a large result in the order shown, without sorting them all).
enum class PrefixReading { AnyIndex, DateIndex };

// The SQL of the report table A for the engine of one database. What the two engines write
// differently (the screening number folded and trimmed as its key index holds it, the examination
// day and month, prefix matching, row locks) is written here and nowhere else, and every column
// is named from the field table. Statements that name a row ("R") qualify its columns ("R.A3").
class ReportSql
{
public:
    explicit ReportSql(SqlDialect dialect)
        : m_dialect(dialect)
    {}

    // A field's column ("A13"; "R.A13" of the row R).
    static QString column(Field field, const QString& row = {});
    // Every field's column, in column order: "A1, A2, ..., A27".
    static QString columns(const QString& row = {});
    // The reports a search can find: those with a screening number (a null one fails the
    // condition too). The server's date index holds exactly these.
    static QString findable(const QString& row = {});

    // The screening number as the key index (A_key; a_key on the server) holds it. A condition
    // that compares it is read from that index.
    QString key(const QString& row = {}) const;
    // The same for another column that holds screening numbers (the history's `number`): the
    // expression of its index, and the condition that it equals the number bound at ?<parameter>
    // (bind keyArgument() there).
    QString numberKey(const QString& column) const;
    QString numberEquals(const QString& column, int parameter) const;
    // The row's screening number equals the number bound at ?<parameter>: both trimmed of blanks,
    // Latin letters in either case, "%", "_" and quotes plain characters. Bind keyArgument() there.
    QString keyCondition(int parameter, const QString& row = {}) const;
    Value keyArgument(const QString& number) const;
    // Rows `row` and `other` hold the same screening number; `row` is found through the key index.
    QString sameKey(const QString& row, const QString& other) const;

    // The row ids of the rows with this screening number, the first entered first. On the server
    // they stay locked to the end of the transaction, as the embedded store's transaction locks
    // the whole file: nobody changes them while the overwrite question is open.
    Statement rowsWithNumber(const QString& number) const;
    Statement deleteNumber(const QString& number) const;
    // Taken at the start of a save or delete transaction, held to its end: another workstation's
    // save or delete of the same screening number waits for it (up to the database's lock
    // time-out), so two saves of one new number give one row. Saves of other numbers never wait.
    // The embedded store needs none: its transaction holds the whole file.
    std::optional<Statement> lockNumber(const QString& number) const;

    // The record as a new row; over the row `rowid`, every column but A3 (an overwrite keeps the
    // stored screening number).
    static Statement insertReport(const ReportRecord& record);
    static Statement overwriteReport(std::int64_t rowid, const ReportRecord& record);

    // A row's 27 values as one JSON array, the form the history keeps a version in (json_array on
    // the embedded store; json_build_array as text on the server, the date as "yyyy-MM-dd").
    QString valuesJson(const QString& row) const;
    // Names the changes of the open transaction in the history: `action` instead of the
    // trigger's own (新建, 修改, 删除) when not empty, and the change whose earlier version a
    // save brings back. Forgotten when the transaction ends.
    Statement changeContext(const QString& action, std::optional<std::int64_t> restores) const;

    // Every report written again as it is, so each gets a history row of its present values.
    static Statement rewriteEveryReport();

    // The examination day of a row; the condition that it is a day of the calendar; its month as
    // "yyyy-MM". The server's column is a date. The embedded store keeps texts, possibly with a
    // time after the day, and a text that is no date is no day (date() alone lets a 30 February
    // through; with a modifier the engine works the day out, which then differs from the text).
    QString day(const QString& row = {}) const;
    QString isDay(const QString& row = {}) const;
    QString month(const QString& row = {}) const;
    // A text column with every spelling apart, where the embedded store's column would fold case.
    QString asStored(Field field) const;

    // The order found reports are shown in: newest examination first; among equal dates the last
    // entered first; no date last.
    QString foundOrder() const;

    // The condition that a text field begins with `prefix` (Latin letters in either case; "\",
    // "%" and "_" match only themselves), its values bound from ?<firstParameter> on.
    Statement prefixMatch(Field field, const QString& prefix, int firstParameter,
                          PrefixReading reading) const;

    // Every change of the reports with this screening number, compared as the key compares it,
    // oldest first: seq, action, at, who, host, report_id, number, before, after, restores.
    Statement historyOfNumber(const QString& number) const;

private:
    QString wholeNumber(const QString& column) const;

    SqlDialect m_dialect;
};

} // namespace korvela
