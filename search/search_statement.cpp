#include "search/search_statement.h"

#include "records/report_store.h"

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

// The embedded engine refuses LIKE patterns beyond a length it was built with (50,000 bytes by
// default); longer prefixes are compared with substr() instead, which finds the same rows without
// the index.
constexpr qsizetype kLongestLikePattern = 10000;
// The server's prefix indexes hold the first 200 characters of a text.
constexpr qsizetype kIndexedCharacters = 200;

// Appends one condition to both forms of the conditions; `term` makes it for a column name.
template <typename Term> void appendCondition(SearchConditions& c, const char* column, bool indexOff, Term term)
{
    const QString name = QString::fromLatin1(column);
    c.where += u" AND " + term(name);
    // A unary plus keeps the embedded engine off the column's index.
    c.dateOrderedWhere += u" AND " + term(indexOff ? u'+' + name : name);
}

QString nextParameter(const SearchConditions& c)
{
    return QStringLiteral("?%1").arg(c.args.size());
}

// Appends the prefix condition on `column` for a box's trimmed text.
void appendPrefixCondition(SqlDialect dialect, SearchConditions& c, const char* column, const QString& prefix)
{
    if (dialect == SqlDialect::Postgres) {
        // LIKE's escape character is "\" by default there. lower() under the "C" collation folds
        // A-Z only, so the pattern is folded the same way here. The planner weighs the order
        // and the limit itself: both forms are the same.
        const QList<uint> characters = prefix.toUcs4();
        const QString indexed = QString::fromUcs4(reinterpret_cast<const char32_t*>(characters.constData()),
                                                  std::min(characters.size(), kIndexedCharacters));
        c.args.push_back(likePrefixPattern(foldLatinCase(indexed)));
        appendCondition(c, column, false, [&](const QString& name) -> QString {
            return QStringLiteral("lower(left(%1, %2) COLLATE \"C\") LIKE %3")
                .arg(name)
                .arg(kIndexedCharacters)
                .arg(nextParameter(c));
        });
        if (characters.size() > kIndexedCharacters) {
            c.args.push_back(likePrefixPattern(foldLatinCase(prefix)));
            appendCondition(c, column, false, [&](const QString& name) -> QString {
                return QStringLiteral("lower(%1 COLLATE \"C\") LIKE %2").arg(name, nextParameter(c));
            });
        }
        return;
    }
    const QString pattern = likePrefixPattern(prefix);
    if (pattern.toUtf8().size() <= kLongestLikePattern) {
        c.args.push_back(pattern);
        appendCondition(c, column, true, [&](const QString& name) -> QString {
            return QStringLiteral("%1 LIKE %2 ESCAPE '\\'").arg(name, nextParameter(c));
        });
        return;
    }
    // substr() counts characters, not UTF-16 units.
    c.args.push_back(std::int64_t(prefix.toUcs4().size()));
    c.args.push_back(prefix);
    appendCondition(c, column, false, [&](const QString& name) -> QString {
        return QStringLiteral("substr(%1, 1, ?%2) = ?%3 COLLATE NOCASE").arg(name).arg(c.args.size() - 1).arg(c.args.size());
    });
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

Result<SearchConditions> BuildSearchConditions(SqlDialect dialect, const QString& b3, const QString& b1,
                                               const QString& b14, const QString& b13, const QString& b113)
{
    // A null A3 fails "<>" as well, so neither an empty nor a missing screening number is found.
    SearchConditions c{QStringLiteral("A3 <> ''"), QStringLiteral("A3 <> ''"), {}};

    if (const QString number = trimBlanks(b3); !number.isEmpty())
        appendPrefixCondition(dialect, c, "A3", number);
    if (const QString name = trimBlanks(b1); !name.isEmpty())
        appendPrefixCondition(dialect, c, "A1", name);
    if (const QString physician = trimBlanks(b14); !physician.isEmpty())
        appendPrefixCondition(dialect, c, "A14", physician);

    // Only b13 decides whether there is a range; b113 alone is ignored.
    if (!trimBlanks(b13).isEmpty()) {
        const std::optional<QDate> from = readTypedDate(b13);
        if (!from)
            return unreadableDate(FailureCode::FromDateUnreadable, QStringLiteral("从"), b13);
        c.args.push_back(from->toString(Qt::ISODate));
        appendCondition(c, "A13", false, [&](const QString& name) -> QString { return name + u" >= " + nextParameter(c); });

        if (!trimBlanks(b113).isEmpty()) {
            const std::optional<QDate> to = readTypedDate(b113);
            if (!to)
                return unreadableDate(FailureCode::ToDateUnreadable, QStringLiteral("到"), b113);
            // Before the next day rather than up to the last one, so a time of day stored after
            // the date still counts as that day. No day follows 9999-12-31: no upper bound then.
            if (const QDate next = to->addDays(1); next.year() <= 9999) {
                c.args.push_back(next.toString(Qt::ISODate));
                appendCondition(c, "A13", false, [&](const QString& name) -> QString { return name + u" < " + nextParameter(c); });
            }
        }
    }
    return c;
}

QString foundOrder(SqlDialect dialect)
{
    // The index on A13 ends with the row id, so this order is read straight from it. A report
    // without a date comes last, where the embedded engine puts a null in a descending order.
    return dialect == SqlDialect::Postgres ? QStringLiteral("A13 DESC NULLS LAST, rowid DESC")
                                           : QStringLiteral("A13 DESC, rowid DESC");
}

Result<Statement> BuildSearchStatement(SqlDialect dialect, const QString& b3, const QString& b1, const QString& b14,
                                       const QString& b13, const QString& b113)
{
    Result<SearchConditions> c = BuildSearchConditions(dialect, b3, b1, b14, b13, b113);
    if (!c)
        return c.failure();
    return Statement{u"SELECT * FROM A WHERE " + c->where + u" ORDER BY " + foundOrder(dialect), std::move(c->args)};
}

QString foundCountCaption(int count)
{
    return QStringLiteral("共查询到 %1 条符合条件的记录").arg(count);
}

} // namespace korvela
