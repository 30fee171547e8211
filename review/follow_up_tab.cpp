#include "review/follow_up_tab.h"

#include "core/logging.h"
#include "review/output_actions.h"
#include "review/review_log.h"
#include "review/tab_frame.h"
#include "widgets/date_picker.h"

#include <QCollator>
#include <QComboBox>
#include <QHeaderView>
#include <QLocale>
#include <QTableView>
#include <QTime>
#include <QVBoxLayout>
#include <numeric>

namespace korvela {

namespace {

constexpr TabTexts kTexts{.prefix = "followUp",
                          .tab = u"随访",
                          .what = u"随访名单",
                          .refresh = u"重新读取随访名单",
                          .progress = u"读取进度",
                          .status = u"名单说明",
                          .table = u"随访到期名单",
                          .tableDescription = u"未完成的随访，按应随诊日期排列",
                          .tableLabel = u"随访名单(&L)："};

// The choices, in the order they stand on the screen.
enum { kRange, kFrom, kTo, kPhysician };
constexpr ChoiceText kChoices[] = {
    {"followUpRange", u"随诊范围", u"随诊范围(&R)："},
    {"followUpFrom", u"应随诊日期从", u"应随诊日期从(&M)", kGroupSpace},
    {"followUpTo", u"应随诊日期到", u"到(&T)"},
    {"followUpPhysician", u"主检医师", u"主检医师(&D)：", kGroupSpace},
};

// In the order of FollowUpTab::Range.
constexpr const char16_t* kRanges[] = {u"逾期", u"本周", u"未来30天", u"自定义"};

} // namespace

FollowUpTab::FollowUpTab(ReviewWorker& worker, ReviewServices& services, QWidget* parent)
    : QWidget(parent)
    , m_worker(worker)
    , m_services(services)
    , m_today(services.today())
{
    makeChoices();
    m_frame = new TabFrame(this, kTexts, m_model);
    setUpTable();
    QVBoxLayout* layout = m_frame->layOut(kChoices);
    m_frame->addTable(layout, 1);
    connectControls();
    chooseRange(Overdue);
    // The first tab's list is asked for at once, so it is read while the window is being shown.
    refresh();
}

void FollowUpTab::makeChoices()
{
    m_range = named(new QComboBox(this), kChoices[kRange]);
    for (const char16_t* range : kRanges)
        m_range->addItem(QString::fromUtf16(range));
    m_from = named(new DatePicker(this), kChoices[kFrom]);
    m_to = named(new DatePicker(this), kChoices[kTo]);
    m_physician = named(new QComboBox(this), kChoices[kPhysician]);
    m_physician->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_physician->addItem(QStringLiteral("全部医师"), -1);
}

void FollowUpTab::setUpTable()
{
    QTableView* table = m_frame->table();
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 8);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->horizontalHeader()->setStretchLastSection(true);
    // Columns fit the first rows; measuring a list of a hundred thousand would hold the window up.
    table->horizontalHeader()->setResizeContentsPrecision(50);
}

void FollowUpTab::connectControls()
{
    connect(m_range, &QComboBox::activated, this, &FollowUpTab::chooseRange);
    connect(m_from, &QDateEdit::dateChanged, this, &FollowUpTab::editDates);
    connect(m_to, &QDateEdit::dateChanged, this, &FollowUpTab::editDates);
    connect(m_physician, &QComboBox::activated, this, &FollowUpTab::choosePhysician);
    connect(m_frame, &TabFrame::refreshRequested, this, &FollowUpTab::refresh);
    connect(m_frame, &TabFrame::csvRequested, this, &FollowUpTab::exportCsv);
    connect(m_frame, &TabFrame::pdfRequested, this, &FollowUpTab::exportPdf);
    connect(m_frame, &TabFrame::printRequested, this, &FollowUpTab::print);
}

void FollowUpTab::refresh()
{
    const std::uint64_t request = ++m_request;
    m_frame->readingStarted(QStringLiteral("正在读取随访名单…"));
    m_frame->setRefreshEnabled(false);
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
    m_frame->readingEnded();
    m_frame->setRefreshEnabled(true);
    if (!read) {
        m_failure = read.failure().description;
        logFailure(lcReview(), QStringLiteral("reading the follow-ups"), read.failure());
        updateStatus();
        m_services.prompts.message(QStringLiteral("随访名单读取失败：") + m_failure, PromptIcon::Error);
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
    m_frame->table()->resizeColumnsToContents();
    updateStatus();
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
        m_frame->say(QStringLiteral("读取失败：") + m_failure);
        return;
    }
    const FollowUpList* list = m_model.list();
    if (!list) {
        m_frame->say(QString());
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
    m_frame->say(text);
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
