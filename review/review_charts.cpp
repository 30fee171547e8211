#include "review/review_charts.h"

#include "widgets/fonts.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QCategoryAxis>
#include <QLegend>
#include <QLineSeries>
#include <QStackedBarSeries>
#include <QValueAxis>
#include <algorithm>

namespace korvela {

namespace {

// From grades that need no more than the usual check to those sent for work-up; 未评 and 其它 in grey.
const QColor kGradeColors[kGradeBuckets] = {
    QColor(0x6c, 0x5c, 0xe7), QColor(0x2e, 0x86, 0xde), QColor(0x48, 0xb8, 0xe0),
    QColor(0x1d, 0xb9, 0x8a), QColor(0xf0, 0xa2, 0x02), QColor(0xe5, 0x50, 0x39),
    QColor(0x9b, 0x15, 0x3c), QColor(0xc8, 0xd0, 0xd8), QColor(0x57, 0x65, 0x74)};

QFont chartFont(int pixels, bool bold = false)
{
    QFont font = songFont(pixels);
    font.setBold(bold);
    return font;
}

std::unique_ptr<QChart> newChart(const QString& title)
{
    auto chart = std::make_unique<QChart>();
    chart->setTitle(title);
    chart->setTitleFont(chartFont(16, true));
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->setFont(chartFont(13));
    chart->setBackgroundRoundness(0);
    return chart;
}

void styleAxis(QAbstractAxis* axis)
{
    axis->setLabelsFont(chartFont(12));
    axis->setTitleFont(chartFont(13));
}

// Counts from 0 to a round number at or above the largest, in whole steps.
QValueAxis* countAxis(int largest)
{
    auto* axis = new QValueAxis;
    axis->setRange(0, std::max(largest, 4));
    axis->applyNiceNumbers();
    axis->setLabelFormat(QStringLiteral("%d"));
    axis->setTitleText(QStringLiteral("报告数"));
    styleAxis(axis);
    return axis;
}

} // namespace

std::unique_ptr<QChart> xrayGradeChart(const GradeAudit& audit)
{
    auto chart = newChart(QStringLiteral("X线检查评级分布（按主检医师）"));
    auto* series = new QStackedBarSeries;
    QStringList physicians;
    for (const PhysicianFigures& f : audit.physicians)
        physicians << physicianCaption(f.physician);
    for (int b = 0; b < kGradeBuckets; ++b) {
        const auto bucket = GradeBucket(b);
        auto* set = new QBarSet(b <= int(GradeBucket::G6) ? gradeBucketName(bucket) + QStringLiteral("级")
                                                          : gradeBucketName(bucket));
        set->setColor(kGradeColors[b]);
        set->setBorderColor(kGradeColors[b]);
        for (const PhysicianFigures& f : audit.physicians)
            *set << f.xray[bucket];
        series->append(set);
    }
    series->setBarWidth(0.7);
    chart->addSeries(series);

    auto* categories = new QBarCategoryAxis;
    categories->append(physicians);
    styleAxis(categories);
    chart->addAxis(categories, Qt::AlignBottom);
    series->attachAxis(categories);

    int largest = 0;
    for (const PhysicianFigures& f : audit.physicians)
        largest = std::max(largest, f.reports);
    chart->addAxis(countAxis(largest), Qt::AlignLeft);
    series->attachAxis(chart->axes(Qt::Vertical).front());
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}

std::unique_ptr<QChart> reportsPerMonthChart(const GradeAudit& audit)
{
    auto chart = newChart(QStringLiteral("每月报告数"));
    auto* line = new QLineSeries;
    line->setName(QStringLiteral("报告数"));
    line->setPointsVisible(true);
    int largest = 0;
    const int count = int(audit.reportsPerMonth.size());
    for (int i = 0; i < count; ++i) {
        line->append(i, audit.reportsPerMonth[std::size_t(i)].second);
        largest = std::max(largest, audit.reportsPerMonth[std::size_t(i)].second);
    }
    chart->addSeries(line);
    chart->legend()->hide();

    // The months at their points: within one year by their numbers under the year, otherwise as
    // "2024-03", every few months of a long period.
    auto* months = new QCategoryAxis;
    months->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    const bool oneYear =
        count > 0 && audit.reportsPerMonth.front().first.year() == audit.reportsPerMonth.back().first.year();
    const int step = std::max(1, (count + 11) / 12);
    for (int i = 0; i < count; i += step) {
        const QDate month = audit.reportsPerMonth[std::size_t(i)].first;
        months->append(oneYear ? QString::number(month.month()) : month.toString(QStringLiteral("yyyy-MM")),
                       i);
    }
    months->setRange(-0.5, std::max(0, count - 1) + 0.5);
    if (oneYear)
        months->setTitleText(QStringLiteral("%1年（月）").arg(audit.reportsPerMonth.front().first.year()));
    else
        months->setLabelsAngle(-45);
    styleAxis(months);
    chart->addAxis(months, Qt::AlignBottom);
    line->attachAxis(months);

    chart->addAxis(countAxis(largest), Qt::AlignLeft);
    line->attachAxis(chart->axes(Qt::Vertical).front());
    return chart;
}

} // namespace korvela
