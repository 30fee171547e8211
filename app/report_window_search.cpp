#include "search/browse.h"
#include "app/busy.h"
#include "app/report_window.h"
#include "search/search_statement.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace korvela {

namespace {

// A browse click reports only a first found row that cannot be shown; every other failure
// already ended on the first row.
void browse(Prompts& prompts, ResultSet& results, BrowseStep step, const ShowRow& show)
{
    if (const Status shown = browseFoundRows(results, step, show); !shown)
        prompts.message(u"无法显示查询到的记录：" + shown.failure().description, PromptIcon::Error);
}

} // namespace

void ReportWindow::connectSearchHandlers()
{
    connect(Command1, &QPushButton::clicked, this, &ReportWindow::Command1_Click);
    connect(Command3, &QPushButton::clicked, this, &ReportWindow::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &ReportWindow::Command4_Click);
}

void ReportWindow::Command1_Click()
{
    const Result<Statement> statement =
        BuildSearchStatement(b3->text(), b1->text(), b14->text(), b13->text(), b113->text());
    if (!statement) {
        // Nothing was searched: the fields, the found rows and the count stay as they were.
        m_services.prompts.message(statement.failure().description, PromptIcon::Error);
        QLineEdit* box = statement.failure().code == FailureCode::ToDateUnreadable ? b113 : b13;
        box->setFocus();
        box->selectAll();
        return;
    }

    const Result<int> found = [&] {
        WaitCursor wait(this);
        return runSearch(SearchResults(), *statement,
                         [this](const ResultSet& row) { return ShowReportRow(row); });
    }();
    if (!found) {
        // The fields keep what they showed; there is nothing to browse.
        m_services.prompts.message(u"查询失败：" + found.failure().description, PromptIcon::Error);
        Command3->setEnabled(false);
        Command4->setEnabled(false);
    } else if (*found < 1) {
        ClearReportForm();
        Command3->setEnabled(false);
        Command4->setEnabled(false);
    } else {
        cmdSave->setEnabled(true);
        Command3->setEnabled(true);
        Command4->setEnabled(true);
    }
    Label1->setText(foundCountCaption(SearchResults().recordCount()));
}

void ReportWindow::Command3_Click()
{
    browse(m_services.prompts, SearchResults(), BrowseStep::Previous,
           [this](const ResultSet& row) { return ShowReportRow(row); });
}

void ReportWindow::Command4_Click()
{
    browse(m_services.prompts, SearchResults(), BrowseStep::Next,
           [this](const ResultSet& row) { return ShowReportRow(row); });
}

} // namespace korvela
