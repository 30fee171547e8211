#include "search/found_reports.h"

#include "records/report_store.h"

#include <QStringList>

#include <algorithm>
#include <cstring>

namespace korvela {

namespace {

// The embedded engine's order of values: null, then numbers, then texts (by their UTF-8 bytes).
int compareValues(const Value& a, const Value& b)
{
    const auto rank = [](const Value& v) { return isNull(v) ? 0 : std::holds_alternative<QString>(v) ? 2 : 1; };
    if (rank(a) != rank(b))
        return rank(a) < rank(b) ? -1 : 1;
    if (rank(a) == 1) {
        const auto number = [](const Value& v) {
            if (const auto* i = std::get_if<std::int64_t>(&v))
                return double(*i);
            return std::get<double>(v);
        };
        return number(a) < number(b) ? -1 : number(a) > number(b) ? 1 : 0;
    }
    if (rank(a) == 2) {
        const QByteArray x = std::get<QString>(a).toUtf8(), y = std::get<QString>(b).toUtf8();
        const int c = std::memcmp(x.constData(), y.constData(), std::size_t(std::min(x.size(), y.size())));
        return c != 0 ? c : x.size() < y.size() ? -1 : x.size() > y.size() ? 1 : 0;
    }
    return 0;
}

QString rowColumns(SqlDialect dialect)
{
    // The server's table has rowid as a column of its own; the embedded one has to name it.
    return dialect == SqlDialect::Postgres ? QStringLiteral("*") : QStringLiteral("rowid, *");
}

// SQL text for the next parameter of a statement.
QString addParameter(std::vector<Value>& args, Value v)
{
    args.push_back(std::move(v));
    return QStringLiteral("?%1").arg(args.size());
}

bool sameKey(const FoundKey& a, const FoundKey& b)
{
    return a.rowid == b.rowid;
}

} // namespace

bool shownBefore(const FoundKey& a, const FoundKey& b)
{
    const bool aDated = !isNull(a.date), bDated = !isNull(b.date);
    if (aDated != bDated)
        return aDated;
    if (aDated)
        if (const int c = compareValues(a.date, b.date); c != 0)
            return c > 0;
    return a.rowid > b.rowid;
}

FoundReports::FoundReports(ReportDatabase& db, int pageSize, int keysReadAtOnce)
    : m_db(db)
    , m_pageSize(std::max(1, pageSize))
    , m_keysReadAtOnce(keysReadAtOnce)
    , m_rows(db.createResultSet(QStringLiteral("A")))
{}

FoundReports::~FoundReports() = default;

void FoundReports::clear()
{
    m_rows->close();
    m_conditions = {};
    m_count = 0;
    m_lastRowid = 0;
    m_page.clear();
    m_pageFromFirst = m_pageToLast = false;
    m_current.reset();
    m_kept.clear();
}

Result<std::vector<FoundKey>> FoundReports::readKeys(const QString& condition, std::vector<Value> args,
                                                     const QString& order, int limit)
{
    QString sql = u"SELECT rowid, A13 FROM A WHERE " + condition + u" ORDER BY " + order;
    if (limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(limit);
    const Status opened = m_rows->open({sql, std::move(args)});
    if (!opened)
        return opened.failure();
    std::vector<FoundKey> keys;
    keys.reserve(std::size_t(m_rows->recordCount()));
    for (; m_rows->hasCurrentRow(); (void)m_rows->moveNext()) {
        const Result<Value> rowid = m_rows->field(QStringLiteral("rowid"));
        const Result<Value> date = m_rows->field(QStringLiteral("a13"));
        if (!rowid || !date)
            return rowid ? date.failure() : rowid.failure();
        keys.push_back({*date, std::get<std::int64_t>(*rowid)});
    }
    m_rows->close();
    return keys;
}

// Adds to a page the keys one part of it reads, up to the page's size.
Status FoundReports::appendKeys(std::vector<FoundKey>& page, const QString& condition, std::vector<Value> args,
                                const QString& order)
{
    Result<std::vector<FoundKey>> keys = readKeys(condition, std::move(args), order, m_pageSize - int(page.size()));
    if (!keys)
        return keys.failure();
    page.insert(page.end(), keys->begin(), keys->end());
    return {};
}

// A page reads along the date index (the first reports of a large result are found at once) and
// only reports that were there at the search. A null date is not in a row-value comparison, so
// the reports without one are read in a part of their own.
Status FoundReports::loadPageAfter(const std::optional<FoundKey>& key)
{
    const SqlDialect dialect = m_db.dialect();
    std::vector<Value> args = m_conditions.args;
    const QString found = m_conditions.dateOrderedWhere + u" AND rowid <= " + addParameter(args, m_lastRowid);
    std::vector<FoundKey> page;
    const auto append = [&](const QString& condition, std::vector<Value> a, const QString& order) {
        return appendKeys(page, condition, std::move(a), order);
    };
    Status read;
    if (!key) {
        read = append(found, args, foundOrder(dialect));
    } else if (isNull(key->date)) {
        std::vector<Value> a = args;
        const QString rowid = addParameter(a, key->rowid);
        read = append(found + u" AND A13 IS NULL AND rowid < " + rowid, a, QStringLiteral("rowid DESC"));
    } else {
        std::vector<Value> a = args;
        const QString date = addParameter(a, key->date), rowid = addParameter(a, key->rowid);
        read = append(found + QStringLiteral(" AND (A13, rowid) < (%1, %2)").arg(date, rowid), a, foundOrder(dialect));
        if (read && int(page.size()) < m_pageSize)
            read = append(found + u" AND A13 IS NULL", args, QStringLiteral("rowid DESC"));
    }
    if (!read)
        return read;
    m_pageFromFirst = !key;
    m_pageToLast = int(page.size()) < m_pageSize;
    m_page = std::move(page);
    return {};
}

Status FoundReports::loadPageBefore(const FoundKey& key)
{
    std::vector<Value> args = m_conditions.args;
    const QString found = m_conditions.dateOrderedWhere + u" AND rowid <= " + addParameter(args, m_lastRowid);
    const QString ascending = QStringLiteral("A13, rowid");
    std::vector<FoundKey> page; // nearest first
    const auto append = [&](const QString& condition, std::vector<Value> a, const QString& order) {
        return appendKeys(page, condition, std::move(a), order);
    };
    Status read;
    std::vector<Value> a = args;
    if (isNull(key.date)) {
        const QString rowid = addParameter(a, key.rowid);
        read = append(found + u" AND A13 IS NULL AND rowid > " + rowid, a, QStringLiteral("rowid"));
        if (read && int(page.size()) < m_pageSize)
            read = append(found + u" AND A13 IS NOT NULL", args, ascending);
    } else {
        const QString date = addParameter(a, key.date), rowid = addParameter(a, key.rowid);
        read = append(found + QStringLiteral(" AND (A13, rowid) > (%1, %2)").arg(date, rowid), a, ascending);
    }
    if (!read)
        return read;
    m_pageFromFirst = int(page.size()) < m_pageSize;
    m_pageToLast = false;
    m_page.assign(page.rbegin(), page.rend());
    return {};
}

const FoundReports::Kept* FoundReports::kept(std::int64_t rowid) const
{
    for (const Kept& k : m_kept)
        if (k.key.rowid == rowid)
            return &k;
    return nullptr;
}

std::optional<FoundKey> FoundReports::keptAfter(const FoundKey& key) const
{
    for (const Kept& k : m_kept)
        if (shownBefore(key, k.key))
            return k.key;
    return std::nullopt;
}

std::optional<FoundKey> FoundReports::keptBefore(const FoundKey& key) const
{
    for (auto k = m_kept.rbegin(); k != m_kept.rend(); ++k)
        if (shownBefore(k->key, key))
            return k->key;
    return std::nullopt;
}

namespace {

// The earlier of two keys in shown order (`later`: the later instead).
std::optional<FoundKey> pick(const std::optional<FoundKey>& a, const std::optional<FoundKey>& b, bool later)
{
    if (!a || !b)
        return a ? a : b;
    return shownBefore(*a, *b) != later ? a : b;
}

} // namespace

Result<std::optional<FoundKey>> FoundReports::following(const FoundKey& key)
{
    // The page holds every found key from its first to its last, so it knows the next one when the
    // key lies within it (or before it, when the page starts at the first found).
    const auto inPage = [&]() -> std::optional<FoundKey> {
        const auto next = std::upper_bound(m_page.begin(), m_page.end(), key, shownBefore);
        const bool covered = m_pageFromFirst || (!m_page.empty() && !shownBefore(key, m_page.front()));
        if (covered && next != m_page.end())
            return *next;
        return std::nullopt;
    };
    std::optional<FoundKey> next = inPage();
    const bool atEnd = m_pageToLast && (m_page.empty() || !shownBefore(m_page.back(), key) || sameKey(m_page.back(), key));
    if (!next && !atEnd) {
        if (Status s = loadPageAfter(key); !s)
            return s.failure();
        if (!m_page.empty())
            next = m_page.front();
    }
    return pick(next, keptAfter(key), false);
}

Result<std::optional<FoundKey>> FoundReports::preceding(const FoundKey& key)
{
    const auto inPage = [&]() -> std::optional<FoundKey> {
        auto before = std::lower_bound(m_page.begin(), m_page.end(), key, shownBefore);
        const bool covered = m_pageToLast || (!m_page.empty() && !shownBefore(m_page.back(), key));
        if (covered && before != m_page.begin())
            return *(before - 1);
        return std::nullopt;
    };
    std::optional<FoundKey> previous = inPage();
    const bool atStart =
        m_pageFromFirst && (m_page.empty() || !shownBefore(key, m_page.front()) || sameKey(m_page.front(), key));
    if (!previous && !atStart) {
        if (Status s = loadPageBefore(key); !s)
            return s.failure();
        if (!m_page.empty())
            previous = m_page.back();
    }
    return pick(previous, keptBefore(key), true);
}

Result<std::optional<FoundKey>> FoundReports::first()
{
    if (!m_pageFromFirst)
        if (Status s = loadPageAfter(std::nullopt); !s)
            return s.failure();
    std::optional<FoundKey> top;
    if (!m_page.empty())
        top = m_page.front();
    return pick(top, m_kept.empty() ? std::nullopt : std::optional<FoundKey>(m_kept.front().key), false);
}

FoundReports::Read FoundReports::showKey(const FoundKey& key, const ShowReport& show, Failure& failure)
{
    std::vector<Value> args = m_conditions.args;
    const QString rowid = addParameter(args, key.rowid);
    const Status opened = m_rows->open({u"SELECT " + rowColumns(m_db.dialect()) + u" FROM A WHERE rowid = " + rowid +
                                            u" AND " + m_conditions.where,
                                        std::move(args)});
    if (!opened) {
        failure = opened.failure();
        return Read::Failed;
    }
    std::optional<ReportRecord> record;
    if (m_rows->hasCurrentRow()) {
        Result<ReportRecord> read = recordFromRow(*m_rows);
        if (!read) {
            failure = read.failure();
            m_rows->close();
            return Read::Failed;
        }
        record = std::move(*read);
    } else if (const Kept* k = kept(key.rowid)) {
        record = k->record;
    }
    m_rows->close();
    if (!record)
        return Read::Gone;
    if (Status shown = show(*record); !shown) {
        failure = shown.failure();
        return Read::Failed;
    }
    m_current = key;
    return Read::Shown;
}

Status FoundReports::showFirst(const ShowReport& show)
{
    Result<std::optional<FoundKey>> at = first();
    while (at && *at) {
        Failure failure;
        switch (showKey(**at, show, failure)) {
        case Read::Shown:
            return {};
        case Read::Failed:
            return failure;
        case Read::Gone:
            at = following(**at);
            break;
        }
    }
    // Every found report is gone: what the window shows stays.
    return at ? Status() : Status(at.failure());
}

Result<int> FoundReports::search(const SearchConditions& conditions, const ShowReport& show)
{
    clear();
    m_conditions = conditions;
    // One statement, so the count and the last row id are of the same moment.
    const Status counted = m_rows->open(
        {u"SELECT count(*) AS n, (SELECT max(rowid) FROM A) AS last FROM A WHERE " + conditions.where, conditions.args});
    if (!counted) {
        clear();
        return counted.failure();
    }
    const Result<Value> n = m_rows->field(QStringLiteral("n"));
    const Result<Value> last = m_rows->field(QStringLiteral("last"));
    m_rows->close();
    if (!n || !last) {
        clear();
        return n ? last.failure() : n.failure();
    }
    m_count = int(std::get<std::int64_t>(*n));
    if (m_count == 0)
        return 0;
    m_lastRowid = std::get<std::int64_t>(*last);

    // A small result's keys are all read now, with whatever index suits its conditions best.
    if (m_count <= m_keysReadAtOnce) {
        std::vector<Value> args = conditions.args;
        const QString found = conditions.where + u" AND rowid <= " + addParameter(args, m_lastRowid);
        Result<std::vector<FoundKey>> keys = readKeys(found, std::move(args), foundOrder(m_db.dialect()), 0);
        if (!keys) {
            clear();
            return keys.failure();
        }
        m_page = std::move(*keys);
        m_pageFromFirst = m_pageToLast = true;
    }
    if (Status shown = showFirst(show); !shown) {
        clear();
        return shown.failure();
    }
    return m_count;
}

Status FoundReports::browse(BrowseStep step, const ShowReport& show)
{
    if (m_count == 0 || !m_current)
        return {};
    FoundKey at = *m_current;
    for (;;) {
        Result<std::optional<FoundKey>> next = step == BrowseStep::Next ? following(at) : preceding(at);
        if (!next || !*next)
            return showFirst(show);
        at = **next;
        Failure failure;
        switch (showKey(at, show, failure)) {
        case Read::Shown:
            return {};
        case Read::Failed:
            return showFirst(show);
        case Read::Gone:
            break; // passed over: the one after it
        }
    }
}

void FoundReports::keepBeforeDelete(const QString& key)
{
    if (m_count == 0)
        return;
    const SqlDialect dialect = m_db.dialect();
    std::vector<Value> args = m_conditions.args;
    const QString last = addParameter(args, m_lastRowid);
    args.push_back(keyArgument(dialect, key));
    const QString sql = u"SELECT " + rowColumns(dialect) + u" FROM A WHERE " + m_conditions.where + u" AND rowid <= " +
                        last + u" AND " + keyCondition(dialect, int(args.size()));
    if (!m_rows->open({sql, std::move(args)}))
        return; // the delete itself will say what is wrong
    for (; m_rows->hasCurrentRow(); (void)m_rows->moveNext()) {
        const Result<Value> rowid = m_rows->field(QStringLiteral("rowid"));
        const Result<Value> date = m_rows->field(QStringLiteral("a13"));
        Result<ReportRecord> record = recordFromRow(*m_rows);
        if (!rowid || !date || !record)
            continue;
        Kept k{{*date, std::get<std::int64_t>(*rowid)}, std::move(*record)};
        if (kept(k.key.rowid))
            continue;
        const auto at = std::upper_bound(m_kept.begin(), m_kept.end(), k,
                                         [](const Kept& a, const Kept& b) { return shownBefore(a.key, b.key); });
        m_kept.insert(at, std::move(k));
    }
    m_rows->close();
}

} // namespace korvela
