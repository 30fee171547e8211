#include "review/follow_up_tab.h"

#include "core/logging.h"
#include "review/output_actions.h"
#include "review/review_log.h"
#include "widgets/date_picker.h"

#include <QCollator>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>
#include <QTime>
#include <QVBoxLayout>
#include <numeric>

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

} // namespace

FollowUpTab::FollowUpTab(ReviewWorker& worker, ReviewServices& services, QWidget* parent)
    : QWidget(parent)
    , m_worker(worker)
    , m_services(services)
    , m_today(services.today())
{
    setObjectName(QStringLiteral("followUpTab"));
    setAccessibleName(QStringLiteral("随访"));

    m_range = named(new QComboBox(this), "followUpRange", QStringLiteral("随诊范围"));
    m_range->addItems({QStringLiteral("逾期"), QStringLiteral("本周"), QStringLiteral("未来30天"),
                       QStringLiteral("自定义")});
    m_from = named(new DatePicker(this), "followUpFrom", QStringLiteral("应随诊日期从"));
    m_to = named(new DatePicker(this), "followUpTo", QStringLiteral("应随诊日期到"));
    m_physician = named(new QComboBox(this), "followUpPhysician", QStringLiteral("主检医师"));
    m_physician->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_physician->addItem(QStringLiteral("全部医师"), -1);
    m_refresh = named(new QPushButton(QStringLiteral("刷新(&U)"), this), "followUpRefresh",
                      QStringLiteral("重新读取随访名单"));
    const OutputButtons out = makeOutputButtons(this, QStringLiteral("followUp"), QStringLiteral("随访名单"));
    m_csv = out.csv;
    m_pdf = out.pdf;
    m_print = out.print;
    m_progress = named(new QProgressBar(this), "followUpProgress", QStringLiteral("读取进度"));
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);
    m_progress->setMaximumWidth(160);
    m_progress->hide();
    m_status = named(new QLabel(this), "followUpStatus", QStringLiteral("名单说明"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_table = named(new QTableView(this), "followUpTable", QStringLiteral("随访到期名单"));
    m_table->setAccessibleDescription(QStringLiteral("未完成的随访，按应随诊日期排列"));
    m_table->setModel(&m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 8);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setHighlightSections(false);
    // Columns fit the first rows; measuring a list of a hundred thousand would hold the window up.
    m_table->horizontalHeader()->setResizeContentsPrecision(50);

    auto* choose = new QHBoxLayout;
    choose->addWidget(buddyLabel(QStringLiteral("随诊范围(&R)："), m_range, this));
    choose->addWidget(m_range);
    choose->addSpacing(12);
    choose->addWidget(buddyLabel(QStringLiteral("应随诊日期从(&M)"), m_from, this));
    choose->addWidget(m_from);
    choose->addWidget(buddyLabel(QStringLiteral("到(&T)"), m_to, this));
    choose->addWidget(m_to);
    choose->addSpacing(12);
    choose->addWidget(buddyLabel(QStringLiteral("主检医师(&D)："), m_physician, this));
    choose->addWidget(m_physician);
    choose->addStretch();
    choose->addWidget(m_refresh);

    auto* act = new QHBoxLayout;
    act->addWidget(m_csv);
    act->addWidget(m_pdf);
    act->addWidget(m_print);
    act->addSpacing(12);
    act->addWidget(m_progress);
    act->addWidget(m_status, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(choose);
    layout->addLayout(act);
    layout->addWidget(buddyLabel(QStringLiteral("随访名单(&L)："), m_table, this));
    layout->addWidget(m_table, 1);

    // The order of the keyboard is the order on the screen.
    QWidget::setTabOrder(m_range, m_from);
    QWidget::setTabOrder(m_from, m_to);
    QWidget::setTabOrder(m_to, m_physician);
    QWidget::setTabOrder(m_physician, m_refresh);
    QWidget::setTabOrder(m_refresh, m_csv);
    QWidget::setTabOrder(m_csv, m_pdf);
    QWidget::setTabOrder(m_pdf, m_print);
    QWidget::setTabOrder(m_print, m_table);

    connect(m_range, &QComboBox::activated, this, &FollowUpTab::chooseRange);
    connect(m_from, &QDateEdit::dateChanged, this, &FollowUpTab::editDates);
    connect(m_to, &QDateEdit::dateChanged, this, &FollowUpTab::editDates);
    connect(m_physician, &QComboBox::activated, this, &FollowUpTab::choosePhysician);
    connect(m_refresh, &QPushButton::clicked, this, &FollowUpTab::refresh);
    connect(m_csv, &QPushButton::clicked, this, &FollowUpTab::exportCsv);
    connect(m_pdf, &QPushButton::clicked, this, &FollowUpTab::exportPdf);
    connect(m_print, &QPushButton::clicked, this, &FollowUpTab::print);
    auto* refreshKey = new QShortcut(QKeySequence::Refresh, this, this, &FollowUpTab::refresh);
    refreshKey->setContext(Qt::WidgetWithChildrenShortcut);
    auto* printKey = new QShortcut(QKeySequence::Print, this, this, &FollowUpTab::print);
    printKey->setContext(Qt::WidgetWithChildrenShortcut);

    chooseRange(Overdue);
    // The first tab's list is asked for at once, so it is read while the window is being shown.
    refresh();
}

void FollowUpTab::refresh()
{
    const std::uint64_t request = ++m_request;
    m_progress->show();
    m_refresh->setEnabled(false);
    m_status->setText(QStringLiteral("正在读取随访名单…"));
    m_worker.run<std::shared_ptr<const FollowUpList>>(
        this,
        [](ReportDatabase& db) -> Result<std::shared_ptr<const FollowUpList>> {
            Result<FollowUpList> read = FollowUpList::read(db);
            if (!read)
                return read.failure();
            return std::make_shared<const FollowUpList>(std::move(read).value());
        },
        [this, request](const Result<std::shared_ptr<const FollowUpList>>& read) {
            showList(read, request);
        });
}

void FollowUpTab::showList(const Result<std::shared_ptr<const FollowUpList>>& read, std::uint64_t request)
{
    if (request != m_request)
        return;
    m_progress->hide();
    m_refresh->setEnabled(true);
    if (!read) {
        m_failure = read.failure().description;
        logFailure(lcReview(), QStringLiteral("reading the follow-ups"), read.failure());
        updateStatus();
        m_services.prompts.message(QStringLiteral("随访名单读取失败：") + m_failure, PromptIcon::Error);
        emit listShown();
        return;
    }
    m_failure.clear();
    m_readAt = QTime::currentTime().toString(QStringLiteral("HH:mm"));
    // The day is taken again at each reading, so a window left open overnight counts from today.
    m_today = m_services.today();
    // The physician chosen stays chosen when the new list has reports of theirs.
    const int chosenIndex = m_physician->currentData().toInt();
    std::optional<QString> chosen;
    if (m_model.list() && chosenIndex >= 0)
        chosen = personKey(m_model.list()->physicians()[std::size_t(chosenIndex)]);
    m_model.setList(*read, m_today);
    fillPhysicians();
    int keep = 0;
    for (int i = 1; i < m_physician->count() && chosen; ++i)
        if (personKey((*read)->physicians()[std::size_t(m_physician->itemData(i).toInt())]) == *chosen)
            keep = i;
    m_physician->setCurrentIndex(keep);
    if (m_range->currentIndex() != Custom)
        chooseRange(m_range->currentIndex());
    else
        applyRange();
    m_model.setPhysician(m_physician->currentData().toInt());
    m_table->resizeColumnsToContents();
    updateStatus();
    emit listShown();
}

void FollowUpTab::fillPhysicians()
{
    m_physician->clear();
    m_physician->addItem(QStringLiteral("全部医师"), -1);
    const FollowUpList* list = m_model.list();
    if (!list)
        return;
    std::vector<int> order(list->physicians().size());
    std::iota(order.begin(), order.end(), 0);
    QCollator chinese{QLocale(QLocale::Chinese, QLocale::China)};
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        return chinese.compare(list->physicians()[std::size_t(a)], list->physicians()[std::size_t(b)]) < 0;
    });
    for (int i : order) {
        const QString& name = list->physicians()[std::size_t(i)];
        m_physician->addItem(name.isEmpty() ? QStringLiteral("（未填写）") : name, i);
    }
}

