#pragma once

#include "review/review_services.h"
#include "review/review_worker.h"

#include <QMainWindow>
#include <memory>

namespace korvela {

// Korvela 随访与统计: the follow-up due list, the grade audit and the reports' history, each on a
// tab. It reads the reports on a thread and connection of its own; only 恢复此版本 writes, through a
// connection opened for that save.
class ReviewWindow final : public QMainWindow
{
    Q_OBJECT
public:
    explicit ReviewWindow(ReviewServices services, QWidget* parent = nullptr);
    ~ReviewWindow() override;

private:
    void addTabs();
    // Shows a tab's notice in the status bar for a while.
    void say(const QString& text);

    ReviewServices m_services;
    // Made before the tabs and ended before them: no job's answer is posted to a tab that is gone.
    std::unique_ptr<ReviewWorker> m_worker;
};

} // namespace korvela
