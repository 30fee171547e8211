#include "review/audit_tab.h"

#include "core/logging.h"
#include "review/output_actions.h"
#include "review/review_charts.h"
#include "review/review_log.h"
#include "widgets/date_picker.h"

#include <QChartView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace korvela {

namespace {

QLabel* buddyLabel(const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

template <typename W> W* named(W* widget, const char* name, const QString& spoken)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setAccessibleName(spoken);
    return widget;
}

QChartView* chartView(const char* name, const QString& spoken, QWidget* parent)
{
    auto* view = named(new QChartView(parent), name, spoken);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumHeight(220);
    view->setFocusPolicy(Qt::NoFocus);
    return view;
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
    setObjectName(QStringLiteral("auditTab"));
    setAccessibleName(QStringLiteral("统计"));
    const QDate today = services.today();
    m_month = today.month() - 1;
    m_quarter = (today.month() - 1) / 3;

    m_kind = named(new QComboBox(this), "auditPeriodKind", QStringLiteral("统计时期"));
    m_kind->addItems(
        {QStringLiteral("按月"), QStringLiteral("按季度"), QStringLiteral("按年"), QStringLiteral("自定义")});
    m_year = named(new QSpinBox(this), "auditYear", QStringLiteral("年份"));
    m_year->setRange(1900, 9999);
    m_year->setSuffix(QStringLiteral(" 年"));
    m_year->setValue(today.year());
    m_part = named(new QComboBox(this), "auditPart", QStringLiteral("月份或季度"));
    m_from = named(new DatePicker(this), "auditFrom", QStringLiteral("统计检查日期从"));
    m_to = named(new DatePicker(this), "auditTo", QStringLiteral("统计检查日期到"));
    m_refresh =
        named(new QPushButton(QStringLiteral("刷新(&U)"), this), "auditRefresh", QStringLiteral("重新统计"));
    const OutputButtons out = makeOutputButtons(this, QStringLiteral("audit"), QStringLiteral("评级统计"));
    m_csv = out.csv;
    m_pdf = out.pdf;
    m_print = out.print;
    m_progress = named(new QProgressBar(this), "auditProgress", QStringLiteral("统计进度"));
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);
    m_progress->setMaximumWidth(160);
    m_progress->hide();
    m_status = named(new QLabel(this), "auditStatus", QStringLiteral("统计说明"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_table = named(new QTableView(this), "auditTable", QStringLiteral("评级统计表"));
    m_table->setAccessibleDescription(QStringLiteral("每位主检医师一行，最后一行为合计"));
    m_table->setModel(&m_model);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setHighlightSections(false);
    m_gradeChart = chartView("auditGradeChart", QStringLiteral("X线检查评级分布图"), this);
    m_monthChart = chartView("auditMonthChart", QStringLiteral("每月报告数折线图"), this);

    auto* choose = new QHBoxLayout;
    choose->addWidget(buddyLabel(QStringLiteral("统计时期(&K)："), m_kind, this));
    choose->addWidget(m_kind);
    choose->addWidget(buddyLabel(QStringLiteral("年份(&Y)"), m_year, this));
    choose->addWidget(m_year);
    choose->addWidget(m_part);
    choose->addSpacing(12);
    choose->addWidget(buddyLabel(QStringLiteral("检查日期从(&M)"), m_from, this));
    choose->addWidget(m_from);
    choose->addWidget(buddyLabel(QStringLiteral("到(&T)"), m_to, this));
    choose->addWidget(m_to);
    choose->addStretch();
    choose->addWidget(m_refresh);

    auto* act = new QHBoxLayout;
    act->addWidget(m_csv);
    act->addWidget(m_pdf);
    act->addWidget(m_print);
    act->addSpacing(12);
    act->addWidget(m_progress);
    act->addWidget(m_status, 1);

    auto* charts = named(new QSplitter(Qt::Horizontal, this), "auditCharts", QStringLiteral("统计图"));
    charts->addWidget(m_gradeChart);
    charts->addWidget(m_monthChart);
    charts->setStretchFactor(0, 3);
    charts->setStretchFactor(1, 2);
    auto* tableBox = new QWidget(this);
    auto* tableLayout = new QVBoxLayout(tableBox);
    tableLayout->setContentsMargins(0, 0, 0, 0);
    tableLayout->addWidget(buddyLabel(QStringLiteral("评级统计表(&L)："), m_table, tableBox));
    tableLayout->addWidget(m_table);
    m_split = named(new QSplitter(Qt::Vertical, this), "auditSplitter", QStringLiteral("统计表与统计图"));
    m_split->addWidget(tableBox);
    m_split->addWidget(charts);
    m_split->setStretchFactor(0, 0);
    m_split->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(choose);
    layout->addLayout(act);
    layout->addWidget(m_split, 1);

    QWidget::setTabOrder(m_kind, m_year);
    QWidget::setTabOrder(m_year, m_part);
    QWidget::setTabOrder(m_part, m_from);
    QWidget::setTabOrder(m_from, m_to);
    QWidget::setTabOrder(m_to, m_refresh);
    QWidget::setTabOrder(m_refresh, m_csv);
    QWidget::setTabOrder(m_csv, m_pdf);
    QWidget::setTabOrder(m_pdf, m_print);
    QWidget::setTabOrder(m_print, m_table);

    connect(m_kind, &QComboBox::activated, this, &AuditTab::chooseKind);
    connect(m_year, &QSpinBox::valueChanged, this, &AuditTab::periodChosen);
    connect(m_part, &QComboBox::activated, this, [this](int part) {
        // Each kind keeps its own choice, so going from months to quarters and back keeps both.
        (m_kind->currentIndex() == Month ? m_month : m_quarter) = part;
        periodChosen();
    });
    connect(m_from, &QDateEdit::dateChanged, this, &AuditTab::editDates);
    connect(m_to, &QDateEdit::dateChanged, this, &AuditTab::editDates);
    connect(m_refresh, &QPushButton::clicked, this, &AuditTab::refresh);
    connect(m_csv, &QPushButton::clicked, this, &AuditTab::exportCsv);
    connect(m_pdf, &QPushButton::clicked, this, &AuditTab::exportPdf);
    connect(m_print, &QPushButton::clicked, this, &AuditTab::print);
    auto* refreshKey = new QShortcut(QKeySequence::Refresh, this, this, &AuditTab::refresh);
    refreshKey->setContext(Qt::WidgetWithChildrenShortcut);
    auto* printKey = new QShortcut(QKeySequence::Print, this, this, &AuditTab::print);
    printKey->setContext(Qt::WidgetWithChildrenShortcut);

    // A year is the default: enough reports per physician for the shares to say something.
    m_kind->setCurrentIndex(Year);
    fillParts();
    const QSignalBlocker blockFrom(m_from);
    const QSignalBlocker blockTo(m_to);
    const AuditPeriod year = yearPeriod(today.year());
    m_from->setValue(year.from);
    m_to->setValue(year.to);
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
        for (const char16_t* q : {u"第一季度", u"第二季度", u"第三季度", u"第四季度"})
            m_part->addItem(QString::fromUtf16(q));
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
        m_status->setText(QStringLiteral("请选择统计的起止日期（“从”不能晚于“到”）。"));
        m_progress->hide();
        return;
    }
    m_progress->show();
    m_status->setText(QStringLiteral("正在统计…"));
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
    m_progress->hide();
    if (!read) {
        m_failure = read.failure().description;
        logFailure(lcReview(), QStringLiteral("reading the audit"), read.failure());
        m_status->setText(QStringLiteral("统计失败：") + m_failure);
        m_services.prompts.message(QStringLiteral("统计失败：") + m_failure, PromptIcon::Error);
        emit auditShown();
        return;
    }
    m_failure.clear();
    m_model.setAudit(*read);
    m_table->resizeColumnsToContents();
    fitTable();
    showCharts();
    const GradeAudit& audit = **read;
    m_status->setText(QStringLiteral("%1：报告 %2 份，主检医师 %3 位；期内应随诊 %4 例，已随诊 %5 例。")
                          .arg(periodName())
                          .arg(audit.total.reports)
                          .arg(audit.physicians.size())
                          .arg(audit.total.followUpsDue)
                          .arg(audit.total.followUpsDone));
    emit auditShown();
}

void AuditTab::fitTable()
{
    const int total = m_split->height();
    if (total <= 0)
        return;
    const int label = m_split->widget(0)->height() - m_table->height();
    const int rows = m_table->horizontalHeader()->height() + m_model.rowCount() * m_table->rowHeight(0) +
                     2 * m_table->frameWidth() + m_table->horizontalScrollBar()->sizeHint().height();
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
