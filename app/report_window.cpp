#include "app/report_window.h"

#include "app/about_page.h"
#include "app/classification_panel.h"
#include "app/report_sheet.h"
#include "app/search_panel.h"
#include "app/sheet_layout.h"
#include "core/failure_codes.h"
#include "core/logging.h"
#include "records/access_log.h"
#include "search/found_reports.h"
#include "widgets/busy.h"
#include "widgets/fonts.h"
#include "widgets/pictures.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>

namespace korvela {

namespace {
// Where the count stands while its text fits before the search panel, in twips.
constexpr int kFoundCountLeft = 7830;
// How long a queued access waits before it is written: a kill loses at most this much of the log.
constexpr int kAccessFlushMs = 2000;
} // namespace

ReportWindow::ReportWindow(Services services, QWidget* parent)
    : QWidget(parent)
    , m_services(std::move(services))
    , m_store(std::make_unique<ReportStore>(m_services.database))
    , m_found(std::make_unique<FoundReports>(*m_store))
    , m_accessLog(std::make_unique<AccessLog>(m_services.database))
    , m_accessFlush(new QTimer(this))
{
    m_accessFlush->setInterval(kAccessFlushMs);
    connect(m_accessFlush, &QTimer::timeout, this, &ReportWindow::flushAccessLog);
    buildWindow();
    // Esc closes the window wherever the focus is: the window sees its controls' keys first.
    qApp->installEventFilter(this);
}

ReportWindow::~ReportWindow()
{
    qApp->removeEventFilter(this);
    releaseResources();
}

void ReportWindow::buildWindow()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Velmora"));
    setWindowIcon(notebookIcon());
    // Set before any control exists, so every control without a font of its own inherits it.
    setFont(songFont(TextSize::Default));
    resize(tw(13545), tw(6480));
    fillBackground(this, Qt::white);

    TabOrder tabs;
    place(new PictureBox(headerPicture(), Qt::white, this), QStringLiteral("Image1"), 2040, 120, 6810, 1260);
    m_foundCount = place(new QLabel(foundCountCaption(0), this), QStringLiteral("Label1"), kFoundCountLeft, 1260,
                         2430, 180);
    m_foundCount->adjustSize();
    tabs.add(m_foundCount, 85);
    m_sheet = new ReportSheet(this, tabs);
    m_searchPanel = new SearchPanel(this, tabs);
    m_classification = new ClassificationPanel(this, tabs);
    tabs.chain();

    connect(m_sheet, &ReportSheet::classificationRequested, this, &ReportWindow::openClassification);
    connect(m_classification, &ClassificationPanel::chosen, this, &ReportWindow::chooseClassification);
    connect(m_classification, &ClassificationPanel::cancelled, this, &ReportWindow::closeClassification);
    connect(m_searchPanel, &SearchPanel::searchRequested, this, &ReportWindow::search);
    connect(m_searchPanel, &SearchPanel::previousRequested, this, &ReportWindow::showPrevious);
    connect(m_searchPanel, &SearchPanel::nextRequested, this, &ReportWindow::showNext);
    connect(m_searchPanel, &SearchPanel::clearRequested, this, &ReportWindow::clearReport);
    connect(m_searchPanel, &SearchPanel::exportRequested, this, &ReportWindow::exportReport);
    connect(m_searchPanel, &SearchPanel::saveRequested, this, &ReportWindow::saveReport);
    connect(m_searchPanel, &SearchPanel::printRequested, this, &ReportWindow::printReport);
    connect(m_searchPanel, &SearchPanel::deleteRequested, this, &ReportWindow::deleteReport);
    connect(m_searchPanel, &SearchPanel::closeRequested, this, &ReportWindow::closeWindow);
}

