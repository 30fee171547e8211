#include "search/search_statement.h"

#include "records/report_sql.h"

#include <QRegularExpression>

namespace korvela {

namespace {

// Full-width digits and signs (as a Chinese input method types them) become their ASCII forms.
QString narrowed(const QString& text)
{
    QString out = text;
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        if (u >= 0xFF01 && u <= 0xFF5E)
            c = QChar(char16_t(u - 0xFF01 + 0x21));
    }
    return out;
}

// Appends one condition to both forms of the conditions.
void appendCondition(SearchConditions& c, const QString& condition, const QString& dateOrdered)
{
    c.where += u" AND " + condition;
    c.dateOrderedWhere += u" AND " + dateOrdered;
}

// Appends the condition that a field begins with a box's trimmed text.
void appendPrefixCondition(const ReportSql& sql, SearchConditions& c, Field field, const QString& prefix)
{
    const int first = int(c.args.size()) + 1;
    const Statement any = sql.prefixMatch(field, prefix, first, PrefixReading::AnyIndex);
    appendCondition(c, any.sql, sql.prefixMatch(field, prefix, first, PrefixReading::DateIndex).sql);
    c.args.insert(c.args.end(), any.args.begin(), any.args.end());
}

// Appends the condition that the examination date stands `comparison` to the day.
void appendDateCondition(SearchConditions& c, const QString& comparison, const QDate& day)
{
    c.args.push_back(day.toString(Qt::ISODate));
    const QString condition =
        QStringLiteral("%1 %2 ?%3").arg(ReportSql::column(Field::ExamDate), comparison).arg(c.args.size());
    appendCondition(c, condition, condition);
}

Failure unreadableDate(int code, const QString& box, const QString& typed)
{
    QString shown = typed;
    if (shown.size() > 20)
        shown = shown.left(20) + u'…';
    return {code, QStringLiteral("检查日期“%1”一栏中的“%2”不是有效的日期，本次没有查询。\n"
                                 "请按以下任一形式输入日期：\n"
                                 "2024-3-5　　2024/3/5　　2024.3.5　　2024年3月5日　　20240305")
                      .arg(box, shown)};
}

} // namespace

std::optional<QDate> readTypedDate(const QString& text)
{
    static const QRegularExpression separated(
        QStringLiteral("^([0-9]{4})([-/.])([0-9]{1,2})\\2([0-9]{1,2})$"));
    static const QRegularExpression chinese(QStringLiteral("^([0-9]{4})年([0-9]{1,2})月([0-9]{1,2})日?$"));
    static const QRegularExpression compact(QStringLiteral("^([0-9]{4})([0-9]{2})([0-9]{2})$"));

    const QString typed = narrowed(trimBlanks(text));
    int year = 0, month = 0, day = 0;
    if (const auto m = separated.match(typed); m.hasMatch()) {
        year = m.captured(1).toInt();
        month = m.captured(3).toInt();
        day = m.captured(4).toInt();
    } else if (const auto c = chinese.match(typed); c.hasMatch()) {
        year = c.captured(1).toInt();
        month = c.captured(2).toInt();
        day = c.captured(3).toInt();
    } else if (const auto d = compact.match(typed); d.hasMatch()) {
        year = d.captured(1).toInt();
        month = d.captured(2).toInt();
        day = d.captured(3).toInt();
    } else {
        return std::nullopt;
    }
    // QDate accepts no year 0 and no day that is not in the calendar.
    const QDate date(year, month, day);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

Result<SearchConditions> BuildSearchConditions(SqlDialect dialect, const QString& b3, const QString& b1,
                                               const QString& b14, const QString& b13, const QString& b113)
{
    const ReportSql sql(dialect);
    // Neither an empty nor a missing screening number is found.
    SearchConditions c{ReportSql::findable(), ReportSql::findable(), {}};

    if (const QString number = trimBlanks(b3); !number.isEmpty())
        appendPrefixCondition(sql, c, Field::ScreeningNumber, number);
    if (const QString name = trimBlanks(b1); !name.isEmpty())
        appendPrefixCondition(sql, c, Field::PatientName, name);
    if (const QString physician = trimBlanks(b14); !physician.isEmpty())
        appendPrefixCondition(sql, c, Field::Physician, physician);

    // Only b13 decides whether there is a range; b113 alone is ignored.
    if (!trimBlanks(b13).isEmpty()) {
        const std::optional<QDate> from = readTypedDate(b13);
        if (!from)
            return unreadableDate(FailureCode::FromDateUnreadable, QStringLiteral("从"), b13);
        appendDateCondition(c, QStringLiteral(">="), *from);

        if (!trimBlanks(b113).isEmpty()) {
            const std::optional<QDate> to = readTypedDate(b113);
            if (!to)
                return unreadableDate(FailureCode::ToDateUnreadable, QStringLiteral("到"), b113);
            // Before the next day rather than up to the last one, so a time of day stored after
            // the date still counts as that day. No day follows 9999-12-31: no upper bound then.
            if (const QDate next = to->addDays(1); next.year() <= 9999)
                appendDateCondition(c, QStringLiteral("<"), next);
        }
    }
    return c;
}

Result<Statement> BuildSearchStatement(SqlDialect dialect, const QString& b3, const QString& b1, const QString& b14,
                                       const QString& b13, const QString& b113)
{
    Result<SearchConditions> c = BuildSearchConditions(dialect, b3, b1, b14, b13, b113);
    if (!c)
        return c.failure();
    return Statement{u"SELECT * FROM A WHERE " + c->where + u" ORDER BY " + ReportSql(dialect).foundOrder(),
                     std::move(c->args)};
}

QString foundCountCaption(int count)
{
    return QStringLiteral("共查询到 %1 条符合条件的记录").arg(count);
}

} // namespace korvela