void FollowUpTab::chooseRange(int range)
{
    m_range->setCurrentIndex(range);
    DueRange due;
    switch (Range(range)) {
    case Overdue:
        due = overdueRange(m_today);
        break;
    case ThisWeek:
        due = thisWeekRange(m_today);
        break;
    case Next30Days:
        due = next30DaysRange(m_today);
        break;
    case Custom:
        applyRange();
        return;
    }
    const QSignalBlocker blockFrom(m_from);
    const QSignalBlocker blockTo(m_to);
    m_from->setValue(due.from);
    m_to->setValue(due.to);
    m_model.setRange(due);
    updateStatus();
}

void FollowUpTab::editDates()
{
    m_range->setCurrentIndex(Custom);
    applyRange();
}

void FollowUpTab::applyRange()
{
    m_model.setRange({m_from->value(), m_to->value()});
    updateStatus();
}

void FollowUpTab::choosePhysician(int index)
{
    m_model.setPhysician(m_physician->itemData(index).toInt());
    updateStatus();
}

QString FollowUpTab::rangeNote() const
{
    const DueRange& r = m_model.range();
    const auto day = [](const QDate& d) { return d.toString(Qt::ISODate); };
    QString span;
    if (r.from && r.to)
        span = QStringLiteral("%1 至 %2").arg(day(*r.from), day(*r.to));
    else if (r.to)
        span = QStringLiteral("%1 及以前").arg(day(*r.to));
    else if (r.from)
        span = QStringLiteral("%1 及以后").arg(day(*r.from));
    else
        span = QStringLiteral("全部");
    return QStringLiteral("%1（应随诊日期 %2）").arg(m_range->currentText(), span);
}

