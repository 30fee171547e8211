#pragma once

#include "core/database.h"
#include "core/status.h"
#include "records/report_record.h"
#include "records/report_store.h"
#include "search/search_statement.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace korvela {

// True when `a` is shown before `b`.
bool shownBefore(const ReportKey& a, const ReportKey& b);

// Shows a found report: its row id and its values.
using ShowReport = std::function<Status(std::int64_t rowid, const ReportRecord&)>;

enum class BrowseStep { Previous, Next };

// The reports a search found, read as the user browses them. The search counts them exactly and
// shows the newest at once; the keys of a small result are all read then, a large one is read a
// page of keys at a time along the date index. Each report is read afresh when it is shown, so
// memory stays small whatever the count and a browse step is one small read.
//
// Reports are as they are when shown: one that was deleted after the search, or changed so that
// it no longer matches, is passed over without a word, and one changed but still matching is shown
// as it is now. Reports entered after the search are not among the found ones (the count said how
// many there are). A report deleted from this window itself stays as it was, so browsing back to it
// shows it, as the user saw it before deleting it. No transaction is held between clicks.
class FoundReports
{
public:
    explicit FoundReports(ReportStore& store, int pageSize = 64, int keysReadAtOnce = 50000);
    ~FoundReports();

    // Replaces the found reports by those of `conditions` and shows the newest. Gives how many
    // were found, or the failure of the search or of showing the newest.
    Result<int> search(const SearchConditions& conditions, const ShowReport& show);

    // One click of "<" or ">": shows the next or the previous found report. Moving off either end,
    // or any failure on the way, shows the first found report instead, so ">" on the last wraps to
    // the first and "<" on the first stays there. Nothing happens when nothing was found. Gives a
    // failure only when even the first cannot be shown.
    Status browse(BrowseStep step, const ShowReport& show);

    // Keeps the found reports with this screening number as they are now, so that they are still
    // shown after this window deleted them. Called just before the delete.
    void keepBeforeDelete(const QString& key);

    // How many the last search found (0 before any).
    int count() const { return m_count; }
    void clear();

private:
    struct Kept
    {
        ReportKey key;
        ReportRecord record;
    };
    enum class Read { Shown, Gone, Failed };

    Result<std::optional<ReportKey>> following(const ReportKey& key);
    Result<std::optional<ReportKey>> preceding(const ReportKey& key);
    Result<std::optional<ReportKey>> first();
    Status appendKeys(std::vector<ReportKey>& page, const QString& condition, std::vector<Value> args,
                      const QString& order);
    Status loadPageAfter(const std::optional<ReportKey>& key);
    Status loadPageBefore(const ReportKey& key);
    Read showKey(const ReportKey& key, const ShowReport& show, Failure& failure);
    Status showFirst(const ShowReport& show);
    const Kept* kept(std::int64_t rowid) const;
    std::optional<ReportKey> keptAfter(const ReportKey& key) const;
    std::optional<ReportKey> keptBefore(const ReportKey& key) const;

    ReportStore& m_store;
    const int m_pageSize;
    const int m_keysReadAtOnce;
    SearchConditions m_conditions;
    int m_count = 0;
    std::int64_t m_lastRowid = 0; // reports entered after the search are not among the found
    // A run of consecutive found keys in shown order; whether it starts at the first and ends
    // at the last.
    std::vector<ReportKey> m_page;
    bool m_pageFromFirst = false;
    bool m_pageToLast = false;
    std::optional<ReportKey> m_current;
    std::vector<Kept> m_kept; // in shown order
};

} // namespace korvela
