#include "records/change_log.h"

#include "records/report_sql.h"

#include <QStringList>

#include <memory>

namespace korvela {

namespace {

// The history keeps its times as 'YYYY-MM-DDTHH:MM:SS.sssZ', so text order is time order.
QString timeText(const QDateTime& at)
{
    return at.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime timeFromText(const QString& text)
{
    return QDateTime::fromString(text, Qt::ISODateWithMs).toUTC();
}

// Builds a WHERE clause and its bound values, numbering the parameters as they are added.
class Conditions
{
public:
    // `condition` names its one value "?"; it is numbered here.
    void add(const QString& condition, Value value)
    {
        m_args.push_back(std::move(value));
        m_parts << QString(condition).replace(u'?', QStringLiteral("?%1").arg(m_args.size()));
    }
    QString where() const { return m_parts.isEmpty() ? QString() : u" WHERE " + m_parts.join(u" AND "); }
    std::vector<Value> args() const { return m_args; }

private:
    QStringList m_parts;
    std::vector<Value> m_args;
};

// The number column equals the number bound at "?", compared as the key indexes of the history
// and the access log hold it (the expressions of A's key index over their `number`).
void addNumber(Conditions& where, SqlDialect dialect, const QString& number)
{
    const QString condition =
        dialect == SqlDialect::Postgres
            ? QStringLiteral("lower(left(btrim(number, ' '), 200) COLLATE \"C\") = left(?, 200)"
                             " AND lower(btrim(number, ' ') COLLATE \"C\") = ?")
            : QStringLiteral("trim(number, ' ') COLLATE NOCASE = ?");
    where.add(condition, ReportSql(dialect).keyArgument(number));
}

Result<QString> text(const ResultSet& row, const QString& column)
{
    Result<Value> v = row.field(column);
    if (!v)
        return v.failure();
    return valueToText(*v);
}

Result<std::optional<std::int64_t>> integer(const ResultSet& row, const QString& column)
{
    Result<Value> v = row.field(column);
    if (!v)
        return v.failure();
    if (const auto* n = std::get_if<std::int64_t>(&*v))
        return std::optional<std::int64_t>(*n);
    return std::optional<std::int64_t>();
}

// Runs a query and hands each of its rows to `read`, which may end the reading with a failure.
template <typename Read> Status eachRow(ReportDatabase& db, const Statement& query, Read read)
{
    const std::unique_ptr<ResultSet> rows = db.createResultSet();
    if (Status s = rows->open(query); !s)
        return s;
    for (; rows->hasCurrentRow(); (void)rows->moveNext())
        if (Status s = read(*rows); !s)
            return s;
    return {};
}

// The columns both tables share, read into a change or an access.
template <typename Row> Status readCommon(const ResultSet& row, Row& out)
{
    Result<std::optional<std::int64_t>> seq = integer(row, QStringLiteral("seq"));
    Result<QString> at = text(row, QStringLiteral("at"));
    Result<QString> who = text(row, QStringLiteral("who"));
    Result<QString> host = text(row, QStringLiteral("host"));
    Result<QString> number = text(row, QStringLiteral("number"));
    for (const Status& s : {seq.status(), at.status(), who.status(), host.status(), number.status()})
        if (!s)
            return s;
    out.seq = seq->value_or(0);
    out.at = timeFromText(*at);
    out.who = *who;
    out.host = *host;
    out.number = *number;
    return {};
}

const QString kChangeColumns = QStringLiteral("seq, action, at, who, host, report_id, number, restores");

Result<Change> readChange(const ResultSet& row)
{
    Change change;
    if (Status s = readCommon(row, change); !s)
        return s.failure();
    Result<QString> action = text(row, QStringLiteral("action"));
    Result<QString> name = text(row, QStringLiteral("name"));
    Result<std::optional<std::int64_t>> report = integer(row, QStringLiteral("report_id"));
    Result<std::optional<std::int64_t>> restores = integer(row, QStringLiteral("restores"));
    for (const Status& s : {action.status(), name.status(), report.status(), restores.status()})
        if (!s)
            return s.failure();
    change.action = *action;
    change.name = *name;
    change.reportId = report->value_or(0);
    change.restores = *restores;
    return change;
}

// A version kept as a JSON array; none when the history holds null there.
Result<std::optional<ReportRecord>> version(const ResultSet& row, const QString& column)
{
    Result<Value> v = row.field(column);
    if (!v)
        return v.failure();
    if (isNull(*v))
        return std::optional<ReportRecord>();
    Result<ReportRecord> record = recordFromJson(valueToText(*v));
    if (!record)
        return record.failure();
    return std::optional<ReportRecord>(std::move(*record));
}

// The patient's name of a history row: A1 of its `after`, of its `before` for a delete.
QString nameColumn(SqlDialect dialect)
{
    if (dialect == SqlDialect::Postgres)
        return QStringLiteral("(coalesce(after, before)::json ->> 0) AS name");
    return QStringLiteral("json_extract(coalesce(after, before), '$[0]') AS name");
}

} // namespace

TimeSpan localDays(const std::optional<QDate>& from, const std::optional<QDate>& to, const QTimeZone& zone)
{
    TimeSpan span;
    if (from)
        span.since = QDateTime(*from, QTime(0, 0), zone).toUTC();
    if (to)
        span.until = QDateTime(to->addDays(1), QTime(0, 0), zone).toUTC();
    return span;
}

Statement ChangeLog::changesStatement(SqlDialect dialect, const ChangeFilter& filter)
{
    Conditions where;
    if (!trimBlanks(filter.number).isEmpty())
        addNumber(where, dialect, filter.number);
    if (!filter.who.isEmpty())
        where.add(QStringLiteral("who = ?"), filter.who);
    if (!filter.action.isEmpty())
        where.add(QStringLiteral("action = ?"), filter.action);
    if (filter.span.since)
        where.add(QStringLiteral("at >= ?"), timeText(*filter.span.since));
    if (filter.span.until)
        where.add(QStringLiteral("at < ?"), timeText(*filter.span.until));
    return {QStringLiteral("SELECT %1, %2 FROM report_history%3 ORDER BY seq DESC LIMIT %4")
                .arg(kChangeColumns, nameColumn(dialect), where.where())
                .arg(filter.limit),
            where.args()};
}

Result<std::vector<Change>> ChangeLog::changes(const ChangeFilter& filter)
{
    std::vector<Change> changes;
    const Status read =
        eachRow(m_db, changesStatement(m_db.dialect(), filter), [&](const ResultSet& row) -> Status {
            Result<Change> change = readChange(row);
            if (!change)
                return change.failure();
            changes.push_back(std::move(*change));
            return {};
        });
    if (!read)
        return read.failure();
    return changes;
}

Result<std::optional<ChangeVersions>> ChangeLog::versions(std::int64_t seq)
{
    const Statement query{QStringLiteral("SELECT %1, %2, before, after FROM report_history WHERE seq = ?1")
                              .arg(kChangeColumns, nameColumn(m_db.dialect())),
                          {seq}};
    std::optional<ChangeVersions> found;
    const Status read = eachRow(m_db, query, [&](const ResultSet& row) -> Status {
        Result<Change> change = readChange(row);
        if (!change)
            return change.failure();
        Result<std::optional<ReportRecord>> before = version(row, QStringLiteral("before"));
        Result<std::optional<ReportRecord>> after = version(row, QStringLiteral("after"));
        if (!before || !after)
            return before ? after.failure() : before.failure();
        found = ChangeVersions{std::move(*change), std::move(*before), std::move(*after)};
        return {};
    });
    if (!read)
        return read.failure();
    return found;
}

Result<std::vector<Access>> ChangeLog::accesses(const QString& number, int limit)
{
    Conditions where;
    addNumber(where, m_db.dialect(), number);
    const Statement query{
        QStringLiteral("SELECT seq, at, who, host, event, report_id, number, detail FROM access_log%1"
                       " ORDER BY seq DESC LIMIT %2")
            .arg(where.where())
            .arg(limit),
        where.args()};
    std::vector<Access> accesses;
    const Status read = eachRow(m_db, query, [&](const ResultSet& row) -> Status {
        Access access;
        if (Status s = readCommon(row, access); !s)
            return s;
        Result<QString> event = text(row, QStringLiteral("event"));
        Result<QString> detail = text(row, QStringLiteral("detail"));
        Result<std::optional<std::int64_t>> report = integer(row, QStringLiteral("report_id"));
        for (const Status& s : {event.status(), detail.status(), report.status()})
            if (!s)
                return s;
        access.event = *event;
        access.detail = *detail;
        access.reportId = *report;
        accesses.push_back(std::move(access));
        return {};
    });
    if (!read)
        return read.failure();
    return accesses;
}

} // namespace korvela
