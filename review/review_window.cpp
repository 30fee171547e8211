#include "review/review_window.h"

#include "review/audit_tab.h"
#include "review/follow_up_tab.h"
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

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("reviewTabs"));
    m_tabs->setAccessibleName(QStringLiteral("随访与统计"));
    m_followUps = new FollowUpTab(*m_worker, m_services, m_tabs);
    m_audit = new AuditTab(*m_worker, m_services, m_tabs);
    m_tabs->addTab(m_followUps, QStringLiteral("随访(&F)"));
    m_tabs->addTab(m_audit, QStringLiteral("统计(&S)"));
    setCentralWidget(m_tabs);

    statusBar()->setObjectName(QStringLiteral("reviewStatusBar"));
    statusBar()->setAccessibleName(QStringLiteral("状态栏"));
    const auto say = [this](const QString& text) {
        if (!text.isEmpty())
            statusBar()->showMessage(text, 15000);
    };
    connect(m_followUps, &FollowUpTab::notice, this, say);
    connect(m_audit, &AuditTab::notice, this, say);
    new QShortcut(QKeySequence::Quit, this, this, &QWidget::close);

    resize(1240, 820);
}

ReviewWindow::~ReviewWindow()
{
    // The worker ends first (dropping the jobs still waiting, closing its connection) while the tabs
    // it answers still stand; an answer already posted to a tab goes with the tab.
    m_worker.reset();
}

} // namespace korvela
