#pragma once

#include "review/review_services.h"
#include "review/review_worker.h"

#include <QMainWindow>
#include <memory>

class QTabWidget;

namespace korvela {

class AuditTab;
class FollowUpTab;

// Korvela 随访与统计: the follow-up due list and the grade audit, each on a tab. It only reads the
// reports, on a thread and connection of its own.
class ReviewWindow final : public QMainWindow
{
    Q_OBJECT
public:
    explicit ReviewWindow(ReviewServices services, QWidget* parent = nullptr);
    ~ReviewWindow() override;

    FollowUpTab* followUps() const { return m_followUps; }
    AuditTab* audit() const { return m_audit; }
    QTabWidget* tabs() const { return m_tabs; }

private:
    ReviewServices m_services;
    // Made before the tabs and ended before them: no job's answer is posted to a tab that is gone.
    std::unique_ptr<ReviewWorker> m_worker;
    QTabWidget* m_tabs;
    FollowUpTab* m_followUps;
    AuditTab* m_audit;
};

} // namespace korvela
