#include "app/busy.h"
#include "app/report_window.h"
#include "report/report_output.h"
#include "records/report_record.h"
#include "records/report_store.h"

#include <QLineEdit>
#include <QLocale>
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

void ReportWindow::connectReportHandlers()
{
    connect(Cmdprint, &QPushButton::clicked, this, &ReportWindow::Cmdprint_Click);
    connect(Command7, &QPushButton::clicked, this, &ReportWindow::Command7_Click);
}

void ReportWindow::Cmdprint_Click()
{
    if (trimBlanks(a3->text()).isEmpty()) {
        m_services.prompts.message(QStringLiteral("没有可打印的内容！"), PromptIcon::Information);
        return;
    }
    Status printed = ensureWordProcessor(m_app1, m_services.wordProcessor, *this);
    if (printed)
        printed = printReport(m_services.system, *m_app1, ReadReportForm(),
                              [this] { setWindowState(windowState() | Qt::WindowMinimized); });
    if (!printed) {
        restoreNormal(*this);
        m_services.prompts.message(QStringLiteral("报告未能送去打印：%1").arg(printed.failure().description),
                                   PromptIcon::Error);
    }
}

void ReportWindow::Command7_Click()
{
    if (trimBlanks(a3->text()).isEmpty()) {
        m_services.prompts.message(QStringLiteral("没有可保存的内容！"), PromptIcon::Information);
        return;
    }
    DisabledWhileBusy busy(Command7);
    Result<QString> exported = [this]() -> Result<QString> {
        if (Status ready = ensureWordProcessor(m_app1, m_services.wordProcessor, *this); !ready)
            return ready.failure();
        return exportReport(m_services.system, *m_app1, ReadReportForm(), m_saveLock);
    }();
    if (!exported) {
        restoreNormal(*this);
        m_services.prompts.message(QStringLiteral("报告文档未能保存：%1").arg(exported.failure().description),
                                   PromptIcon::Error);
        return;
    }
    m_services.prompts.message(QStringLiteral("该报告文档已成功保存在doc文件夹下面！"),
                               PromptIcon::Information);
}

void ReportWindow::documentBeforeClose(bool& cancel)
{
    app1_DocumentBeforeClose(cancel);
}

void ReportWindow::documentBeforeSave(bool, bool& cancel)
{
    app1_DocumentBeforeSave(cancel);
}

// Whichever document closes, the report goes unsaved with it, the word processor is hidden and
// the window comes back.
void ReportWindow::app1_DocumentBeforeClose(bool& cancel)
{
    cancel = false;
    if (m_app1) {
        (void)m_app1->closeDocument();
        (void)m_app1->setVisible(false);
    }
    restoreNormal(*this);
}

// Saves started in the word processor are refused unless the export itself is saving.
void ReportWindow::app1_DocumentBeforeSave(bool& cancel)
{
    cancel = m_saveLock == SaveLock::Locked;
}

} // namespace korvela
