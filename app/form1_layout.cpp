#include "date_picker.h"
#include "form1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <map>

namespace korvela {

namespace {

// The layout is designed in twips; 15 twips are one device-independent pixel.
int tw(int twips)
{
    return qRound(twips / 15.0);
}

template <typename W>
W* place(W* widget, const QString& name, int left, int top, int width, int height)
{
    widget->setObjectName(name);
    widget->setGeometry(tw(left), tw(top), tw(width), tw(height));
    return widget;
}

QString indexed(const char* name, int index)
{
    return QString::fromLatin1(name) + u'(' + QString::number(index) + u')';
}

} // namespace

void Form1::buildLayout()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Velmora"));
    resize(tw(13545), tw(6480));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    std::map<int, QWidget*> tabs;

    // Top level.
    Image1 = place(new QWidget(this), QStringLiteral("Image1"), 2040, 120, 6810, 1260);
    Label1 = place(new QLabel(QStringLiteral("共查询到 0 条符合条件的记录"), this), QStringLiteral("Label1"), 7830,
                   1260, 2430, 180);
    Label1->adjustSize();
    Picture2 = place(new QWidget(this), QStringLiteral("Picture2"), 150, 1470, 10575, 4875);
    Picture1 = place(new QWidget(this), QStringLiteral("Picture1"), 10680, -120, 3255, 7155);
    Picture1->setAutoFillBackground(true);
    QPalette green = Picture1->palette();
    green.setColor(QPalette::Window, QColor(135, 199, 154));
    Picture1->setPalette(green);
    Picture3 = place(new QWidget(this), QStringLiteral("Picture3"), 1050, 6660, 7680, 3705);
    Picture3->hide();

    // Report form.
    const auto line = [&](QLineEdit*& field, const char* name, int l, int t, int w, int h, int tab) {
        field = place(new QLineEdit(Picture2), QString::fromLatin1(name), l, t, w, h);
        tabs[tab] = field;
    };
    const auto combo = [&](QComboBox*& field, const char* name, int l, int t, int w, int h, int tab) {
        field = place(new QComboBox(Picture2), QString::fromLatin1(name), l, t, w, h);
        field->setEditable(true);
        field->setInsertPolicy(QComboBox::NoInsert);
        tabs[tab] = field;
    };
    line(a1, "a1", 1560, 90, 2025, 300, 0);
    combo(a2, "a2", 5520, 120, 975, 300, 1);
    line(a3, "a3", 8100, 120, 2055, 285, 2);
    line(a4, "a4", 1560, 570, 8355, 300, 3);
    line(a5, "a5", 1560, 1050, 8355, 315, 4);
    line(a6, "a6", 1560, 1560, 8355, 300, 5);
    Command2 = place(new QPushButton(QStringLiteral("..."), Picture2), QStringLiteral("Command2"), 9960, 1560, 405,
                     315);
    tabs[80] = Command2;
    combo(a7, "a7", 2880, 2040, 615, 300, 6);
    combo(a8, "a8", 4770, 2040, 615, 300, 7);
    combo(a9, "a9", 6720, 2040, 615, 300, 8);
    combo(a10, "a10", 8340, 2040, 615, 300, 9);
    line(a11, "a11", 1560, 2550, 8355, 285, 10);
    line(a12, "a12", 1560, 3030, 8355, 285, 11);
    a13 = place(new DatePicker(Picture2), QStringLiteral("a13"), 1590, 4470, 2040, 300);
    tabs[25] = a13;
    line(a14, "a14", 7140, 4470, 2025, 285, 26);

    static constexpr int checkPlaces[13][2] = {
        {1860, 3540}, {3030, 3540}, {4380, 3540}, {5190, 3540}, {6810, 3540}, {7800, 3540}, {8940, 3540},
        {10110, 3540}, {2760, 4020}, {4260, 4020}, {5670, 4020}, {6690, 4020}, {7500, 4020},
    };
    for (int i = 0; i < 13; ++i) {
        auto* box = place(new QCheckBox(Picture2), indexed("Check2", i), checkPlaces[i][0], checkPlaces[i][1],
                          255, 225);
        box->setTristate(false);
        Check2[std::size_t(i)] = box;
        tabs[12 + i] = box;
    }

