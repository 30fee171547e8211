#include "review/audit_tab.h"

#include "core/logging.h"
#include "review/output_actions.h"
#include "review/review_charts.h"
#include "review/review_log.h"
#include "review/tab_frame.h"
#include "widgets/date_picker.h"

#include <QChartView>
#include <QComboBox>
#include <QHeaderView>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

namespace korvela {

namespace {

constexpr TabTexts kTexts{.prefix = "audit",
                          .tab = u"统计",
                          .what = u"评级统计",
                          .refresh = u"重新统计",
                          .progress = u"统计进度",
                          .status = u"统计说明",
                          .table = u"评级统计表",
                          .tableDescription = u"每位主检医师一行，最后一行为合计",
                          .tableLabel = u"评级统计表(&L)："};

// The choices, in the order they stand on the screen.
enum { kKind, kYear, kPart, kFrom, kTo };
constexpr ChoiceText kChoices[] = {
    {"auditPeriodKind", u"统计时期", u"统计时期(&K)："},
    {"auditYear", u"年份", u"年份(&Y)"},
    {"auditPart", u"月份或季度"},
    {"auditFrom", u"统计检查日期从", u"检查日期从(&M)", kGroupSpace},
    {"auditTo", u"统计检查日期到", u"到(&T)"},
};

// In the order of AuditTab::Kind.
constexpr const char16_t* kKinds[] = {u"按月", u"按季度", u"按年", u"自定义"};
constexpr const char16_t* kQuarters[] = {u"第一季度", u"第二季度", u"第三季度", u"第四季度"};

QChartView* chartView(const char* name, const QString& spoken, QWidget* parent)
{
    auto* view = new QChartView(parent);
    view->setObjectName(QString::fromLatin1(name));
    view->setAccessibleName(spoken);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumHeight(220);
    view->setFocusPolicy(Qt::NoFocus);
    return view;
}

QSplitter* splitter(Qt::Orientation orientation, const char* name, const QString& spoken, QWidget* parent)
{
    auto* split = new QSplitter(orientation, parent);
    split->setObjectName(QString::fromLatin1(name));
    split->setAccessibleName(spoken);
    return split;
}

void replaceChart(QChartView* view, std::unique_ptr<QChart> chart)
{
    QChart* old = view->chart();
    view->setChart(chart.release());
    delete old;
}

} // namespace

AuditTab::AuditTab(ReviewWorker& worker, ReviewServices& services, QWidget* parent)
    : QWidget(parent)
    , m_worker(worker)
    , m_services(services)
{
    const QDate today = services.today();
    m_month = today.month() - 1;
    m_quarter = (today.month() - 1) / 3;
    makeChoices(today.year());
    m_frame = new TabFrame(this, kTexts, m_model);
    m_frame->table()->verticalHeader()->hide();
    QVBoxLayout* layout = m_frame->layOut(kChoices);
    layout->addWidget(makeTableAndCharts(), 1);
    connectControls();
    // A year is the default: enough reports per physician for the shares to say something.
    chooseKind(Year);
}

void AuditTab::makeChoices(int year)
{
    m_kind = named(new QComboBox(this), kChoices[kKind]);
    for (const char16_t* kind : kKinds)
        m_kind->addItem(QString::fromUtf16(kind));
    m_year = named(new QSpinBox(this), kChoices[kYear]);
    m_year->setRange(1900, 9999);
    m_year->setSuffix(QStringLiteral(" 年"));
    m_year->setValue(year);
    m_part = named(new QComboBox(this), kChoices[kPart]);
    m_from = named(new DatePicker(this), kChoices[kFrom]);
    m_to = named(new DatePicker(this), kChoices[kTo]);
}

// The table above, the two charts side by side below it.
QSplitter* AuditTab::makeTableAndCharts()
{
    m_gradeChart = chartView("auditGradeChart", QStringLiteral("X线检查评级分布图"), this);
    m_monthChart = chartView("auditMonthChart", QStringLiteral("每月报告数折线图"), this);
    QSplitter* charts = splitter(Qt::Horizontal, "auditCharts", QStringLiteral("统计图"), this);
    charts->addWidget(m_gradeChart);
    charts->addWidget(m_monthChart);
    charts->setStretchFactor(0, 3);
    charts->setStretchFactor(1, 2);
    auto* tableBox = new QWidget(this);
    auto* tableLayout = new QVBoxLayout(tableBox);
    tableLayout->setContentsMargins(0, 0, 0, 0);
    m_frame->addTable(tableLayout, 0);
    m_split = splitter(Qt::Vertical, "auditSplitter", QStringLiteral("统计表与统计图"), this);
    m_split->addWidget(tableBox);
    m_split->addWidget(charts);
    m_split->setStretchFactor(0, 0);
    m_split->setStretchFactor(1, 1);
    return m_split;
}

void AuditTab::connectControls()
{
    connect(m_kind, &QComboBox::activated, this, &AuditTab::chooseKind);
    connect(m_year, &QSpinBox::valueChanged, this, &AuditTab::periodChosen);
    connect(m_part, &QComboBox::activated, this, &AuditTab::choosePart);
    connect(m_from, &QDateEdit::dateChanged, this, &AuditTab::editDates);
    connect(m_to, &QDateEdit::dateChanged, this, &AuditTab::editDates);
    connect(m_frame, &TabFrame::refreshRequested, this, &AuditTab::refresh);
    connect(m_frame, &TabFrame::csvRequested, this, &AuditTab::exportCsv);
    connect(m_frame, &TabFrame::pdfRequested, this, &AuditTab::exportPdf);
    connect(m_frame, &TabFrame::printRequested, this, &AuditTab::print);
}

void AuditTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        refresh();
    }
}