void FollowUpTab::updateStatus()
{
    if (!m_failure.isEmpty()) {
        m_status->setText(QStringLiteral("读取失败：") + m_failure);
        return;
    }
    const FollowUpList* list = m_model.list();
    if (!list) {
        m_status->setText(QString());
        return;
    }
    QString text;
    const DueRange& r = m_model.range();
    if (r.from && r.to && *r.from > *r.to)
        text = QStringLiteral("“从”的日期晚于“到”的日期，没有应随诊的记录。");
    else
        text = QStringLiteral("共 %1 条应随诊记录，其中逾期 %2 条。")
                   .arg(m_model.shownCount())
                   .arg(m_model.overdueCount());
    if (list->undated() > 0)
        text += QStringLiteral("另有 %1 份要求随诊的报告没有检查日期，无法计算应随诊日期，未列入。")
                    .arg(list->undated());
    text += QStringLiteral("（%1 读取）").arg(m_readAt);
    m_status->setText(text);
}

QString FollowUpTab::fileName() const
{
    return QStringLiteral("随访名单-%1-%2")
        .arg(m_range->currentText(), m_today.toString(QStringLiteral("yyyyMMdd")));
}

ReviewDocument FollowUpTab::document(const FollowUpModel& shown) const
{
    ReviewDocument doc;
    doc.title = QStringLiteral("随访到期名单");
    doc.notes << QStringLiteral("随诊范围：") + rangeNote()
              << QStringLiteral("主检医师：") + m_physician->currentText()
              << QStringLiteral("共 %1 条，其中逾期 %2 条（今天为 %3）。")
                     .arg(shown.shownCount())
                     .arg(shown.overdueCount())
                     .arg(m_today.toString(Qt::ISODate));
    if (m_model.list() && m_model.list()->undated() > 0)
        doc.notes << QStringLiteral("另有 %1 份要求随诊的报告没有检查日期，未列入。")
                         .arg(m_model.list()->undated());
    doc.notes << madeAtNote();
    doc.table = &shown;
    return doc;
}

void FollowUpTab::exportCsv()
{
    emit notice(korvela::exportCsv(m_services, m_model, fileName()));
}

void FollowUpTab::exportPdf()
{
    // A copy of what is shown: a reading that arrives while the pages are painted changes only the
    // window's list.
    FollowUpModel shown;
    shown.setList(m_model.sharedList(), m_model.today());
    shown.setRange(m_model.range());
    shown.setPhysician(m_model.physician());
    emit notice(korvela::exportPdf(this, m_services, document(shown), fileName()));
}

void FollowUpTab::print()
{
    FollowUpModel shown;
    shown.setList(m_model.sharedList(), m_model.today());
    shown.setRange(m_model.range());
    shown.setPhysician(m_model.physician());
    emit notice(printDocument(this, m_services, document(shown)));
}

} // namespace korvela