    // Search and command panel.
    const auto label = [&](QLabel*& target, const QString& name, const QString& caption, int l, int t, int w,
                           int h) {
        target = place(new QLabel(caption, Picture1), name, l, t, w, h);
        target->adjustSize();
    };
    label(lblSui2, QStringLiteral("lblSui2"), QStringLiteral("筛查编号："), 60, 360, 900, 180);
    label(lblSui3, QStringLiteral("lblSui3"), QStringLiteral("患者姓名："), 60, 705, 900, 180);
    label(Label2[1], indexed("Label2", 1), QStringLiteral("主检医师："), 60, 1035, 900, 180);
    label(Label2[0], indexed("Label2", 0), QStringLiteral("检查日期：从"), 60, 1380, 1080, 180);
    label(Label2[2], indexed("Label2", 2), QStringLiteral("到"), 960, 1740, 180, 180);

    const auto search = [&](QLineEdit*& field, const char* name, int l, int t, int w, int h, int tab) {
        field = place(new QLineEdit(Picture1), QString::fromLatin1(name), l, t, w, h);
        tabs[tab] = field;
    };
    search(b3, "b3", 960, 240, 1710, 300, 73);
    search(b1, "b1", 960, 600, 1710, 300, 72);
    search(b14, "b14", 960, 960, 1710, 300, 77);
    search(b13, "b13", 1200, 1320, 1470, 300, 63);
    search(b113, "b113", 1200, 1680, 1470, 300, 83);

    const auto button = [&](QPushButton*& target, QWidget* parent, const char* name, const QString& caption, int l,
                            int t, int w, int h, int tab) {
        target = place(new QPushButton(caption, parent), QString::fromLatin1(name), l, t, w, h);
        tabs[tab] = target;
    };
    button(Command3, Picture1, "Command3", QStringLiteral("<"), 480, 2100, 465, 435, 65);
    button(Command4, Picture1, "Command4", QStringLiteral(">"), 960, 2100, 465, 435, 64);
    Command3->setEnabled(false);
    Command4->setEnabled(false);
    button(Command1, Picture1, "Command1", QStringLiteral("查 询"), 1740, 2100, 855, 435, 71);
    button(cmdAdd, Picture1, "cmdAdd", QStringLiteral("清空"), 480, 2970, 1005, 405, 66);
    button(Command7, Picture1, "Command7", QStringLiteral("另存为单个可阅读文件"), 1590, 2970, 1005, 935, 86);
    button(cmdSave, Picture1, "cmdSave", QStringLiteral("保存"), 480, 3495, 1005, 405, 67);
    button(Cmdprint, Picture1, "Cmdprint", QStringLiteral("打印"), 480, 4020, 1005, 405, 68);
    button(cmddel, Picture1, "cmddel", QStringLiteral("删除"), 1620, 4020, 1005, 405, 69);
    button(cmdclose, Picture1, "cmdclose", QStringLiteral("关闭"), 480, 4650, 1005, 405, 70);

    Label3[0] = place(new QLabel(Picture1), indexed("Label3", 0), 480, 5580, 2055, 975);
    Label3[0]->setWordWrap(true);
    Label3[0]->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // Classification panel.
    Label3[1] = place(new QLabel(QStringLiteral("选择乳腺钼靶X线检查项"), Picture3), indexed("Label3", 1), 150, 60,
                      7365, 345);
    Label3[1]->setAlignment(Qt::AlignCenter);

