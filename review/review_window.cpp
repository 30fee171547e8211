#include "review/review_window.h"

#include "review/audit_tab.h"
#include "review/follow_up_tab.h"
#include "review/history_tab.h"
#include "widgets/fonts.h"
#include "widgets/pictures.h"

#include <QShortcut>
#include <QStatusBar>
#include <QTabWidget>

namespace korvela {

ReviewWindow::ReviewWindow(ReviewServices services, QWidget* parent)
    : QMainWindow(parent)
    , m_services(std::move(services))
    , m_worker(std::make_unique<ReviewWorker>(m_services.openStore))
{
    setObjectName(QStringLiteral("reviewWindow"));
    setWindowTitle(QStringLiteral("Korvela 随访与统计"));
    setAccessibleName(windowTitle());
    setWindowIcon(notebookIcon());
    setFont(songFont(TextSize::Button));
    addTabs();
    statusBar()->setObjectName(QStringLiteral("reviewStatusBar"));
    statusBar()->setAccessibleName(QStringLiteral("状态栏"));
    new QShortcut(QKeySequence::Quit, this, this, &QWidget::close);
    resize(1240, 820);
}

void ReviewWindow::addTabs()
{
    auto* tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("reviewTabs"));
    tabs->setAccessibleName(QStringLiteral("随访与统计"));
    auto* followUps = new FollowUpTab(*m_worker, m_services, tabs);
    auto* audit = new AuditTab(*m_worker, m_services, tabs);
    auto* history = new HistoryTab(*m_worker, m_services, tabs);
    tabs->addTab(followUps, QStringLiteral("随访(&F)"));
    tabs->addTab(audit, QStringLiteral("统计(&S)"));
    tabs->addTab(history, QStringLiteral("修改记录(&H)"));
    setCentralWidget(tabs);
    connect(followUps, &FollowUpTab::notice, this, &ReviewWindow::say);
    connect(audit, &AuditTab::notice, this, &ReviewWindow::say);
    connect(history, &HistoryTab::notice, this, &ReviewWindow::say);
}

void ReviewWindow::say(const QString& text)
{
    if (!text.isEmpty())
        statusBar()->showMessage(text, 15000);
}

ReviewWindow::~ReviewWindow()
{
    // The worker ends first (dropping the jobs still waiting, closing its connection) while the tabs
    // it answers still stand; an answer already posted to a tab goes with the tab.
    m_worker.reset();
}

} // namespace korvela
