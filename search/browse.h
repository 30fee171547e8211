#pragma once

#include "core/database.h"
#include "core/status.h"

#include <functional>

namespace korvela {

// Puts the current row of a result set into the report fields; fails when the row cannot be read.
using ShowRow = std::function<Status(const ResultSet&)>;

// Runs a search: the set is closed when open and opened again with the statement; when it found
// rows, the first (the newest report) is shown. Gives the number of rows found, or the failure of
// opening or of showing the first row.
Result<int> runSearch(ResultSet& results, const Statement& statement, const ShowRow& show);

enum class BrowseStep { Previous, Next };

// One click of "<" or ">" on the found rows: moves one row and shows it. Moving off either end,
// or any failure on the way, shows the first found row instead, so ">" on the last row wraps to
// the first and "<" on the first stays there. Nothing happens when nothing was found. Gives a
// failure only when even the first row cannot be shown.
Status browseFoundRows(ResultSet& results, BrowseStep step, const ShowRow& show);

} // namespace korvela
