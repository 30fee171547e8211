#include "review/history_tab.h"

#include "core/logging.h"
#include "records/report_store.h"
#include "review/output_actions.h"
#include "review/review_log.h"
#include "review/tab_frame.h"
#include "widgets/busy.h"
#include "widgets/date_picker.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTime>
#include <QVBoxLayout>

namespace korvela {

namespace {

constexpr TabTexts kTexts{.prefix = "history",
                          .tab = u"修改记录",
                          .what = u"修改记录",
                          .refresh = u"重新读取修改记录",
                          .progress = u"读取进度",
                          .status = u"修改记录说明",
                          .table = u"修改记录列表",
                          .tableDescription = u"报告的新建、修改、删除与恢复，最新的在前",
                          .tableLabel = u"修改记录(&L)："};

// The choices, in the order they stand on the screen.
enum { kNumber, kWho, kAction, kFrom, kTo };
constexpr ChoiceText kChoices[] = {
    {"historyNumber", u"筛查编号", u"筛查编号(&N)："},
    {"historyWho", u"修改人", u"修改人(&W)：", kGroupSpace},
    {"historyAction", u"操作", u"操作(&A)：", kGroupSpace},
    {"historyFrom", u"修改日期从", u"日期从(&M)", kGroupSpace},
    {"historyTo", u"修改日期到", u"到(&T)"},
};

// The actions one can choose; the first, every action (the admin commands' included).
constexpr const char16_t* kActions[] = {u"全部操作", u"新建", u"修改", u"删除", u"恢复"};

// The most changes a list shows: the newest.
constexpr int kListed = 1000;
// The most accesses shown for one screening number: the newest.
constexpr int kAccessesShown = 500;

QTableView* detailTable(const char* name, const QString& spoken, QAbstractItemModel& model, QWidget* parent)
{
    auto* table = new QTableView(parent);
    table->setObjectName(QString::fromLatin1(name));
    table->setAccessibleName(spoken);
    table->setModel(&model);
    table->setAlternatingRowColors(true);
    table->setWordWrap(false);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

// A table under its label, in a box of its own.
QWidget* labelled(const QString& caption, QTableView* table, QPushButton* below, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(caption, box);
    label->setBuddy(table);
    layout->addWidget(label);
    layout->addWidget(table, 1);
    if (below) {
        auto* row = new QHBoxLayout;
        row->addWidget(below);
        row->addStretch();
        layout->addLayout(row);
    }
    return box;
}

// The actions whose `before` 恢复此版本 brings back.
bool restorable(const Change& change)
{
    return change.action == u"修改" || change.action == u"删除";
}

} // namespace

HistoryTab::HistoryTab(ReviewWorker& worker, ReviewServices& services, QWidget* parent)
    : QWidget(parent)
    , m_worker(worker)
    , m_services(services)
{
    makeChoices();
    m_frame = new TabFrame(this, kTexts, m_changes);
    QTableView* list = m_frame->table();
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->verticalHeader()->hide();
    list->horizontalHeader()->setStretchLastSection(true);
    // Columns fit the first rows; measuring a thousand would hold the window up.
    list->horizontalHeader()->setResizeContentsPrecision(50);
    QVBoxLayout* layout = m_frame->layOut(kChoices);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->setObjectName(QStringLiteral("historySplitter"));
    split->setAccessibleName(QStringLiteral("修改记录与修改前后对照"));
    auto* listBox = new QWidget(split);
    auto* listLayout = new QVBoxLayout(listBox);
    listLayout->setContentsMargins(0, 0, 0, 0);
    m_frame->addTable(listLayout, 1);
    split->addWidget(listBox);
    split->addWidget(makeDetail());
    layout->addWidget(split, 1);
    QWidget::setTabOrder(list, m_versionsTable);
    QWidget::setTabOrder(m_versionsTable, m_restore);
    QWidget::setTabOrder(m_restore, m_accessTable);
    connectControls();
}

void HistoryTab::makeChoices()
{
    m_number = named(new QLineEdit(this), kChoices[kNumber]);
    m_who = named(new QLineEdit(this), kChoices[kWho]);
    m_action = named(new QComboBox(this), kChoices[kAction]);
    for (const char16_t* action : kActions)
        m_action->addItem(QString::fromUtf16(action));
    m_from = named(new DatePicker(this), kChoices[kFrom]);
    m_to = named(new DatePicker(this), kChoices[kTo]);
    m_from->setValue(std::nullopt);
    m_to->setValue(std::nullopt);
}

// The versions of the change chosen with 恢复此版本 under them, beside the accesses of its number.
QSplitter* HistoryTab::makeDetail()
{
    m_versionsTable = detailTable("historyVersions", QStringLiteral("修改前后对照"), m_versions, this);
    m_versionsTable->setAccessibleDescription(QStringLiteral("每个项目一行，修改过的项目以红色粗体显示"));
    // The two versions side by side, equally wide.
    m_versionsTable->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_versionsTable->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    m_restore = new QPushButton(QStringLiteral("恢复此版本(&R)"), this);
    m_restore->setObjectName(QStringLiteral("historyRestore"));
    m_restore->setAccessibleName(QStringLiteral("恢复此版本：重新保存这次修改或删除之前的报告"));
    m_restore->setEnabled(false);
    m_accessTable = detailTable("historyAccess", QStringLiteral("查阅记录"), m_accesses, this);
    m_accessTable->setAccessibleDescription(QStringLiteral("此筛查编号的报告被查询、查看、打印和导出的记录，最新的在前"));
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setObjectName(QStringLiteral("historyDetail"));
    split->setAccessibleName(QStringLiteral("修改前后对照与查阅记录"));
    split->addWidget(labelled(QStringLiteral("修改前后对照(&V)："), m_versionsTable, m_restore, split));
    split->addWidget(labelled(QStringLiteral("此编号的查阅记录(&G)："), m_accessTable, nullptr, split));
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    return split;
}

void HistoryTab::connectControls()
{
    connect(m_number, &QLineEdit::returnPressed, this, &HistoryTab::refresh);
    connect(m_who, &QLineEdit::returnPressed, this, &HistoryTab::refresh);
    connect(m_action, &QComboBox::activated, this, &HistoryTab::refresh);
    connect(m_from, &QDateEdit::dateChanged, this, &HistoryTab::refresh);
    connect(m_to, &QDateEdit::dateChanged, this, &HistoryTab::refresh);
    connect(m_frame->table()->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &HistoryTab::chooseChange);
    connect(m_restore, &QPushButton::clicked, this, &HistoryTab::restoreVersion);
    connect(m_frame, &TabFrame::refreshRequested, this, &HistoryTab::refresh);
    connect(m_frame, &TabFrame::csvRequested, this, &HistoryTab::exportCsv);
    connect(m_frame, &TabFrame::pdfRequested, this, &HistoryTab::exportPdf);
    connect(m_frame, &TabFrame::printRequested, this, &HistoryTab::print);
}

void HistoryTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        refresh();
    }
}

