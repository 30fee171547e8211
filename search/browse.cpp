#include "search/browse.h"

namespace korvela {

Result<int> runSearch(ResultSet& results, const Statement& statement, const ShowRow& show)
{
    if (results.isOpen())
        results.close();
    if (Status opened = results.open(statement); !opened)
        return opened.failure();
    const int found = results.recordCount();
    if (found > 0) {
        if (Status shown = show(results); !shown)
            return shown.failure();
    }
    return found;
}

Status browseFoundRows(ResultSet& results, BrowseStep step, const ShowRow& show)
{
    if (results.recordCount() == 0)
        return {};
    const Status moved = step == BrowseStep::Previous ? results.movePrevious() : results.moveNext();
    // Off either end the set stands on no row and reading it fails: that, too, ends at the first.
    if (moved && results.hasCurrentRow() && show(results))
        return {};
    if (Status first = results.moveFirst(); !first)
        return first;
    return show(results);
}

} // namespace korvela
