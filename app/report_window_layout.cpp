#include "app/date_picker.h"
#include "app/fonts.h"
#include "app/report_window.h"
#include "app/pictures.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>

#include <limits>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <map>

namespace korvela {

namespace {

// The layout is designed in twips; 15 twips are one device-independent pixel, so a high-DPI
// screen scales the whole sheet.
int tw(int twips)
{
    return qRound(twips / 15.0);
}

template <typename W> W* place(W* widget, const QString& name, int left, int top, int width, int height)
{
    widget->setObjectName(name);
    widget->setGeometry(tw(left), tw(top), tw(width), tw(height));
    return widget;
}

QString indexed(const char* name, int index)
{
    return QString::fromLatin1(name) + u'(' + QString::number(index) + u')';
}

void fillBackground(QWidget* widget, const QColor& colour)
{
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
}

// A button whose caption wraps inside it, breaking between Chinese characters where it must.
class WrappingButton : public QPushButton
{
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        option.text.clear();
        painter.drawControl(QStyle::CE_PushButton, option);
        const QRect inside = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
        painter.drawItemText(inside, Qt::AlignCenter | Qt::TextWordWrap, palette(), isEnabled(), text(),
                             QPalette::ButtonText);
    }
};

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

} // namespace

void ReportWindow::buildLayout()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Velmora"));
    setWindowIcon(notebookIcon());
    // Set before any control exists, so every control without a font of its own inherits it.
    setFont(songFont(TextSize::Default));
    resize(tw(13545), tw(6480));
    fillBackground(this, Qt::white);

    const QFont buttonFont = songFont(TextSize::Button);
    // The system window colour: the background of text boxes.
    const QColor windowColour = palette().color(QPalette::Base);

    // Every control with a tab position; the focusable ones are chained in this order below.
    std::map<int, QWidget*> tabs;
    const auto tab = [&](QWidget* control, int position) {
        Q_ASSERT(!tabs.contains(position));
        tabs[position] = control;
        control->setProperty("tabIndex", position);
    };

    // Top level.
    Image1 = place(new PictureBox(headerPicture(), Qt::white, this), QStringLiteral("Image1"), 2040, 120,
                   6810, 1260);
    Label1 = place(new QLabel(QStringLiteral("共查询到 0 条符合条件的记录"), this), QStringLiteral("Label1"),
                   7830, 1260, 2430, 180);
    Label1->adjustSize();
    tab(Label1, 85);
    Picture2 = place(new PictureBox(reportFormPicture(), windowColour, this), QStringLiteral("Picture2"), 150,
                     1470, 10575, 4875);
    tab(Picture2, 28);
    Picture1 = place(new PictureBox(Picture{}, QColor(135, 199, 154), this), QStringLiteral("Picture1"),
                     10680, -120, 3255, 7155);
    tab(Picture1, 62);
    Picture3 = place(new PictureBox(classificationPicture(), windowColour, this), QStringLiteral("Picture3"),
                     1050, 6660, 7680, 3705);
    tab(Picture3, 27);
    Picture3->hide();

    // Report form. The labels are painted, so each field carries its label's words as its
    // accessible name; an editable combo box speaks for its text field, which gets the name too.
    const auto textBox = [&](QLineEdit*& field, QWidget* parent, const char* name, const QString& label,
                             int l, int t, int w, int h, int position) {
        field = place(new QLineEdit(parent), QString::fromLatin1(name), l, t, w, h);
        // No length limit: a long finding stored once must show back whole, never cut at Qt's
        // default of 32767 characters.
        field->setMaxLength(std::numeric_limits<int>::max());
        field->setAccessibleName(label);
        tab(field, position);
    };
    const auto combo = [&](QComboBox*& field, const char* name, const QString& label, int l, int t, int w,
                           int h, int position) {
        field = place(new QComboBox(Picture2), QString::fromLatin1(name), l, t, w, h);
        field->setEditable(true);
        field->setInsertPolicy(QComboBox::NoInsert);
        field->setAccessibleName(label);
        field->lineEdit()->setAccessibleName(label);
        field->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
        tab(field, position);
    };
    textBox(a1, Picture2, "a1", QStringLiteral("姓名"), 1560, 90, 2025, 300, 0);
    combo(a2, "a2", QStringLiteral("年龄"), 5520, 120, 975, 300, 1);
    textBox(a3, Picture2, "a3", QStringLiteral("筛查编号"), 8100, 120, 2055, 285, 2);
    textBox(a4, Picture2, "a4", QStringLiteral("临床检查"), 1560, 570, 8355, 300, 3);
    textBox(a5, Picture2, "a5", QStringLiteral("B超"), 1560, 1050, 8355, 315, 4);
    textBox(a6, Picture2, "a6", QStringLiteral("钼靶"), 1560, 1560, 8355, 300, 5);
    Command2 = place(new QPushButton(QStringLiteral("..."), Picture2), QStringLiteral("Command2"), 9960, 1560,
                     405, 315);
    Command2->setAccessibleName(QStringLiteral("选择钼靶分型"));
    tab(Command2, 80);
    combo(a7, "a7", QStringLiteral("临床检查评级"), 2880, 2040, 615, 300, 6);
    combo(a8, "a8", QStringLiteral("X线检查评级"), 4770, 2040, 615, 300, 7);
    combo(a9, "a9", QStringLiteral("超声检查评级"), 6720, 2040, 615, 300, 8);
    combo(a10, "a10", QStringLiteral("其它评级"), 8340, 2040, 615, 300, 9);
    textBox(a11, Picture2, "a11", QStringLiteral("初步诊断印象"), 1560, 2550, 8355, 285, 10);
    textBox(a12, Picture2, "a12", QStringLiteral("建议处理"), 1560, 3030, 8355, 285, 11);
    a13 = place(new DatePicker(Picture2), QStringLiteral("a13"), 1590, 4470, 2040, 300);
    a13->setAccessibleName(QStringLiteral("检查日期"));
    tab(a13, 25);
    textBox(a14, Picture2, "a14", QStringLiteral("主检医师"), 7140, 4470, 2025, 285, 26);

    // Each handling option stands just right of its painted word.
    static const struct
    {
        const char16_t* word;
        int left;
        int top;
    } handling[13] = {
        {u"无", 1860, 3540},           {u"穿刺抽液", 3030, 3540},   {u"空心针穿刺", 4380, 3540},
        {u"活检", 5190, 3540},         {u"Mammotome", 6810, 3540},  {u"乳管镜", 7800, 3540},
        {u"住院手术", 8940, 3540},     {u"术中冰冻", 10110, 3540},  {u"三个月后随诊", 2760, 4020},
        {u"六个月后随诊", 4260, 4020}, {u"一年后随诊", 5670, 4020}, {u"B超", 6690, 4020},
        {u"钼靶", 7500, 4020},
    };
    for (int i = 0; i < 13; ++i) {
        auto* box =
            place(new QCheckBox(Picture2), indexed("Check2", i), handling[i].left, handling[i].top, 255, 225);
        box->setTristate(false);
        fillBackground(box, windowColour);
        box->setAccessibleName(u"处理方式：" + QString::fromUtf16(handling[i].word));
        Check2[std::size_t(i)] = box;
        tab(box, 12 + i);
    }

    // Search and command panel.
    const auto label = [&](QLabel*& target, const QString& name, const QString& caption, int l, int t, int w,
                           int h, int position) {
        target = place(new QLabel(caption, Picture1), name, l, t, w, h);
        target->adjustSize();
        tab(target, position);
    };
    label(lblSui2, QStringLiteral("lblSui2"), QStringLiteral("筛查编号："), 60, 360, 900, 180, 76);
    label(lblSui3, QStringLiteral("lblSui3"), QStringLiteral("患者姓名："), 60, 705, 900, 180, 75);
    label(Label2[1], indexed("Label2", 1), QStringLiteral("主检医师："), 60, 1035, 900, 180, 78);
    label(Label2[0], indexed("Label2", 0), QStringLiteral("检查日期：从"), 60, 1380, 1080, 180, 74);
    label(Label2[2], indexed("Label2", 2), QStringLiteral("到"), 960, 1740, 180, 180, 84);

    textBox(b3, Picture1, "b3", QStringLiteral("查询筛查编号"), 960, 240, 1710, 300, 73);
    textBox(b1, Picture1, "b1", QStringLiteral("查询患者姓名"), 960, 600, 1710, 300, 72);
    textBox(b14, Picture1, "b14", QStringLiteral("查询主检医师"), 960, 960, 1710, 300, 77);
    textBox(b13, Picture1, "b13", QStringLiteral("查询检查日期从"), 1200, 1320, 1470, 300, 63);
    textBox(b113, Picture1, "b113", QStringLiteral("查询检查日期到"), 1200, 1680, 1470, 300, 83);

    // Buttons with Chinese captions have a font of their own; "<", ">" and "..." keep the default.
    const auto button = [&](QPushButton*& target, QPushButton* made, const char* name, int l, int t, int w,
                            int h, int position) {
        target = place(made, QString::fromLatin1(name), l, t, w, h);
        target->setAccessibleName(made->text());
        if (made->text().front().unicode() > 0x7f)
            target->setFont(buttonFont);
        tab(target, position);
    };
    button(Command3, new QPushButton(QStringLiteral("<"), Picture1), "Command3", 480, 2100, 465, 435, 65);
    button(Command4, new QPushButton(QStringLiteral(">"), Picture1), "Command4", 960, 2100, 465, 435, 64);
    Command3->setEnabled(false);
    Command4->setEnabled(false);
    button(Command1, new QPushButton(QStringLiteral("查 询"), Picture1), "Command1", 1740, 2100, 855, 435,
           71);
    button(cmdAdd, new QPushButton(QStringLiteral("清空"), Picture1), "cmdAdd", 480, 2970, 1005, 405, 66);
    button(Command7, new WrappingButton(QStringLiteral("另存为单个可阅读文件"), Picture1), "Command7", 1590,
           2970, 1005, 935, 86);
    button(cmdSave, new QPushButton(QStringLiteral("保存"), Picture1), "cmdSave", 480, 3495, 1005, 405, 67);
    button(Cmdprint, new QPushButton(QStringLiteral("打印"), Picture1), "Cmdprint", 480, 4020, 1005, 405, 68);
    button(cmddel, new QPushButton(QStringLiteral("删除"), Picture1), "cmddel", 1620, 4020, 1005, 405, 69);
    button(cmdclose, new QPushButton(QStringLiteral("关闭"), Picture1), "cmdclose", 480, 4650, 1005, 405, 70);

    Label3[0] = place(new QLabel(Picture1), indexed("Label3", 0), 480, 5580, 2055, 975);
    Label3[0]->setWordWrap(true);
    Label3[0]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    tab(Label3[0], 79);

    // Classification panel.
    Label3[1] = place(new QLabel(QStringLiteral("选择乳腺钼靶X线检查项"), Picture3), indexed("Label3", 1),
                      150, 60, 7365, 345);
    Label3[1]->setAlignment(Qt::AlignCenter);
    Label3[1]->setFont(songFont(TextSize::Title));
    fillBackground(Label3[1], Qt::white);
    {
        QPalette red = Label3[1]->palette();
        red.setColor(QPalette::WindowText, QColor(192, 0, 0));
        Label3[1]->setPalette(red);
    }
    tab(Label3[1], 61);

    // One frame per option group, so that a choice clears only the buttons of its own group. The
    // first and third frames stand in the column the panel heads 右侧, the others under 左侧.
    static constexpr int framePlaces[4][5] = {{2220, 840, 2595, 1335, 29},
                                              {5040, 810, 2385, 1335, 40},
                                              {2220, 2220, 2715, 645, 51},
                                              {5010, 2190, 2415, 705, 56}};
    for (int f = 0; f < 4; ++f) {
        const auto& p = framePlaces[f];
        QFrame* frame = place(new QFrame(Picture3), indexed("Frame1", f), p[0], p[1], p[2], p[3]);
        frame->setFrameShape(QFrame::NoFrame);
        fillBackground(frame, Qt::white);
        Frame1[std::size_t(f)] = frame;
        tab(frame, p[4]);
    }
    auto* optionStyle = new OptionButtonStyle;
    optionStyle->setParent(this);
    const QString right = QStringLiteral("右侧 ");
    const QString left = QStringLiteral("左侧 ");
    const auto option = [&](QRadioButton*& target, const QString& caption, const QString& side, int frame,
                            int index, const char* name, int l, int t, int w, int h) {
        target =
            place(new QRadioButton(caption, Frame1[std::size_t(frame)]), indexed(name, index), l, t, w, h);
        target->setStyle(optionStyle);
        target->setAccessibleName(side + caption);
        tab(target, framePlaces[frame][4] + 1 + index);
    };

    static const char* const huCaptions[10] = {"IA",  "IIA",  "IIIA", "IVA",  "IB",
                                               "IIB", "IIIB", "IVB",  "IIIC", "IVC"};
    static constexpr int option1Places[10][4] = {
        {180, 150, 585, 255},  {180, 465, 615, 255},  {180, 750, 735, 225}, {180, 1050, 615, 195},
        {990, 150, 585, 255},  {990, 450, 645, 255},  {990, 750, 705, 225}, {990, 1050, 615, 195},
        {1770, 750, 705, 225}, {1770, 1050, 585, 195}};
    static constexpr int option2Places[10][2] = {{30, 180},   {30, 495},   {30, 780},  {30, 1080},
                                                 {870, 180},  {870, 480},  {870, 780}, {870, 1080},
                                                 {1650, 780}, {1650, 1080}};
    for (int i = 0; i < 10; ++i) {
        const auto& p = option1Places[i];
        const QString caption = QString::fromLatin1(huCaptions[i]);
        option(Option1[std::size_t(i)], caption, right, 0, i, "Option1", p[0], p[1], p[2], p[3]);
        option(Option2[std::size_t(i)], caption, left, 1, i, "Option2", option2Places[i][0],
               option2Places[i][1], p[2], p[3]);
    }

    static const QString densityCaptions[4] = {QStringLiteral("脂肪型"), QStringLiteral("少量腺体型"),
                                               QStringLiteral("中量腺体型"), QStringLiteral("致密型")};
    static constexpr int option3Places[4][4] = {
        {180, 120, 855, 255}, {1320, 120, 1215, 255}, {180, 405, 1215, 225}, {1470, 420, 885, 195}};
    static constexpr int option4Places[4][2] = {{60, 120}, {1170, 120}, {60, 435}, {1290, 450}};
    for (int i = 0; i < 4; ++i) {
        const auto& p = option3Places[i];
        option(Option3[std::size_t(i)], densityCaptions[i], right, 2, i, "Option3", p[0], p[1], p[2], p[3]);
        option(Option4[std::size_t(i)], densityCaptions[i], left, 3, i, "Option4", option4Places[i][0],
               option4Places[i][1], p[2], p[3]);
    }

    button(Command5, new QPushButton(QStringLiteral("调 用"), Picture3), "Command5", 2550, 3120, 1185, 405,
           81);
    button(Command6, new QPushButton(QStringLiteral("取 消"), Picture3), "Command6", 4110, 3120, 1185, 405,
           82);

    // The table's right border, from (7440, 450) to (7440, 2940), and its bottom border, from
    // (150, 2930) to (7470, 2930), one pixel wide.
    Line1 = place(new QFrame(Picture3), QStringLiteral("Line1"), 7440, 450, 15, 2490);
    Line2 = place(new QFrame(Picture3), QStringLiteral("Line2"), 150, 2930, 7335, 15);
    for (QFrame* rule : {Line1, Line2}) {
        rule->setFrameShape(QFrame::NoFrame);
        fillBackground(rule, QColor(192, 192, 192));
    }

    // Focus follows the tab positions among the controls that take it; Qt skips the hidden and
    // the disabled ones, as it skips the panel while the panel is hidden.
    QWidget* previous = nullptr;
    for (const auto& [position, control] : tabs) {
        if (!(control->focusPolicy() & Qt::TabFocus))
            continue;
        if (previous)
            setTabOrder(previous, control);
        previous = control;
    }
}

} // namespace korvela