ChangeFilter HistoryTab::filter() const
{
    ChangeFilter f;
    f.number = m_number->text();
    f.who = m_who->text().trimmed();
    if (m_action->currentIndex() > 0)
        f.action = m_action->currentText();
    f.span = localDays(m_from->value(), m_to->value());
    f.limit = kListed;
    return f;
}

void HistoryTab::refresh()
{
    const std::uint64_t request = ++m_request;
    m_frame->readingStarted(QStringLiteral("正在读取修改记录…"));
    m_worker.run<std::vector<Change>>(
        this, [f = filter()](ReportDatabase& db) { return ChangeLog(db).changes(f); },
        [this, request](const Result<std::vector<Change>>& read) { showChanges(read, request); });
}

void HistoryTab::showChanges(const Result<std::vector<Change>>& read, std::uint64_t request)
{
    if (request != m_request)
        return;
    m_frame->readingEnded();
    if (!read) {
        const QString failed = QStringLiteral("修改记录读取失败：") + read.failure().description;
        logFailure(lcReview(), QStringLiteral("reading the report history"), read.failure());
        m_frame->say(failed);
        m_services.prompts.message(failed, PromptIcon::Error);
        return;
    }
    m_changes.setChanges(*read);
    m_frame->table()->resizeColumnsToContents();
    const int count = int(read->size());
    QString status = count < kListed
                         ? QStringLiteral("共 %1 条修改记录。").arg(count)
                         : QStringLiteral("只列出最新的 %1 条修改记录，可按筛查编号、修改人、操作或日期缩小范围。")
                               .arg(kListed);
    m_frame->say(status + QStringLiteral("（%1 读取）").arg(QTime::currentTime().toString(QStringLiteral("HH:mm"))));
    if (count > 0)
        m_frame->table()->selectRow(0);
    else
        chooseChange();
}

void HistoryTab::chooseChange()
{
    const std::uint64_t request = ++m_detailRequest;
    const int row = m_frame->table()->currentIndex().row();
    m_restore->setEnabled(false);
    m_chosen.reset();
    m_versions.setVersions(std::nullopt);
    m_accesses.setAccesses({});
    if (row < 0 || row >= m_changes.rowCount())
        return;
    const Change change = m_changes.changes()[std::size_t(row)];
    m_worker.run<Detail>(
        this,
        [change](ReportDatabase& db) -> Result<Detail> {
            ChangeLog log(db);
            Result<std::optional<ChangeVersions>> versions = log.versions(change.seq);
            if (!versions)
                return versions.failure();
            Result<std::vector<Access>> accesses = log.accesses(change.number, kAccessesShown);
            if (!accesses)
                return accesses.failure();
            return Detail{std::move(*versions), std::move(*accesses)};
        },
        [this, request](const Result<Detail>& read) { showDetail(read, request); });
}