Status ReportWindow::load()
{
    m_searchPanel->setCreditLine(creditLine());
    m_sheet->clear();
    m_sheet->fillLists();

    if (m_services.wordProcessor) {
        m_wordProcessor = m_services.wordProcessor();
        if (!m_wordProcessor)
            return Failure{FailureCode::WordProcessorNotMade, QStringLiteral("无法创建文字处理程序。")};
        if (Status started = m_wordProcessor->start(this); !started)
            return started;
        if (Status options = m_wordProcessor->switchOffOptions(); !options)
            return options;
    }

    m_saveLock = SaveLock::Locked;

    const QString docFolder = m_services.system.programFolder() + u"/doc";
    if (!m_services.system.folderExists(docFolder) && !m_services.system.makeFolder(docFolder))
        return Failure{FailureCode::DocFolderNotMade, QStringLiteral("无法建立 doc 文件夹。")};
    return {};
}

void ReportWindow::showFoundCount(int count)
{
    m_foundCount->setText(foundCountCaption(count));
    fitFoundCount();
}

// The count grows with its text; when it would reach the search panel it grows to the left
// instead, over the header's empty corner, so no count up to the largest a department keeps
// covers a control.
void ReportWindow::fitFoundCount()
{
    m_foundCount->adjustSize();
    const int right = m_searchPanel->widget()->x() - 1;
    m_foundCount->move(std::min(tw(kFoundCountLeft), right - m_foundCount->width()), m_foundCount->y());
}

// A label whose text changed asks its parent to lay it out again.
bool ReportWindow::event(QEvent* event)
{
    if (event->type() == QEvent::LayoutRequest && m_foundCount && m_searchPanel)
        fitFoundCount();
    return QWidget::event(event);
}

bool ReportWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        const auto* key = static_cast<QKeyEvent*>(event);
        if (widget && widget->window() == this && key->key() == Qt::Key_Escape) {
            askToQuit();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ReportWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        askToQuit();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ReportWindow::askToQuit()
{
    if (m_services.prompts.ask(QStringLiteral("是否退出病人信息模块？"), PromptIcon::None))
        close();
}

void ReportWindow::closeWindow()
{
    setCursor(Qt::WaitCursor);
    close();
}

void ReportWindow::closeEvent(QCloseEvent* event)
{
    unload();
    event->accept();
}

// Every step runs whatever became of the ones before it, so the program always ends.
void ReportWindow::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    releaseResources();
    openAboutPage(m_services.system);
    m_services.system.endProgram(0);
}

void ReportWindow::releaseResources()
{
    if (m_wordProcessor) {
        if (m_wordProcessor->hasOpenDocument())
            (void)m_wordProcessor->closeDocument();
        (void)m_wordProcessor->quit();
        m_wordProcessor.reset();
    }
    m_found->clear();
    if (m_services.database.isOpen()) {
        flushAccessLog();
        m_services.database.close();
    }
}

void ReportWindow::logAccess(std::optional<std::int64_t> shownRowid)
{
    if (shownRowid)
        m_accessLog->viewed(*shownRowid);
    if (m_accessLog->pending() && !m_accessFlush->isActive())
        m_accessFlush->start();
}

// A failed write is logged once, not every two seconds, and never shown: the accesses stay queued
// for the next try, and the doctor goes on working.
void ReportWindow::flushAccessLog()
{
    const Status written = m_accessLog->flush();
    if (!written && !m_accessFlushFailing)
        logFailure(lcStore(), QStringLiteral("access log not written, kept for the next try"), written.failure());
    m_accessFlushFailing = !written;
    if (!m_accessLog->pending())
        m_accessFlush->stop();
}

void ReportWindow::openClassification()
{
    m_searchPanel->widget()->setEnabled(false);
    m_sheet->widget()->setEnabled(false);
    // A quarter of the window's outer width and height, title bar and borders included.
    const QRect outer = frameGeometry();
    m_classification->open(QPoint(outer.width() / 4, outer.height() / 4));
}

void ReportWindow::chooseClassification(const QString& findings)
{
    m_sheet->setMammographyFindings(findings);
    closeClassification();
}

void ReportWindow::closeClassification()
{
    m_classification->close();
    m_searchPanel->widget()->setEnabled(true);
    m_sheet->widget()->setEnabled(true);
}

} // namespace korvela
