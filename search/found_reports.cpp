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

// SQL text for the next parameter of a statement.
QString addParameter(std::vector<Value>& args, Value v)
{
    args.push_back(std::move(v));
    return QStringLiteral("?%1").arg(args.size());
}

bool sameKey(const ReportKey& a, const ReportKey& b)
{
    return a.rowid == b.rowid;
}

} // namespace

bool shownBefore(const ReportKey& a, const ReportKey& b)
{
    const bool aDated = !isNull(a.date), bDated = !isNull(b.date);
    if (aDated != bDated)
        return aDated;
    if (aDated)
        if (const int c = compareValues(a.date, b.date); c != 0)
            return c > 0;
    return a.rowid > b.rowid;
}

FoundReports::FoundReports(ReportStore& store, int pageSize, int keysReadAtOnce)
    : m_store(store)
    , m_pageSize(std::max(1, pageSize))
    , m_keysReadAtOnce(keysReadAtOnce)
{}

FoundReports::~FoundReports() = default;

void FoundReports::clear()
{
    m_conditions = {};
    m_count = 0;
    m_lastRowid = 0;
    m_page.clear();
    m_pageFromFirst = m_pageToLast = false;
    m_current.reset();
    m_kept.clear();
}

// Adds to a page the keys one part of it reads, up to the page's size.
Status FoundReports::appendKeys(std::vector<ReportKey>& page, const QString& condition,
                                std::vector<Value> args, const QString& order)
{
    Result<std::vector<ReportKey>> keys =
        m_store.keys({condition, std::move(args)}, order, m_pageSize - int(page.size()));
    if (!keys)
        return keys.failure();
    page.insert(page.end(), keys->begin(), keys->end());
    return {};
}

// A page reads along the date index (the first reports of a large result are found at once) and
// only reports that were there at the search. A null date is not in a row-value comparison, so
// the reports without one are read in a part of their own.
Status FoundReports::loadPageAfter(const std::optional<ReportKey>& key)
{
    const QString examined = ReportSql::column(Field::ExamDate);
    const QString shownOrder = m_store.sql().foundOrder();
    std::vector<Value> args = m_conditions.args;
    const QString found = m_conditions.dateOrderedWhere + u" AND rowid <= " + addParameter(args, m_lastRowid);
    std::vector<ReportKey> page;
    const auto append = [&](const QString& condition, std::vector<Value> a, const QString& order) {
        return appendKeys(page, condition, std::move(a), order);
    };
    Status read;
    if (!key) {
        read = append(found, args, shownOrder);
    } else if (isNull(key->date)) {
        std::vector<Value> a = args;
        const QString rowid = addParameter(a, key->rowid);
        read = append(found + u" AND " + examined + u" IS NULL AND rowid < " + rowid, a,
                      QStringLiteral("rowid DESC"));
    } else {
        std::vector<Value> a = args;
        const QString date = addParameter(a, key->date), rowid = addParameter(a, key->rowid);
        read = append(found + QStringLiteral(" AND (%1, rowid) < (%2, %3)").arg(examined, date, rowid), a,
                      shownOrder);
        if (read && int(page.size()) < m_pageSize)
            read = append(found + u" AND " + examined + u" IS NULL", args, QStringLiteral("rowid DESC"));
    }
    if (!read)
        return read;
    m_pageFromFirst = !key;
    m_pageToLast = int(page.size()) < m_pageSize;
    m_page = std::move(page);
    return {};
}

