#include "review/output_actions.h"

#include "core/logging.h"
#include "review/review_log.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QPageLayout>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>

namespace korvela {

namespace {

// Rows of a table that fill about a page of A4 landscape; more than this many pages are asked about.
constexpr int kRowsPerPage = 30;
constexpr int kPagesAsked = 100;

bool largeOutputAgreed(ReviewServices& services, const ReviewDocument& document)
{
    const int rows = document.table ? document.table->rowCount() : 0;
    const int pages = rows / kRowsPerPage + 1;
    if (pages <= kPagesAsked)
        return true;
    return services.prompts.ask(
        QStringLiteral("共 %1 行，约 %2 页，输出需要较长时间。是否继续？").arg(rows).arg(pages));
}

QString failed(ReviewServices& services, const Failure& failure)
{
    if (failure.code == FailureCode::ReviewCancelled)
        return QStringLiteral("已取消输出。");
    logFailure(lcReview(), QStringLiteral("output"), failure);
    services.prompts.message(failure.description, PromptIcon::Error);
    return failure.description;
}

// A progress dialog over the window while the pages are painted; its 取消 stops them.
class PageProgressDialog
{
public:
    explicit PageProgressDialog(QWidget* parent)
        : m_dialog(QStringLiteral("正在输出…"), QStringLiteral("取消"), 0, 1, parent)
    {
        m_dialog.setObjectName(QStringLiteral("outputProgress"));
        m_dialog.setAccessibleName(QStringLiteral("输出进度"));
        m_dialog.setWindowTitle(Prompts::title());
        m_dialog.setWindowModality(Qt::WindowModal);
        m_dialog.setMinimumDuration(400);
        m_dialog.setAutoReset(false);
    }

    PageProgress progress()
    {
        return [this](int page, int pages) {
            m_dialog.setMaximum(pages);
            m_dialog.setValue(page);
            m_dialog.setLabelText(QStringLiteral("正在输出第 %1 页，共 %2 页…").arg(page).arg(pages));
            QCoreApplication::processEvents();
            return !m_dialog.wasCanceled();
        };
    }

private:
    QProgressDialog m_dialog;
};

} // namespace

QString exportCsv(ReviewServices& services, const QAbstractItemModel& table, const QString& suggestedName)
{
    const QString path = services.files.saveFileName(
        {QStringLiteral("导出CSV文件"), suggestedName + u".csv", QStringLiteral("CSV文件 (*.csv)")});
    if (path.isEmpty())
        return {};
    if (Status s = writeFile(path, csvBytes(table)); !s)
        return failed(services, s.failure());
    return QStringLiteral("已导出 %1 行到 %2").arg(table.rowCount()).arg(QDir::toNativeSeparators(path));
}

QString exportPdf(QWidget* parent, ReviewServices& services, const ReviewDocument& document,
                  const QString& suggestedName)
{
    if (!largeOutputAgreed(services, document))
        return {};
    const QString path = services.files.saveFileName(
        {QStringLiteral("导出PDF文件"), suggestedName + u".pdf", QStringLiteral("PDF文件 (*.pdf)")});
    if (path.isEmpty())
        return {};
    PageProgressDialog progress(parent);
    if (Status s = writePdf(path, document, progress.progress()); !s)
        return failed(services, s.failure());
    return QStringLiteral("已导出到 %1").arg(QDir::toNativeSeparators(path));
}

QString printDocument(QWidget* parent, ReviewServices& services, const ReviewDocument& document)
{
    if (!largeOutputAgreed(services, document))
        return {};
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(document.title);
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape,
                                      QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter));
    QPrintDialog dialog(&printer, parent);
    dialog.setObjectName(QStringLiteral("printDialog"));
    dialog.setWindowTitle(QStringLiteral("打印%1").arg(document.title));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    PageProgressDialog progress(parent);
    if (Status s = paintDocument(printer, document, progress.progress()); !s)
        return failed(services, s.failure());
    return QStringLiteral("已送往打印机 %1")
        .arg(printer.printerName().isEmpty() ? printer.outputFileName() : printer.printerName());
}

QString madeAtNote()
{
    return QStringLiteral("制表时间：") +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

} // namespace korvela