void AuditTab::fillParts()
{
    const QSignalBlocker block(m_part);
    m_part->clear();
    const int kind = m_kind->currentIndex();
    if (kind == Month) {
        for (int m = 1; m <= 12; ++m)
            m_part->addItem(QStringLiteral("%1月").arg(m));
        m_part->setCurrentIndex(m_month);
    } else if (kind == Quarter) {
        for (const char16_t* quarter : kQuarters)
            m_part->addItem(QString::fromUtf16(quarter));
        m_part->setCurrentIndex(m_quarter);
    }
    m_part->setVisible(kind == Month || kind == Quarter);
    m_year->setEnabled(kind != Custom);
}

void AuditTab::chooseKind(int kind)
{
    m_kind->setCurrentIndex(kind);
    fillParts();
    periodChosen();
}

void AuditTab::choosePart(int part)
{
    // Each kind keeps its own choice, so going from months to quarters and back keeps both.
    (m_kind->currentIndex() == Month ? m_month : m_quarter) = part;
    periodChosen();
}

std::optional<AuditPeriod> AuditTab::period() const
{
    const int year = m_year->value();
    switch (Kind(m_kind->currentIndex())) {
    case Month:
        return monthPeriod(year, m_part->currentIndex() + 1);
    case Quarter:
        return quarterPeriod(year, m_part->currentIndex() + 1);
    case Year:
        return yearPeriod(year);
    case Custom:
        break;
    }
    const std::optional<QDate> from = m_from->value();
    const std::optional<QDate> to = m_to->value();
    if (!from || !to || *from > *to)
        return std::nullopt;
    return AuditPeriod{*from, *to};
}

void AuditTab::periodChosen()
{
    if (m_kind->currentIndex() != Custom) {
        if (const std::optional<AuditPeriod> p = period()) {
            const QSignalBlocker blockFrom(m_from);
            const QSignalBlocker blockTo(m_to);
            m_from->setValue(p->from);
            m_to->setValue(p->to);
        }
    }
    if (m_shownOnce)
        refresh();
}

void AuditTab::editDates()
{
    if (m_kind->currentIndex() != Custom) {
        m_kind->setCurrentIndex(Custom);
        fillParts();
    }
    if (m_shownOnce)
        refresh();
}

void AuditTab::refresh()
{
    const std::uint64_t request = ++m_request;
    const std::optional<AuditPeriod> chosen = period();
    if (!chosen) {
        m_frame->say(QStringLiteral("请选择统计的起止日期（“从”不能晚于“到”）。"));
        m_frame->readingEnded();
        return;
    }
    m_frame->readingStarted(QStringLiteral("正在统计…"));
    // A job already waiting for an earlier period is skipped: only the latest is read.
    if (!m_latest)
        m_latest = std::make_shared<std::atomic<std::uint64_t>>();
    m_latest->store(request);
    const std::shared_ptr<std::atomic<std::uint64_t>> latest = m_latest;
    m_worker.run<std::shared_ptr<const GradeAudit>>(
        this,
        [period = *chosen, latest, request](ReportDatabase& db) -> Result<std::shared_ptr<const GradeAudit>> {
            if (latest->load() != request)
                return Failure{FailureCode::ReviewCancelled, {}};
            Result<GradeAudit> read = GradeAudit::read(db, period);
            if (!read)
                return read.failure();
            return std::make_shared<const GradeAudit>(std::move(read).value());
        },
        [this, request](const Result<std::shared_ptr<const GradeAudit>>& read) { showAudit(read, request); });
}

