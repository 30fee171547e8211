// The report's own commands: save, delete, clear.
#include "widgets/busy.h"
#include "app/report_sheet.h"
#include "app/report_window.h"
#include "search/found_reports.h"
#include "app/search_panel.h"
#include "records/report_store.h"

#include <QPushButton>

namespace korvela {

void ReportWindow::clearReport()
{
    m_sheet->clear();
    m_shown.reset();
    m_sheet->focusFirstField();
}

void ReportWindow::saveReport()
{
    const ReportRecord report = m_sheet->read();
    if (!requireNumberAndName(m_services.prompts, report[Field::ScreeningNumber], report[Field::PatientName]))
        return;
    SaveResult result;
    {
        DisabledWhileBusy busy(m_searchPanel->saveButton());
        WaitCursor wait(this);
        result = m_store->save(report, [&] { return askToOverwrite(m_services.prompts, report); });
    }
    if (result.kind == SaveResult::Saved)
        m_services.prompts.message(QStringLiteral("保存完毕！"), PromptIcon::Information);
    else if (result.kind == SaveResult::Failed)
        showSaveFailure(m_services.prompts, result.failure);
}

void ReportWindow::deleteReport()
{
    const ReportRecord report = m_sheet->read();
    const QString& number = report[Field::ScreeningNumber];
    if (!requireNumberAndName(m_services.prompts, number, report[Field::PatientName]))
        return;
    if (!m_services.prompts.ask(QStringLiteral("确定要删除此信息？")))
        return;
    Status deleted;
    {
        WaitCursor wait(this);
        m_found->keepBeforeDelete(number);
        // The accesses so far are written while their reports still hold their numbers.
        flushAccessLog();
        deleted = m_store->remove(number);
    }
    if (!deleted) {
        showDeleteFailure(m_services.prompts, deleted.failure());
        return;
    }
    m_services.prompts.message(QStringLiteral("删除完毕!"), PromptIcon::Information);
    m_sheet->clear();
    m_shown.reset();
}

} // namespace korvela
