// The report on paper and as a file, and the word processor's events.
#include "widgets/busy.h"
#include "app/report_sheet.h"
#include "app/report_window.h"
#include "app/search_panel.h"
#include "core/logging.h"
#include "records/access_log.h"
#include "records/report_store.h"
#include "report/report_output.h"

#include <QFileInfo>
#include <QPushButton>

namespace korvela {

namespace {

// The main window back from minimised, in front.
void restoreNormal(QWidget& window)
{
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    if (window.isVisible()) {
        window.raise();
        window.activateWindow();
    }
}

} // namespace

void ReportWindow::printReport()
{
    const ReportRecord report = m_sheet->read();
    if (trimBlanks(report[Field::ScreeningNumber]).isEmpty()) {
        m_services.prompts.message(QStringLiteral("没有可打印的内容！"), PromptIcon::Information);
        return;
    }
    Status printed = ensureWordProcessor(m_wordProcessor, m_services.wordProcessor, *this);
    if (printed)
        printed = korvela::printReport(m_services.system, *m_wordProcessor, report,
                                       [this] { setWindowState(windowState() | Qt::WindowMinimized); });
    if (!printed) {
        logFailure(lcOffice(), QStringLiteral("print failed"), printed.failure());
        restoreNormal(*this);
        m_services.prompts.message(QStringLiteral("报告未能送去打印：%1").arg(printed.failure().description),
                                   PromptIcon::Error);
        return;
    }
    m_accessLog->printed(shownReportId(report));
    logAccess();
}

void ReportWindow::exportReport()
{
    const ReportRecord report = m_sheet->read();
    if (trimBlanks(report[Field::ScreeningNumber]).isEmpty()) {
        m_services.prompts.message(QStringLiteral("没有可保存的内容！"), PromptIcon::Information);
        return;
    }
    DisabledWhileBusy busy(m_searchPanel->exportButton());
    Result<QString> exported = [&]() -> Result<QString> {
        if (Status ready = ensureWordProcessor(m_wordProcessor, m_services.wordProcessor, *this); !ready)
            return ready.failure();
        return korvela::exportReport(m_services.system, *m_wordProcessor, report, m_saveLock);
    }();
    if (!exported) {
        logFailure(lcOffice(), QStringLiteral("export failed"), exported.failure());
        restoreNormal(*this);
        m_services.prompts.message(QStringLiteral("报告文档未能保存：%1").arg(exported.failure().description),
                                   PromptIcon::Error);
        return;
    }
    m_accessLog->exported(shownReportId(report), QFileInfo(*exported).fileName());
    logAccess();
    m_services.prompts.message(QStringLiteral("该报告文档已成功保存在doc文件夹下面！"),
                               PromptIcon::Information);
}

// Whichever document closes, the report goes unsaved with it, the word processor is hidden and
// the window comes back.
void ReportWindow::documentBeforeClose(bool& cancel)
{
    cancel = false;
    if (m_wordProcessor) {
        (void)m_wordProcessor->closeDocument();
        (void)m_wordProcessor->setVisible(false);
    }
    restoreNormal(*this);
}

// Saves started in the word processor are refused unless the export itself is saving.
void ReportWindow::documentBeforeSave(bool, bool& cancel)
{
    cancel = m_saveLock == SaveLock::Locked;
}

} // namespace korvela