void AuditTab::showAudit(const Result<std::shared_ptr<const GradeAudit>>& read, std::uint64_t request)
{
    if (request != m_request)
        return;
    m_frame->readingEnded();
    if (!read) {
        const QString failed = QStringLiteral("统计失败：") + read.failure().description;
        logFailure(lcReview(), QStringLiteral("reading the audit"), read.failure());
        m_frame->say(failed);
        m_services.prompts.message(failed, PromptIcon::Error);
        return;
    }
    m_model.setAudit(*read);
    m_frame->table()->resizeColumnsToContents();
    fitTable();
    showCharts();
    const GradeAudit& audit = **read;
    m_frame->say(QStringLiteral("%1：报告 %2 份，主检医师 %3 位；期内应随诊 %4 例，已随诊 %5 例。")
                     .arg(periodName())
                     .arg(audit.total.reports)
                     .arg(audit.physicians.size())
                     .arg(audit.total.followUpsDue)
                     .arg(audit.total.followUpsDone));
}

void AuditTab::fitTable()
{
    const int total = m_split->height();
    if (total <= 0)
        return;
    const QTableView* shown = m_frame->table();
    const int label = m_split->widget(0)->height() - shown->height();
    const int rows = shown->horizontalHeader()->height() + m_model.rowCount() * shown->rowHeight(0) +
                     2 * shown->frameWidth() + shown->horizontalScrollBar()->sizeHint().height();
    const int table = std::min(label + rows, total * 6 / 10);
    m_split->setSizes({table, total - table});
}

void AuditTab::showCharts()
{
    const GradeAudit* audit = m_model.audit();
    if (!audit)
        return;
    replaceChart(m_gradeChart, xrayGradeChart(*audit));
    replaceChart(m_monthChart, reportsPerMonthChart(*audit));
}

QString AuditTab::fileName() const
{
    const GradeAudit* audit = m_model.audit();
    if (!audit)
        return QStringLiteral("评级统计");
    return QStringLiteral("评级统计-%1-%2")
        .arg(audit->period.from.toString(QStringLiteral("yyyyMMdd")),
             audit->period.to.toString(QStringLiteral("yyyyMMdd")));
}

QString AuditTab::periodName() const
{
    const GradeAudit* audit = m_model.audit();
    if (!audit)
        return {};
    const AuditPeriod& p = audit->period;
    return QStringLiteral("%1 至 %2").arg(p.from.toString(Qt::ISODate), p.to.toString(Qt::ISODate));
}

ReviewDocument AuditTab::document(const AuditModel& shown) const
{
    ReviewDocument doc;
    doc.title = QStringLiteral("主检医师评级统计");
    doc.notes
        << QStringLiteral("统计时期：") + periodName()
        << QStringLiteral(
               "X线0/4/5级占比：X线检查评级为0、4或5级（需进一步检查）的报告占评为0至6级报告的比例。"
               "评级去掉首尾空格后为一位数字0至6者按该级计，空白为“未评”，其余（如“3类”、“4a”、全角数字）为“"
               "其它”。")
        << QStringLiteral(
               "期内应随诊：应随诊日期在统计时期内的随访；已随诊：同一筛查编号其后有检查日期更晚的报告。")
        << madeAtNote();
    doc.table = &shown;
    if (const std::shared_ptr<const GradeAudit> audit = shown.sharedAudit()) {
        doc.charts.push_back([audit] { return xrayGradeChart(*audit); });
        doc.charts.push_back([audit] { return reportsPerMonthChart(*audit); });
    }
    return doc;
}

void AuditTab::exportCsv()
{
    emit notice(korvela::exportCsv(m_services, m_model, fileName()));
}

void AuditTab::exportPdf()
{
    AuditModel shown;
    shown.setAudit(m_model.sharedAudit());
    emit notice(korvela::exportPdf(this, m_services, document(shown), fileName()));
}

void AuditTab::print()
{
    AuditModel shown;
    shown.setAudit(m_model.sharedAudit());
    emit notice(printDocument(this, m_services, document(shown)));
}

} // namespace korvela
