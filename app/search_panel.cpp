#include "app/search_panel.h"

#include "app/sheet_layout.h"
#include "core/failure_codes.h"
#include "records/report_sql.h"
#include "widgets/fonts.h"
#include "widgets/pictures.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace korvela {

namespace {

// Places in twips of the panel; the tab positions are shared with the other panels.
struct Place
{
    int left, top, width, height, tabPosition;
};

// A label with its caption, or a search box with its accessible name.
struct TextInfo
{
    const char* name;
    const char16_t* text;
    Place place;
};
// Each label is as wide as its caption.
constexpr TextInfo kLabels[] = {
    {"lblSui2", u"筛查编号：", {60, 360, 900, 180, 76}},
    {"lblSui3", u"患者姓名：", {60, 705, 900, 180, 75}},
    {"Label2(1)", u"主检医师：", {60, 1035, 900, 180, 78}},
    {"Label2(0)", u"检查日期：从", {60, 1380, 1080, 180, 74}},
    {"Label2(2)", u"到", {960, 1740, 180, 180, 84}},
};

// In the order of SearchBoxes.
constexpr TextInfo kBoxes[] = {
    {"b3", u"查询筛查编号", {960, 240, 1710, 300, 73}},
    {"b1", u"查询患者姓名", {960, 600, 1710, 300, 72}},
    {"b14", u"查询主检医师", {960, 960, 1710, 300, 77}},
    {"b13", u"查询检查日期从", {1200, 1320, 1470, 300, 63}},
    {"b113", u"查询检查日期到", {1200, 1680, 1470, 300, 83}},
};
enum { kNumber, kName, kPhysician, kFrom, kTo };

struct ButtonInfo
{
    const char* name;
    const char16_t* caption;
    Place place;
    void (SearchPanel::*clicked)();
    bool wraps = false;
};
// "cmdAdd" clears the report; "Command7" exports it.
constexpr ButtonInfo kButtons[] = {
    {"Command3", u"<", {480, 2100, 465, 435, 65}, &SearchPanel::previousRequested},
    {"Command4", u">", {960, 2100, 465, 435, 64}, &SearchPanel::nextRequested},
    {"Command1", u"查 询", {1740, 2100, 855, 435, 71}, &SearchPanel::searchRequested},
    {"cmdAdd", u"清空", {480, 2970, 1005, 405, 66}, &SearchPanel::clearRequested},
    {"Command7", u"另存为单个可阅读文件", {1590, 2970, 1005, 935, 86}, &SearchPanel::exportRequested, true},
    {"cmdSave", u"保存", {480, 3495, 1005, 405, 67}, &SearchPanel::saveRequested},
    {"Cmdprint", u"打印", {480, 4020, 1005, 405, 68}, &SearchPanel::printRequested},
    {"cmddel", u"删除", {1620, 4020, 1005, 405, 69}, &SearchPanel::deleteRequested},
    {"cmdclose", u"关闭", {480, 4650, 1005, 405, 70}, &SearchPanel::closeRequested},
};

template <typename W> W* placeAt(W* widget, const char* name, const Place& p)
{
    return place(widget, QString::fromLatin1(name), p.left, p.top, p.width, p.height);
}

} // namespace

QString describeSearch(const SearchBoxes& boxes)
{
    struct Part
    {
        const char16_t* label;
        const QString& text;
        const char16_t* mark;
    };
    QStringList parts;
    for (const Part& p : {Part{u"筛查编号", boxes.number, u"*"}, Part{u"姓名", boxes.name, u"*"},
                          Part{u"主检医师", boxes.physician, u"*"}, Part{u"日期从", boxes.from, u""},
                          Part{u"日期到", boxes.to, u""}}) {
        if (const QString text = trimBlanks(p.text); !text.isEmpty())
            parts << QString::fromUtf16(p.label) + u'=' + text + QString::fromUtf16(p.mark);
    }
    return parts.join(u"; ");
}

SearchPanel::SearchPanel(QWidget* window, TabOrder& tabs)
    : QObject(window)
{
    m_panel = place(new PictureBox(Picture{}, QColor(135, 199, 154), window), QStringLiteral("Picture1"), 10680,
                    -120, 3255, 7155);
    tabs.add(m_panel, 62);

    for (const TextInfo& info : kLabels) {
        QLabel* label = placeAt(new QLabel(QString::fromUtf16(info.text), m_panel), info.name, info.place);
        label->adjustSize();
        tabs.add(label, info.place.tabPosition);
    }
    for (std::size_t i = 0; i < std::size(kBoxes); ++i) {
        const TextInfo& info = kBoxes[i];
        m_boxes[i] = placeAt(makeTextBox(m_panel, QString::fromUtf16(info.text)), info.name, info.place);
        tabs.add(m_boxes[i], info.place.tabPosition);
    }
    // Buttons with Chinese captions have a font of their own; "<" and ">" keep the default.
    const QFont buttonFont = songFont(TextSize::Button);
    for (const ButtonInfo& info : kButtons) {
        const QString caption = QString::fromUtf16(info.caption);
        QPushButton* made = info.wraps ? new WrappingButton(caption, m_panel) : new QPushButton(caption, m_panel);
        QPushButton* b = placeAt(made, info.name, info.place);
        b->setAccessibleName(caption);
        if (caption.front().unicode() > 0x7f)
            b->setFont(buttonFont);
        tabs.add(b, info.place.tabPosition);
        connect(b, &QPushButton::clicked, this, info.clicked);
    }
    setBrowseEnabled(false);

    m_credit = place(new QLabel(m_panel), QStringLiteral("Label3(0)"), 480, 5580, 2055, 975);
    m_credit->setWordWrap(true);
    m_credit->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    tabs.add(m_credit, 79);
}

QWidget* SearchPanel::widget() const
{
    return m_panel;
}

SearchBoxes SearchPanel::boxes() const
{
    return {m_boxes[kNumber]->text(), m_boxes[kName]->text(), m_boxes[kPhysician]->text(), m_boxes[kFrom]->text(),
            m_boxes[kTo]->text()};
}

void SearchPanel::focusUnreadableDate(int failureCode)
{
    QLineEdit* box = m_boxes[failureCode == FailureCode::ToDateUnreadable ? kTo : kFrom];
    box->setFocus();
    box->selectAll();
}

QPushButton* SearchPanel::button(const char* name) const
{
    return m_panel->findChild<QPushButton*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
}

void SearchPanel::setBrowseEnabled(bool enabled)
{
    button("Command3")->setEnabled(enabled);
    button("Command4")->setEnabled(enabled);
}

void SearchPanel::setCreditLine(const QString& text)
{
    m_credit->setText(text);
}

QPushButton* SearchPanel::saveButton() const
{
    return button("cmdSave");
}

QPushButton* SearchPanel::exportButton() const
{
    return button("Command7");
}

} // namespace korvela
