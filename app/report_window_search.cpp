// Search and browse.
#include "widgets/busy.h"
#include "app/report_sheet.h"
#include "app/report_window.h"
#include "app/search_panel.h"
#include "core/logging.h"
#include "records/access_log.h"
#include "records/report_record.h"
#include "records/report_sql.h"
#include "search/found_reports.h"

#include <QPushButton>

namespace korvela {

ShowReport ReportWindow::showing(std::optional<std::int64_t>& shown)
{
    return [this, &shown](std::int64_t rowid, const ReportRecord& report) {
        m_sheet->show(report);
        m_shown = ShownReport{rowid, report[Field::ScreeningNumber]};
        shown = rowid;
        return Status();
    };
}

std::optional<std::int64_t> ReportWindow::shownReportId(const ReportRecord& report) const
{
    const auto key = [](const QString& number) { return foldLatinCase(trimBlanks(number)); };
    if (m_shown && key(m_shown->number) == key(report[Field::ScreeningNumber]))
        return m_shown->rowid;
    return std::nullopt;
}

void ReportWindow::search()
{
    const SearchBoxes boxes = m_searchPanel->boxes();
    const Result<SearchConditions> conditions = BuildSearchConditions(
        m_services.database.dialect(), boxes.number, boxes.name, boxes.physician, boxes.from, boxes.to);
    if (!conditions) {
        // Nothing was searched: the fields, the found rows and the count stay as they were.
        m_services.prompts.message(conditions.failure().description, PromptIcon::Error);
        m_searchPanel->focusUnreadableDate(conditions.failure().code);
        return;
    }

    std::optional<std::int64_t> shown;
    const Result<int> found = [&] {
        WaitCursor wait(this);
        return m_found->search(*conditions, showing(shown));
    }();
    if (found)
        m_accessLog->searched(describeSearch(boxes), *found);
    logAccess(shown);
    if (!found) {
        // The fields keep what they showed; there is nothing to browse.
        logFailure(lcSearch(), QStringLiteral("search failed"), found.failure());
        m_services.prompts.message(u"查询失败：" + found.failure().description, PromptIcon::Error);
        m_searchPanel->setBrowseEnabled(false);
    } else if (*found < 1) {
        m_sheet->clear();
        m_shown.reset();
        m_searchPanel->setBrowseEnabled(false);
    } else {
        m_searchPanel->saveButton()->setEnabled(true);
        m_searchPanel->setBrowseEnabled(true);
    }
    showFoundCount(m_found->count());
}

// A browse click reports only a first found row that cannot be shown; every other failure
// already ended on the first row.
void ReportWindow::browse(bool forward)
{
    std::optional<std::int64_t> shown;
    const Status browsed = m_found->browse(forward ? BrowseStep::Next : BrowseStep::Previous, showing(shown));
    logAccess(shown);
    if (!browsed) {
        logFailure(lcSearch(), QStringLiteral("browse failed"), browsed.failure());
        m_services.prompts.message(u"无法显示查询到的记录：" + browsed.failure().description, PromptIcon::Error);
    }
}

void ReportWindow::showPrevious()
{
    browse(false);
}

void ReportWindow::showNext()
{
    browse(true);
}

} // namespace korvela