Status FoundReports::loadPageBefore(const ReportKey& key)
{
    std::vector<Value> args = m_conditions.args;
    const QString found = m_conditions.dateOrderedWhere + u" AND rowid <= " + addParameter(args, m_lastRowid);
    const QString examined = ReportSql::column(Field::ExamDate);
    const QString ascending = examined + u", rowid";
    std::vector<ReportKey> page; // nearest first
    const auto append = [&](const QString& condition, std::vector<Value> a, const QString& order) {
        return appendKeys(page, condition, std::move(a), order);
    };
    Status read;
    std::vector<Value> a = args;
    if (isNull(key.date)) {
        const QString rowid = addParameter(a, key.rowid);
        read = append(found + u" AND " + examined + u" IS NULL AND rowid > " + rowid, a,
                      QStringLiteral("rowid"));
        if (read && int(page.size()) < m_pageSize)
            read = append(found + u" AND " + examined + u" IS NOT NULL", args, ascending);
    } else {
        const QString date = addParameter(a, key.date), rowid = addParameter(a, key.rowid);
        read = append(found + QStringLiteral(" AND (%1, rowid) > (%2, %3)").arg(examined, date, rowid), a,
                      ascending);
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

std::optional<ReportKey> FoundReports::keptAfter(const ReportKey& key) const
{
    for (const Kept& k : m_kept)
        if (shownBefore(key, k.key))
            return k.key;
    return std::nullopt;
}

std::optional<ReportKey> FoundReports::keptBefore(const ReportKey& key) const
{
    for (auto k = m_kept.rbegin(); k != m_kept.rend(); ++k)
        if (shownBefore(k->key, key))
            return k->key;
    return std::nullopt;
}

namespace {

// The earlier of two keys in shown order (`later`: the later instead).
std::optional<ReportKey> pick(const std::optional<ReportKey>& a, const std::optional<ReportKey>& b,
                              bool later)
{
    if (!a || !b)
        return a ? a : b;
    return shownBefore(*a, *b) != later ? a : b;
}

} // namespace

Result<std::optional<ReportKey>> FoundReports::following(const ReportKey& key)
{
    // The page holds every found key from its first to its last, so it knows the next one when the
    // key lies within it (or before it, when the page starts at the first found).
    const auto inPage = [&]() -> std::optional<ReportKey> {
        const auto next = std::upper_bound(m_page.begin(), m_page.end(), key, shownBefore);
        const bool covered = m_pageFromFirst || (!m_page.empty() && !shownBefore(key, m_page.front()));
        if (covered && next != m_page.end())
            return *next;
        return std::nullopt;
    };
    std::optional<ReportKey> next = inPage();
    const bool atEnd = m_pageToLast && (m_page.empty() || !shownBefore(m_page.back(), key) || sameKey(m_page.back(), key));
    if (!next && !atEnd) {
        if (Status s = loadPageAfter(key); !s)
            return s.failure();
        if (!m_page.empty())
            next = m_page.front();
    }
    return pick(next, keptAfter(key), false);
}

Result<std::optional<ReportKey>> FoundReports::preceding(const ReportKey& key)
{
    const auto inPage = [&]() -> std::optional<ReportKey> {
        auto before = std::lower_bound(m_page.begin(), m_page.end(), key, shownBefore);
        const bool covered = m_pageToLast || (!m_page.empty() && !shownBefore(m_page.back(), key));
        if (covered && before != m_page.begin())
            return *(before - 1);
        return std::nullopt;
    };
    std::optional<ReportKey> previous = inPage();
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

Result<std::optional<ReportKey>> FoundReports::first()
{
    if (!m_pageFromFirst)
        if (Status s = loadPageAfter(std::nullopt); !s)
            return s.failure();
    std::optional<ReportKey> top;
    if (!m_page.empty())
        top = m_page.front();
    return pick(top, m_kept.empty() ? std::nullopt : std::optional<ReportKey>(m_kept.front().key), false);
}

FoundReports::Read FoundReports::showKey(const ReportKey& key, const ShowReport& show, Failure& failure)
{
    Result<std::optional<ReportRecord>> read =
        m_store.report(key.rowid, {m_conditions.where, m_conditions.args});
    if (!read) {
        failure = read.failure();
        return Read::Failed;
    }
    std::optional<ReportRecord> record = std::move(*read);
    if (!record)
        if (const Kept* k = kept(key.rowid))
            record = k->record;
    if (!record)
        return Read::Gone;
    if (Status shown = show(key.rowid, *record); !shown) {
        failure = shown.failure();
        return Read::Failed;
    }
    m_current = key;
    return Read::Shown;
}

Status FoundReports::showFirst(const ShowReport& show)
{
    Result<std::optional<ReportKey>> at = first();
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
    const Result<ReportStore::Count> counted = m_store.count({conditions.where, conditions.args});
    if (!counted) {
        clear();
        return counted.failure();
    }
    m_count = counted->reports;
    if (m_count == 0)
        return 0;
    m_lastRowid = counted->lastRowid;

    // A small result's keys are all read now, with whatever index suits its conditions best.
    if (m_count <= m_keysReadAtOnce) {
        std::vector<Value> args = conditions.args;
        const QString found = conditions.where + u" AND rowid <= " + addParameter(args, m_lastRowid);
        Result<std::vector<ReportKey>> keys =
            m_store.keys({found, std::move(args)}, m_store.sql().foundOrder());
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
    ReportKey at = *m_current;
    for (;;) {
        Result<std::optional<ReportKey>> next = step == BrowseStep::Next ? following(at) : preceding(at);
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
    const ReportSql& sql = m_store.sql();
    Statement found{m_conditions.where, m_conditions.args};
    found.sql += u" AND rowid <= " + addParameter(found.args, m_lastRowid);
    found.sql += u" AND " + sql.keyCondition(int(found.args.size()) + 1);
    found.args.push_back(sql.keyArgument(key));
    const Result<std::vector<ReportKey>> keys = m_store.keys(found, QStringLiteral("rowid"));
    if (!keys)
        return; // the delete itself will say what is wrong
    for (const ReportKey& k : *keys) {
        if (kept(k.rowid))
            continue;
        Result<std::optional<ReportRecord>> record = m_store.report(k.rowid, found);
        if (!record || !*record)
            continue;
        const auto at =
            std::upper_bound(m_kept.begin(), m_kept.end(), k,
                             [](const ReportKey& a, const Kept& b) { return shownBefore(a, b.key); });
        m_kept.insert(at, Kept{k, std::move(**record)});
    }
}

} // namespace korvela
