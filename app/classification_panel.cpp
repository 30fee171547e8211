#include "app/classification_panel.h"

#include "app/sheet_layout.h"
#include "classification/classification_text.h"
#include "widgets/fonts.h"
#include "widgets/pictures.h"

#include <QFrame>
#include <QLabel>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>

#include <span>

namespace korvela {

namespace {

// The option buttons' circles at the size of the design's, so that the 13-pixel-high buttons of
// the lowest rows show them whole.
class OptionButtonStyle : public QProxyStyle
{
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        if (metric == PM_ExclusiveIndicatorWidth || metric == PM_ExclusiveIndicatorHeight)
            return 12;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// One frame per option group, so that a choice clears only the buttons of its own group. The
// first and third frames stand in the column the panel heads 右侧, the others under 左侧.
struct FrameInfo
{
    int left, top, width, height, tabPosition;
    const char* buttonName;
    const char16_t* side;
};
constexpr FrameInfo kFrames[4] = {{2220, 840, 2595, 1335, 29, "Option1", u"右侧 "},
                                  {5040, 810, 2385, 1335, 40, "Option2", u"左侧 "},
                                  {2220, 2220, 2715, 645, 51, "Option3", u"右侧 "},
                                  {5010, 2190, 2415, 705, 56, "Option4", u"左侧 "}};

struct OptionPlace
{
    int left, top, width, height;
};
constexpr const char16_t* kHuCaptions[10] = {u"IA", u"IIA", u"IIIA", u"IVA", u"IB",
                                             u"IIB", u"IIIB", u"IVB", u"IIIC", u"IVC"};
constexpr OptionPlace kRightHu[10] = {{180, 150, 585, 255},  {180, 465, 615, 255},  {180, 750, 735, 225},
                                      {180, 1050, 615, 195}, {990, 150, 585, 255},  {990, 450, 645, 255},
                                      {990, 750, 705, 225},  {990, 1050, 615, 195}, {1770, 750, 705, 225},
                                      {1770, 1050, 585, 195}};
constexpr OptionPlace kLeftHu[10] = {{30, 180, 585, 255},   {30, 495, 615, 255},   {30, 780, 735, 225},
                                     {30, 1080, 615, 195},  {870, 180, 585, 255},  {870, 480, 645, 255},
                                     {870, 780, 705, 225},  {870, 1080, 615, 195}, {1650, 780, 705, 225},
                                     {1650, 1080, 585, 195}};
constexpr const char16_t* kDensityCaptions[4] = {u"脂肪型", u"少量腺体型", u"中量腺体型", u"致密型"};
constexpr OptionPlace kRightDensity[4] = {
    {180, 120, 855, 255}, {1320, 120, 1215, 255}, {180, 405, 1215, 225}, {1470, 420, 885, 195}};
constexpr OptionPlace kLeftDensity[4] = {
    {60, 120, 855, 255}, {1170, 120, 1215, 255}, {60, 435, 1215, 225}, {1290, 450, 885, 195}};

// The caption of the first chosen button of a group, from index 0 upward; empty when none is.
QString choiceOf(std::span<QRadioButton* const> group)
{
    for (const QRadioButton* button : group) {
        if (button->isChecked())
            return button->text();
    }
    return {};
}

// An exclusive group refuses to uncheck its checked button; the group's rule is lifted for the
// moment of clearing.
void clearGroup(std::span<QRadioButton* const> group)
{
    for (QRadioButton* button : group) {
        button->setAutoExclusive(false);
        button->setChecked(false);
        button->setAutoExclusive(true);
    }
}

// The panel's title, in red on white.
QLabel* addTitle(QWidget* panel)
{
    auto* title = place(new QLabel(QStringLiteral("选择乳腺钼靶X线检查项"), panel), QStringLiteral("Label3(1)"), 150,
                        60, 7365, 345);
    title->setAlignment(Qt::AlignCenter);
    title->setFont(songFont(TextSize::Title));
    fillBackground(title, Qt::white);
    QPalette red = title->palette();
    red.setColor(QPalette::WindowText, QColor(192, 0, 0));
    title->setPalette(red);
    return title;
}

// The table's right border, from (7440, 450) to (7440, 2940), and its bottom border, from
// (150, 2930) to (7470, 2930), one pixel wide.
void addRules(QWidget* panel)
{
    QFrame* rules[] = {place(new QFrame(panel), QStringLiteral("Line1"), 7440, 450, 15, 2490),
                       place(new QFrame(panel), QStringLiteral("Line2"), 150, 2930, 7335, 15)};
    for (QFrame* rule : rules) {
        rule->setFrameShape(QFrame::NoFrame);
        fillBackground(rule, QColor(192, 192, 192));
    }
}

} // namespace

ClassificationPanel::ClassificationPanel(QWidget* window, TabOrder& tabs)
    : QObject(window)
{
    const QColor windowColour = window->palette().color(QPalette::Base);
    m_panel = place(new PictureBox(classificationPicture(), windowColour, window), QStringLiteral("Picture3"),
                    1050, 6660, 7680, 3705);
    tabs.add(m_panel, 27);
    m_panel->hide();

    tabs.add(addTitle(m_panel), 61);

    auto* optionStyle = new OptionButtonStyle;
    optionStyle->setParent(this);
    const std::span<QRadioButton*> groups[4] = {m_rightHu, m_leftHu, m_rightDensity, m_leftDensity};
    const std::span<const OptionPlace> places[4] = {kRightHu, kLeftHu, kRightDensity, kLeftDensity};
    for (int f = 0; f < 4; ++f) {
        const FrameInfo& info = kFrames[f];
        QFrame* frame = place(new QFrame(m_panel), indexed("Frame1", f), info.left, info.top, info.width, info.height);
        frame->setFrameShape(QFrame::NoFrame);
        fillBackground(frame, Qt::white);
        tabs.add(frame, info.tabPosition);
        const bool hu = f < 2;
        for (std::size_t i = 0; i < groups[f].size(); ++i) {
            const QString caption = QString::fromUtf16(hu ? kHuCaptions[i] : kDensityCaptions[i]);
            const OptionPlace& p = places[f][i];
            QRadioButton* button = place(new QRadioButton(caption, frame), indexed(info.buttonName, int(i)), p.left,
                                         p.top, p.width, p.height);
            button->setStyle(optionStyle);
            button->setAccessibleName(QString::fromUtf16(info.side) + caption);
            tabs.add(button, info.tabPosition + 1 + int(i));
            groups[f][i] = button;
        }
    }

    const QFont buttonFont = songFont(TextSize::Button);
    const auto button = [&](const char* name, const QString& caption, int left, int position) {
        auto* b = place(new QPushButton(caption, m_panel), QString::fromLatin1(name), left, 3120, 1185, 405);
        b->setAccessibleName(caption);
        b->setFont(buttonFont);
        tabs.add(b, position);
        return b;
    };
    connect(button("Command5", QStringLiteral("调 用"), 2550, 81), &QPushButton::clicked, this,
            &ClassificationPanel::choose);
    connect(button("Command6", QStringLiteral("取 消"), 4110, 82), &QPushButton::clicked, this,
            &ClassificationPanel::cancelled);
    addRules(m_panel);
}

QWidget* ClassificationPanel::widget() const
{
    return m_panel;
}

void ClassificationPanel::open(const QPoint& topLeft)
{
    for (const std::span<QRadioButton* const> group :
         {std::span<QRadioButton* const>(m_rightHu), std::span<QRadioButton* const>(m_leftHu),
          std::span<QRadioButton* const>(m_rightDensity), std::span<QRadioButton* const>(m_leftDensity)})
        clearGroup(group);
    m_panel->move(topLeft);
    m_panel->raise();
    m_panel->show();
}

void ClassificationPanel::close()
{
    m_panel->hide();
}

// The column headed 右侧 holds Option1 and Option3, the column headed 左侧 Option2 and Option4, so
// each choice is written under the side the user chose it under.
void ClassificationPanel::choose()
{
    emit chosen(ComposeClassificationText(choiceOf(m_leftHu), choiceOf(m_rightHu), choiceOf(m_leftDensity),
                                          choiceOf(m_rightDensity)));
}

} // namespace korvela
