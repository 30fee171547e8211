#include "review/tab_frame.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>

namespace korvela {

namespace {

// The outputs, left to right; %1 in the spoken name is what they write.
struct OutputInfo
{
    const char* name;
    const char16_t* caption;
    const char16_t* spoken;
    void (TabFrame::*clicked)();
};
constexpr OutputInfo kOutputs[] = {
    {"Csv", u"导出CSV(&C)…", u"导出%1为CSV文件", &TabFrame::csvRequested},
    {"Pdf", u"导出PDF(&P)…", u"导出%1为PDF文件", &TabFrame::pdfRequested},
    {"Print", u"打印(&I)…", u"打印%1", &TabFrame::printRequested},
};

// Names a part of the tab after the tab's prefix.
template <typename W> W* namedPart(W* control, const TabTexts& texts, const char* name, const QString& spoken)
{
    control->setObjectName(QString::fromLatin1(texts.prefix) + QString::fromLatin1(name));
    control->setAccessibleName(spoken);
    return control;
}

QLabel* buddyLabel(const char16_t* caption, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(QString::fromUtf16(caption), parent);
    label->setBuddy(buddy);
    return label;
}

// A busy bar, hidden until a reading begins.
QProgressBar* makeProgress(QWidget* tab, const TabTexts& texts)
{
    auto* progress = namedPart(new QProgressBar(tab), texts, "Progress", QString::fromUtf16(texts.progress));
    progress->setRange(0, 0);
    progress->setTextVisible(false);
    progress->setMaximumWidth(160);
    progress->hide();
    return progress;
}

QLabel* makeStatus(QWidget* tab, const TabTexts& texts)
{
    auto* status = namedPart(new QLabel(tab), texts, "Status", QString::fromUtf16(texts.status));
    status->setWordWrap(true);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return status;
}

QTableView* makeTable(QWidget* tab, const TabTexts& texts, QAbstractItemModel& model)
{
    auto* table = namedPart(new QTableView(tab), texts, "Table", QString::fromUtf16(texts.table));
    table->setAccessibleDescription(QString::fromUtf16(texts.tableDescription));
    table->setModel(&model);
    table->setAlternatingRowColors(true);
    table->setWordWrap(false);
    table->horizontalHeader()->setHighlightSections(false);
    return table;
}

} // namespace

TabFrame::TabFrame(QWidget* tab, const TabTexts& texts, QAbstractItemModel& model)
    : QObject(tab)
    , m_tab(tab)
{
    namedPart(tab, texts, "Tab", QString::fromUtf16(texts.tab));
    m_refresh = namedPart(new QPushButton(QStringLiteral("刷新(&U)"), tab), texts, "Refresh",
                          QString::fromUtf16(texts.refresh));
    connect(m_refresh, &QPushButton::clicked, this, &TabFrame::refreshRequested);
    const QString what = QString::fromUtf16(texts.what);
    for (std::size_t i = 0; i < std::size(kOutputs); ++i) {
        const OutputInfo& info = kOutputs[i];
        m_outputs[i] = namedPart(new QPushButton(QString::fromUtf16(info.caption), tab), texts, info.name,
                                 QString::fromUtf16(info.spoken).arg(what));
        connect(m_outputs[i], &QPushButton::clicked, this, info.clicked);
    }
    m_progress = makeProgress(tab, texts);
    m_status = makeStatus(tab, texts);
    m_table = makeTable(tab, texts, model);
    m_tableLabel = buddyLabel(texts.tableLabel, m_table, tab);

    new QShortcut(QKeySequence::Refresh, tab, this, &TabFrame::refreshRequested,
                  Qt::WidgetWithChildrenShortcut);
    new QShortcut(QKeySequence::Print, tab, this, &TabFrame::printRequested, Qt::WidgetWithChildrenShortcut);
}

QVBoxLayout* TabFrame::layOut(std::span<const ChoiceText> choices)
{
    auto* choose = new QHBoxLayout;
    QWidget* previous = nullptr;
    const auto chain = [&previous](QWidget* control) {
        if (previous)
            QWidget::setTabOrder(previous, control);
        previous = control;
    };
    for (const ChoiceText& choice : choices) {
        auto* control =
            m_tab->findChild<QWidget*>(QString::fromLatin1(choice.name), Qt::FindDirectChildrenOnly);
        Q_ASSERT(control);
        if (choice.spaceBefore)
            choose->addSpacing(choice.spaceBefore);
        if (choice.label)
            choose->addWidget(buddyLabel(choice.label, control, m_tab));
        choose->addWidget(control);
        chain(control);
    }
    choose->addStretch();
    choose->addWidget(m_refresh);
    chain(m_refresh);

    auto* act = new QHBoxLayout;
    for (QPushButton* output : m_outputs) {
        act->addWidget(output);
        chain(output);
    }
    act->addSpacing(kGroupSpace);
    act->addWidget(m_progress);
    act->addWidget(m_status, 1);
    chain(m_table);

    auto* layout = new QVBoxLayout(m_tab);
    layout->addLayout(choose);
    layout->addLayout(act);
    return layout;
}

void TabFrame::addTable(QBoxLayout* layout, int stretch)
{
    layout->addWidget(m_tableLabel);
    layout->addWidget(m_table, stretch);
}

void TabFrame::readingStarted(const QString& note)
{
    m_progress->show();
    m_status->setText(note);
}

void TabFrame::readingEnded()
{
    m_progress->hide();
}

void TabFrame::setRefreshEnabled(bool enabled)
{
    m_refresh->setEnabled(enabled);
}

void TabFrame::say(const QString& status)
{
    m_status->setText(status);
}

} // namespace korvela
