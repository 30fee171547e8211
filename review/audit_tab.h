#pragma once

#include "review/review_models.h"
#include "review/review_output.h"
#include "review/review_services.h"

#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

class QChartView;
class QComboBox;
class QSpinBox;
class QSplitter;

namespace korvela {

class DatePicker;
class TabFrame;

// 统计: for a month, a quarter, a year or any days, a row per physician and the total (reports, the
// X-ray and ultrasound grades, the share sent for work-up, the follow-ups due and done), a chart
// of the X-ray grades per physician and one of the reports per month. Read again whenever the
// period changes and at 刷新.
class AuditTab final : public QWidget
{
    Q_OBJECT
public:
    AuditTab(ReviewWorker& worker, ReviewServices& services, QWidget* parent);

signals:
    void notice(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The kinds of period of the period box, in its order.
    enum Kind { Month, Quarter, Year, Custom };

    void makeChoices(int year);
    QSplitter* makeTableAndCharts();
    void connectControls();
    void chooseKind(int kind);
    void choosePart(int part);
    void fillParts();
    // The period chosen, or nothing when its days are missing or out of order.
    std::optional<AuditPeriod> period() const;
    void periodChosen();
    void editDates();
    void refresh();
    void showAudit(const Result<std::shared_ptr<const GradeAudit>>& read, std::uint64_t request);
    void showCharts();
    // The table as tall as its rows (up to most of the tab), the charts below it the rest.
    void fitTable();
    QString periodName() const;
    QString fileName() const;
    ReviewDocument document(const AuditModel& shown) const;
    void exportCsv();
    void exportPdf();
    void print();

    ReviewWorker& m_worker;
    ReviewServices& m_services;
    AuditModel m_model;
    std::uint64_t m_request = 0;
    bool m_shownOnce = false;
    // The month (0..11) and the quarter (0..3) last chosen.
    int m_month = 0;
    int m_quarter = 0;
    QString m_failure;
    // The request the worker is to read; an earlier one still waiting is skipped.
    std::shared_ptr<std::atomic<std::uint64_t>> m_latest;

    QComboBox* m_kind = nullptr;
    QSpinBox* m_year = nullptr;
    QComboBox* m_part = nullptr;
    DatePicker* m_from = nullptr;
    DatePicker* m_to = nullptr;
    TabFrame* m_frame = nullptr;
    QChartView* m_gradeChart = nullptr;
    QChartView* m_monthChart = nullptr;
    QSplitter* m_split = nullptr;
};

} // namespace korvela
