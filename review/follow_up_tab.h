#pragma once

#include "review/review_models.h"
#include "review/review_output.h"
#include "review/review_services.h"

#include <QWidget>
#include <cstdint>

class QComboBox;

namespace korvela {

class DatePicker;
class TabFrame;

// 随访: the follow-ups not done whose due date falls in the chosen range, soonest first, for every
// physician or one. The list is read when the tab is made (it is the window's first) and at 刷新;
// choosing a range or a physician only filters what was read.
class FollowUpTab final : public QWidget
{
    Q_OBJECT
public:
    FollowUpTab(ReviewWorker& worker, ReviewServices& services, QWidget* parent);

signals:
    // A line for the window's status bar.
    void notice(const QString& text);

private:
    // The ranges of the range box, in its order.
    enum Range { Overdue, ThisWeek, Next30Days, Custom };

    void makeChoices();
    void setUpTable();
    void connectControls();
    void refresh();
    void chooseRange(int range);
    void editDates();
    void choosePhysician(int index);
    void showList(const Result<std::shared_ptr<const FollowUpList>>& read, std::uint64_t request);
    void fillPhysicians();
    void applyRange();
    void updateStatus();
    QString rangeNote() const;
    QString fileName() const;
    ReviewDocument document(const FollowUpModel& shown) const;
    void exportCsv();
    void exportPdf();
    void print();

    ReviewWorker& m_worker;
    ReviewServices& m_services;
    FollowUpModel m_model;
    QDate m_today;
    std::uint64_t m_request = 0;
    QString m_readAt;
    QString m_failure;

    QComboBox* m_range = nullptr;
    DatePicker* m_from = nullptr;
    DatePicker* m_to = nullptr;
    QComboBox* m_physician = nullptr;
    TabFrame* m_frame = nullptr;
};

} // namespace korvela
