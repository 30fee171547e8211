#include "records/report_sql.h"

#include <QStringList>

#include <algorithm>

namespace korvela {

namespace {

// The server's indexes on texts hold their first 200 characters, so texts of any length fit under
// the index's row limit (data/schema-postgresql.sql).
constexpr qsizetype kIndexedCharacters = 200;

// The embedded engine refuses LIKE patterns beyond a length it was built with (50,000 bytes by
// default); longer prefixes are compared with substr() instead, which finds the same rows without
// the index.
constexpr qsizetype kLongestLikePattern = 10000;

// The LIKE pattern that matches every text beginning with `prefix`: "\", "%" and "_" are escaped
// with "\" so they match only themselves.
QString likePrefixPattern(const QString& prefix)
{
    QString pattern;
    pattern.reserve(prefix.size() + 1);
    for (const QChar c : prefix) {
        if (c == u'\\' || c == u'%' || c == u'_')
            pattern += u'\\';
        pattern += c;
    }
    pattern += u'%';
    return pattern;
}

QString parameter(int n)
{
    return QStringLiteral("?%1").arg(n);
}

} // namespace

QString trimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

QString foldLatinCase(const QString& text)
{
    QString out = text;
    for (QChar& c : out)
        if (c >= u'A' && c <= u'Z')
            c = QChar(char16_t(c.unicode() + (u'a' - u'A')));
    return out;
}

QString ReportSql::column(Field field, const QString& row)
{
    return row.isEmpty() ? columnName(field) : row + u'.' + columnName(field);
}

QString ReportSql::columns(const QString& row)
{
    QStringList names;
    for (const FieldInfo& field : reportFields())
        names << column(field.id, row);
    return names.join(u", ");
}

QString ReportSql::findable(const QString& row)
{
    return column(Field::ScreeningNumber, row) + u" <> ''";
}

// The expressions of the key indexes A_key and a_key, character for character: any other
// spelling and the engine reads the whole table instead.
QString ReportSql::numberKey(const QString& number) const
{
    if (m_dialect == SqlDialect::Postgres)
        return QStringLiteral("lower(left(btrim(%1, ' '), %2) COLLATE \"C\")").arg(number).arg(kIndexedCharacters);
    return QStringLiteral("trim(%1, ' ') COLLATE NOCASE").arg(number);
}

QString ReportSql::key(const QString& row) const
{
    return numberKey(column(Field::ScreeningNumber, row));
}

// The server's index holds the first 200 characters of the key; this compares the whole key.
QString ReportSql::wholeNumber(const QString& number) const
{
    return QStringLiteral("lower(btrim(%1, ' ') COLLATE \"C\")").arg(number);
}

QString ReportSql::numberEquals(const QString& number, int parameter) const
{
    const QString bound = korvela::parameter(parameter);
    if (m_dialect == SqlDialect::Postgres)
        return QStringLiteral("%1 = left(%2, %3) AND %4 = %2")
            .arg(numberKey(number), bound)
            .arg(kIndexedCharacters)
            .arg(wholeNumber(number));
    return numberKey(number) + u" = " + bound;
}

QString ReportSql::keyCondition(int parameter, const QString& row) const
{
    return numberEquals(column(Field::ScreeningNumber, row), parameter);
}

Value ReportSql::keyArgument(const QString& number) const
{
    // The server compares the folded key; the embedded store's collation folds it itself.
    return m_dialect == SqlDialect::Postgres ? foldLatinCase(trimBlanks(number)) : trimBlanks(number);
}

QString ReportSql::sameKey(const QString& row, const QString& other) const
{
    QString condition = key(row) + u" = " + key(other);
    if (m_dialect == SqlDialect::Postgres)
        condition += u" AND " + wholeNumber(column(Field::ScreeningNumber, row)) + u" = " +
                     wholeNumber(column(Field::ScreeningNumber, other));
    return condition;
}

Statement ReportSql::rowsWithNumber(const QString& number) const
{
    const QString lock = m_dialect == SqlDialect::Postgres ? QStringLiteral(" FOR UPDATE") : QString();
    return {u"SELECT rowid FROM A WHERE " + keyCondition(1) + u" ORDER BY rowid" + lock,
            {keyArgument(number)}};
}

Statement ReportSql::historyOfNumber(const QString& number) const
{
    return {u"SELECT seq, action, at, who, host, report_id, number, before, after, restores FROM report_history"
            u" WHERE " + numberEquals(QStringLiteral("number"), 1) + u" ORDER BY seq",
            {keyArgument(number)}};
}

Statement ReportSql::deleteNumber(const QString& number) const
{
    return {u"DELETE FROM A WHERE " + keyCondition(1), {keyArgument(number)}};
}

std::optional<Statement> ReportSql::lockNumber(const QString& number) const
{
    if (m_dialect != SqlDialect::Postgres)
        return std::nullopt;
    // A transaction-level advisory lock on a 64-bit hash of the folded key: no row needs to exist.
    return Statement{QStringLiteral("SELECT pg_advisory_xact_lock(hashtextextended(?1, 0))"),
                     {keyArgument(number)}};
}

Statement ReportSql::insertReport(const ReportRecord& record)
{
    Statement insert;
    QStringList marks;
    for (const FieldInfo& field : reportFields()) {
        insert.args.push_back(columnValue(record, field.id));
        marks << parameter(int(insert.args.size()));
    }
    insert.sql = QStringLiteral("INSERT INTO A (%1) VALUES (%2)").arg(columns(), marks.join(u", "));
    return insert;
}

Statement ReportSql::overwriteReport(std::int64_t rowid, const ReportRecord& record)
{
    Statement update;
    QStringList sets;
    for (const FieldInfo& field : reportFields()) {
        if (field.id == Field::ScreeningNumber)
            continue;
        update.args.push_back(columnValue(record, field.id));
        sets << column(field.id) + u" = " + parameter(int(update.args.size()));
    }
    update.args.push_back(rowid);
    update.sql = QStringLiteral("UPDATE A SET %1 WHERE rowid = %2")
                     .arg(sets.join(u", "), parameter(int(update.args.size())));
    return update;
}

QString ReportSql::valuesJson(const QString& row) const
{
    if (m_dialect == SqlDialect::Postgres)
        return QStringLiteral("json_build_array(%1)::text").arg(columns(row));
    return QStringLiteral("json_array(%1)").arg(columns(row));
}

Statement ReportSql::changeContext(const QString& action, std::optional<std::int64_t> restores) const
{
    if (m_dialect == SqlDialect::Postgres)
        return {QStringLiteral("SELECT set_config('korvela.action', ?1, true), set_config('korvela.restores', ?2, true)"),
                {action, restores ? QString::number(*restores) : QString()}};
    return {QStringLiteral("SELECT korvela_context(?1, ?2)"),
            {action, restores ? Value(*restores) : Value()}};
}

Statement ReportSql::rewriteEveryReport()
{
    // The last option column is in no index, so the server rewrites each row in its own page.
    const QString last = column(Field::MammographyPair);
    return {QStringLiteral("UPDATE A SET %1 = %1").arg(last), {}};
}

QString ReportSql::day(const QString& row) const
{
    const QString date = column(Field::ExamDate, row);
    return m_dialect == SqlDialect::Postgres ? date : QStringLiteral("substr(%1, 1, 10)").arg(date);
}

QString ReportSql::isDay(const QString& row) const
{
    if (m_dialect == SqlDialect::Postgres)
        return day(row) + u" IS NOT NULL";
    return QStringLiteral("date(%1, '+0 days') = %1").arg(day(row));
}

QString ReportSql::month(const QString& row) const
{
    const QString date = column(Field::ExamDate, row);
    return m_dialect == SqlDialect::Postgres ? QStringLiteral("to_char(%1, 'YYYY-MM')").arg(date)
                                             : QStringLiteral("substr(%1, 1, 7)").arg(date);
}

QString ReportSql::asStored(Field field) const
{
    return m_dialect == SqlDialect::Postgres ? column(field) : column(field) + u" COLLATE BINARY";
}

QString ReportSql::foundOrder() const
{
    // The date index ends with the row id, so this order is read straight from it. A report
    // without a date comes last, where the embedded engine puts a null in a descending order.
    const QString date = column(Field::ExamDate);
    if (m_dialect == SqlDialect::Postgres)
        return date + u" DESC NULLS LAST, rowid DESC";
    return date + u" DESC, rowid DESC";
}

Statement ReportSql::prefixMatch(Field field, const QString& prefix, int firstParameter,
                                 PrefixReading reading) const
{
    const QString name = column(field);
    if (m_dialect == SqlDialect::Postgres) {
        // LIKE's escape character is "\" by default there. lower() under the "C" collation folds
        // A-Z only, so the pattern is folded the same way here. The planner weighs the order and
        // the limit itself: both readings are the same. The index holds the first characters.
        const QList<uint> characters = prefix.toUcs4();
        const QString indexed = QString::fromUcs4(reinterpret_cast<const char32_t*>(characters.constData()),
                                                  std::min(characters.size(), kIndexedCharacters));
        Statement match{QStringLiteral("lower(left(%1, %2) COLLATE \"C\") LIKE %3")
                            .arg(name)
                            .arg(kIndexedCharacters)
                            .arg(parameter(firstParameter)),
                        {likePrefixPattern(foldLatinCase(indexed))}};
        if (characters.size() > kIndexedCharacters) {
            match.sql += QStringLiteral(" AND lower(%1 COLLATE \"C\") LIKE %2")
                             .arg(name, parameter(firstParameter + 1));
            match.args.push_back(likePrefixPattern(foldLatinCase(prefix)));
        }
        return match;
    }
    const QString pattern = likePrefixPattern(prefix);
    if (pattern.toUtf8().size() <= kLongestLikePattern) {
        // A unary plus keeps the engine off the column's own index.
        const QString operand = reading == PrefixReading::DateIndex ? u'+' + name : name;
        return {QStringLiteral("%1 LIKE %2 ESCAPE '\\'").arg(operand, parameter(firstParameter)), {pattern}};
    }
    // substr() counts characters, not UTF-16 units.
    return {QStringLiteral("substr(%1, 1, %2) = %3 COLLATE NOCASE")
                .arg(name, parameter(firstParameter), parameter(firstParameter + 1)),
            {std::int64_t(prefix.toUcs4().size()), prefix}};
}

} // namespace korvela