    static constexpr int framePlaces[4][5] = {
        {2220, 840, 2595, 1335, 29}, {5040, 810, 2385, 1335, 40}, {2220, 2220, 2715, 645, 51},
        {5010, 2190, 2415, 705, 56}};
    for (int f = 0; f < 4; ++f) {
        const auto& p = framePlaces[f];
        Frame1[std::size_t(f)] = place(new QFrame(Picture3), indexed("Frame1", f), p[0], p[1], p[2], p[3]);
    }

    static const char* const huCaptions[10] = {"IA", "IIA", "IIIA", "IVA", "IB", "IIB", "IIIB", "IVB", "IIIC", "IVC"};
    static constexpr int option1Places[10][4] = {
        {180, 150, 585, 255},  {180, 465, 615, 255},  {180, 750, 735, 225},  {180, 1050, 615, 195},
        {990, 150, 585, 255},  {990, 450, 645, 255},  {990, 750, 705, 225},  {990, 1050, 615, 195},
        {1770, 750, 705, 225}, {1770, 1050, 585, 195}};
    static constexpr int option2Places[10][2] = {{30, 180},  {30, 495},  {30, 780},  {30, 1080},  {870, 180},
                                                 {870, 480}, {870, 780}, {870, 1080}, {1650, 780}, {1650, 1080}};
    for (int i = 0; i < 10; ++i) {
        const auto& p = option1Places[i];
        const QString caption = QString::fromLatin1(huCaptions[i]);
        Option1[std::size_t(i)] = place(new QRadioButton(caption, Frame1[0]), indexed("Option1", i), p[0], p[1],
                                        p[2], p[3]);
        Option2[std::size_t(i)] = place(new QRadioButton(caption, Frame1[1]), indexed("Option2", i),
                                        option2Places[i][0], option2Places[i][1], p[2], p[3]);
        tabs[29 + 1 + i] = Option1[std::size_t(i)];
        tabs[40 + 1 + i] = Option2[std::size_t(i)];
    }

    static const QString densityCaptions[4] = {QStringLiteral("脂肪型"), QStringLiteral("少量腺体型"),
                                               QStringLiteral("中量腺体型"), QStringLiteral("致密型")};
    static constexpr int option3Places[4][4] = {
        {180, 120, 855, 255}, {1320, 120, 1215, 255}, {180, 405, 1215, 225}, {1470, 420, 885, 195}};
    static constexpr int option4Places[4][2] = {{60, 120}, {1170, 120}, {60, 435}, {1290, 450}};
    for (int i = 0; i < 4; ++i) {
        const auto& p = option3Places[i];
        Option3[std::size_t(i)] = place(new QRadioButton(densityCaptions[i], Frame1[2]), indexed("Option3", i),
                                        p[0], p[1], p[2], p[3]);
        Option4[std::size_t(i)] = place(new QRadioButton(densityCaptions[i], Frame1[3]), indexed("Option4", i),
                                        option4Places[i][0], option4Places[i][1], p[2], p[3]);
        tabs[51 + 1 + i] = Option3[std::size_t(i)];
        tabs[56 + 1 + i] = Option4[std::size_t(i)];
    }

    button(Command5, Picture3, "Command5", QStringLiteral("调 用"), 2550, 3120, 1185, 405, 81);
    button(Command6, Picture3, "Command6", QStringLiteral("取 消"), 4110, 3120, 1185, 405, 82);

    Line1 = place(new QFrame(Picture3), QStringLiteral("Line1"), 7440, 450, 15, 2490);
    Line2 = place(new QFrame(Picture3), QStringLiteral("Line2"), 150, 2930, 7320, 15);

    // Focus follows the design's tab positions.
    QWidget* previous = nullptr;
    for (const auto& [position, widget] : tabs) {
        widget->setFocusPolicy(widget->focusPolicy() == Qt::NoFocus ? Qt::StrongFocus : widget->focusPolicy());
        if (previous)
            setTabOrder(previous, widget);
        previous = widget;
    }
}

} // namespace korvela