void HistoryTab::showDetail(const Result<Detail>& read, std::uint64_t request)
{
    if (request != m_detailRequest)
        return;
    if (!read) {
        logFailure(lcReview(), QStringLiteral("reading a change"), read.failure());
        m_frame->say(QStringLiteral("此次修改的内容无法读取：") + read.failure().description);
        return;
    }
    m_versions.setVersions(read->versions);
    m_accesses.setAccesses(read->accesses);
    m_versionsTable->resizeColumnsToContents();
    m_accessTable->resizeColumnsToContents();
    if (read->versions) {
        m_chosen = read->versions->change;
        m_restore->setEnabled(restorable(*m_chosen) && read->versions->before.has_value());
    }
}

void HistoryTab::restoreVersion()
{
    if (!m_chosen)
        return;
    const std::int64_t seq = m_chosen->seq;
    Prompts& prompts = m_services.prompts;
    {
        DisabledWhileBusy busy(m_restore);
        WaitCursor wait(window());
        // A connection of its own for this one save, closed at its end: the tab reads through a
        // connection that cannot write.
        Result<std::unique_ptr<ReportDatabase>> opened = m_services.openWritableStore();
        if (!opened) {
            showSaveFailure(prompts, opened.failure());
            return;
        }
        ReportDatabase& db = **opened;
        // The version is read again on that connection, as it is now.
        const Result<std::optional<ChangeVersions>> read = ChangeLog(db).versions(seq);
        if (!read || !*read || !(*read)->before) {
            const QString reason = read ? QStringLiteral("修改记录中没有此版本。") : read.failure().description;
            qCWarning(lcReview).noquote() << "the version before change" << seq << "cannot be read:" << reason;
            prompts.message(QStringLiteral("无法读取此版本（修改记录第 %1 条）：%2").arg(seq).arg(reason),
                            PromptIcon::Error);
            return;
        }
        const ReportRecord& record = *(*read)->before;
        if (!requireNumberAndName(prompts, record[Field::ScreeningNumber], record[Field::PatientName]))
            return;
        const SaveResult result =
            ReportStore(db).save(record, [&] { return askToOverwrite(prompts, record); }, seq);
        if (result.kind == SaveResult::Declined)
            return;
        if (result.kind == SaveResult::Failed) {
            showSaveFailure(prompts, result.failure);
            return;
        }
    }
    prompts.message(QStringLiteral("保存完毕！"), PromptIcon::Information);
    refresh();
}

QString HistoryTab::filterNote() const
{
    QStringList parts;
    const auto add = [&parts](const QString& name, const QString& value) {
        if (!value.isEmpty())
            parts << name + u'=' + value;
    };
    add(QStringLiteral("筛查编号"), m_number->text().trimmed());
    add(QStringLiteral("修改人"), m_who->text().trimmed());
    if (m_action->currentIndex() > 0)
        add(QStringLiteral("操作"), m_action->currentText());
    if (m_from->value())
        add(QStringLiteral("日期从"), m_from->value()->toString(Qt::ISODate));
    if (m_to->value())
        add(QStringLiteral("日期到"), m_to->value()->toString(Qt::ISODate));
    return parts.isEmpty() ? QStringLiteral("全部") : parts.join(QStringLiteral("；"));
}

ReviewDocument HistoryTab::document(const ChangeListModel& shown) const
{
    ReviewDocument doc;
    doc.title = QStringLiteral("报告修改记录");
    doc.notes << QStringLiteral("筛选条件：") + filterNote()
              << QStringLiteral("共 %1 条，最新的在前；时间为本机时间。").arg(shown.rowCount()) << madeAtNote();
    doc.table = &shown;
    return doc;
}

QString HistoryTab::fileName() const
{
    return QStringLiteral("修改记录-") + m_services.today().toString(QStringLiteral("yyyyMMdd"));
}

void HistoryTab::exportCsv()
{
    emit notice(korvela::exportCsv(m_services, m_changes, fileName()));
}

void HistoryTab::exportPdf()
{
    // A copy of what is shown: a reading that arrives while the pages are painted changes only the
    // window's list.
    ChangeListModel shown;
    shown.setChanges(m_changes.changes());
    emit notice(korvela::exportPdf(this, m_services, document(shown), fileName()));
}

void HistoryTab::print()
{
    ChangeListModel shown;
    shown.setChanges(m_changes.changes());
    emit notice(printDocument(this, m_services, document(shown)));
}

} // namespace korvela
