#include "search/search_statement.h"
#include "support/window_fixture.h"
#include "widgets/date_picker.h"
#include "widgets/fonts.h"
#include "widgets/pictures.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>
#include <set>

using namespace korvela;
using namespace korvela::test;

namespace {

int px(int twips)
{
    return qRound(twips / 15.0);
}

// A control as the sheet's design gives it, in twips; width and height -1 for an auto-sized label.
struct Designed
{
    const char* name;
    const char* kind;
    const char* container;
    int left, top, width, height;
    int tab; // -1: none
};

// clang-format off
const Designed kDesign[] = {
    {"Image1", "korvela::PictureBox", "Form1", 2040, 120, 6810, 1260, -1},
    {"Label1", "QLabel", "Form1", 7830, 1260, -1, -1, 85},
    {"Picture2", "korvela::PictureBox", "Form1", 150, 1470, 10575, 4875, 28},
    {"Picture1", "korvela::PictureBox", "Form1", 10680, -120, 3255, 7155, 62},
    {"Picture3", "korvela::PictureBox", "Form1", 1050, 6660, 7680, 3705, 27},

    {"a1", "QLineEdit", "Picture2", 1560, 90, 2025, 300, 0},
    {"a2", "QComboBox", "Picture2", 5520, 120, 975, 300, 1},
    {"a3", "QLineEdit", "Picture2", 8100, 120, 2055, 285, 2},
    {"a4", "QLineEdit", "Picture2", 1560, 570, 8355, 300, 3},
    {"a5", "QLineEdit", "Picture2", 1560, 1050, 8355, 315, 4},
    {"a6", "QLineEdit", "Picture2", 1560, 1560, 8355, 300, 5},
    {"Command2", "QPushButton", "Picture2", 9960, 1560, 405, 315, 80},
    {"a7", "QComboBox", "Picture2", 2880, 2040, 615, 300, 6},
    {"a8", "QComboBox", "Picture2", 4770, 2040, 615, 300, 7},
    {"a9", "QComboBox", "Picture2", 6720, 2040, 615, 300, 8},
    {"a10", "QComboBox", "Picture2", 8340, 2040, 615, 300, 9},
    {"a11", "QLineEdit", "Picture2", 1560, 2550, 8355, 285, 10},
    {"a12", "QLineEdit", "Picture2", 1560, 3030, 8355, 285, 11},
    {"a13", "QDateEdit", "Picture2", 1590, 4470, 2040, 300, 25},
    {"a14", "QLineEdit", "Picture2", 7140, 4470, 2025, 285, 26},
    {"Check2(0)", "QCheckBox", "Picture2", 1860, 3540, 255, 225, 12},
    {"Check2(1)", "QCheckBox", "Picture2", 3030, 3540, 255, 225, 13},
    {"Check2(2)", "QCheckBox", "Picture2", 4380, 3540, 255, 225, 14},
    {"Check2(3)", "QCheckBox", "Picture2", 5190, 3540, 255, 225, 15},
    {"Check2(4)", "QCheckBox", "Picture2", 6810, 3540, 255, 225, 16},
    {"Check2(5)", "QCheckBox", "Picture2", 7800, 3540, 255, 225, 17},
    {"Check2(6)", "QCheckBox", "Picture2", 8940, 3540, 255, 225, 18},
    {"Check2(7)", "QCheckBox", "Picture2", 10110, 3540, 255, 225, 19},
    {"Check2(8)", "QCheckBox", "Picture2", 2760, 4020, 255, 225, 20},
    {"Check2(9)", "QCheckBox", "Picture2", 4260, 4020, 255, 225, 21},
    {"Check2(10)", "QCheckBox", "Picture2", 5670, 4020, 255, 225, 22},
    {"Check2(11)", "QCheckBox", "Picture2", 6690, 4020, 255, 225, 23},
    {"Check2(12)", "QCheckBox", "Picture2", 7500, 4020, 255, 225, 24},

    {"lblSui2", "QLabel", "Picture1", 60, 360, -1, -1, 76},
    {"b3", "QLineEdit", "Picture1", 960, 240, 1710, 300, 73},
    {"lblSui3", "QLabel", "Picture1", 60, 705, -1, -1, 75},
    {"b1", "QLineEdit", "Picture1", 960, 600, 1710, 300, 72},
    {"Label2(1)", "QLabel", "Picture1", 60, 1035, -1, -1, 78},
    {"b14", "QLineEdit", "Picture1", 960, 960, 1710, 300, 77},
    {"Label2(0)", "QLabel", "Picture1", 60, 1380, -1, -1, 74},
    {"b13", "QLineEdit", "Picture1", 1200, 1320, 1470, 300, 63},
    {"Label2(2)", "QLabel", "Picture1", 960, 1740, -1, -1, 84},
    {"b113", "QLineEdit", "Picture1", 1200, 1680, 1470, 300, 83},
    {"Command3", "QPushButton", "Picture1", 480, 2100, 465, 435, 65},
    {"Command4", "QPushButton", "Picture1", 960, 2100, 465, 435, 64},
    {"Command1", "QPushButton", "Picture1", 1740, 2100, 855, 435, 71},
    {"cmdAdd", "QPushButton", "Picture1", 480, 2970, 1005, 405, 66},
    {"Command7", "QPushButton", "Picture1", 1590, 2970, 1005, 935, 86},
    {"cmdSave", "QPushButton", "Picture1", 480, 3495, 1005, 405, 67},
    {"Cmdprint", "QPushButton", "Picture1", 480, 4020, 1005, 405, 68},
    {"cmddel", "QPushButton", "Picture1", 1620, 4020, 1005, 405, 69},
    {"cmdclose", "QPushButton", "Picture1", 480, 4650, 1005, 405, 70},
    {"Label3(0)", "QLabel", "Picture1", 480, 5580, 2055, 975, 79},

    {"Label3(1)", "QLabel", "Picture3", 150, 60, 7365, 345, 61},
    {"Frame1(0)", "QFrame", "Picture3", 2220, 840, 2595, 1335, 29},
    {"Frame1(1)", "QFrame", "Picture3", 5040, 810, 2385, 1335, 40},
    {"Frame1(2)", "QFrame", "Picture3", 2220, 2220, 2715, 645, 51},
    {"Frame1(3)", "QFrame", "Picture3", 5010, 2190, 2415, 705, 56},
    {"Command5", "QPushButton", "Picture3", 2550, 3120, 1185, 405, 81},
    {"Command6", "QPushButton", "Picture3", 4110, 3120, 1185, 405, 82},
    {"Line1", "QFrame", "Picture3", 7440, 450, 15, 2490, -1},
    {"Line2", "QFrame", "Picture3", 150, 2930, 7335, 15, -1},

    {"Option1(0)", "QRadioButton", "Frame1(0)", 180, 150, 585, 255, 30},
    {"Option1(1)", "QRadioButton", "Frame1(0)", 180, 465, 615, 255, 31},
    {"Option1(2)", "QRadioButton", "Frame1(0)", 180, 750, 735, 225, 32},
    {"Option1(3)", "QRadioButton", "Frame1(0)", 180, 1050, 615, 195, 33},
    {"Option1(4)", "QRadioButton", "Frame1(0)", 990, 150, 585, 255, 34},
    {"Option1(5)", "QRadioButton", "Frame1(0)", 990, 450, 645, 255, 35},
    {"Option1(6)", "QRadioButton", "Frame1(0)", 990, 750, 705, 225, 36},
    {"Option1(7)", "QRadioButton", "Frame1(0)", 990, 1050, 615, 195, 37},
    {"Option1(8)", "QRadioButton", "Frame1(0)", 1770, 750, 705, 225, 38},
    {"Option1(9)", "QRadioButton", "Frame1(0)", 1770, 1050, 585, 195, 39},
    {"Option2(0)", "QRadioButton", "Frame1(1)", 30, 180, 585, 255, 41},
    {"Option2(1)", "QRadioButton", "Frame1(1)", 30, 495, 615, 255, 42},
    {"Option2(2)", "QRadioButton", "Frame1(1)", 30, 780, 735, 225, 43},
    {"Option2(3)", "QRadioButton", "Frame1(1)", 30, 1080, 615, 195, 44},
    {"Option2(4)", "QRadioButton", "Frame1(1)", 870, 180, 585, 255, 45},
    {"Option2(5)", "QRadioButton", "Frame1(1)", 870, 480, 645, 255, 46},
    {"Option2(6)", "QRadioButton", "Frame1(1)", 870, 780, 705, 225, 47},
    {"Option2(7)", "QRadioButton", "Frame1(1)", 870, 1080, 615, 195, 48},
    {"Option2(8)", "QRadioButton", "Frame1(1)", 1650, 780, 705, 225, 49},
    {"Option2(9)", "QRadioButton", "Frame1(1)", 1650, 1080, 585, 195, 50},
    {"Option3(0)", "QRadioButton", "Frame1(2)", 180, 120, 855, 255, 52},
    {"Option3(1)", "QRadioButton", "Frame1(2)", 1320, 120, 1215, 255, 53},
    {"Option3(2)", "QRadioButton", "Frame1(2)", 180, 405, 1215, 225, 54},
    {"Option3(3)", "QRadioButton", "Frame1(2)", 1470, 420, 885, 195, 55},
    {"Option4(0)", "QRadioButton", "Frame1(3)", 60, 120, 855, 255, 57},
    {"Option4(1)", "QRadioButton", "Frame1(3)", 1170, 120, 1215, 255, 58},
    {"Option4(2)", "QRadioButton", "Frame1(3)", 60, 435, 1215, 225, 59},
    {"Option4(3)", "QRadioButton", "Frame1(3)", 1290, 450, 885, 195, 60},
};
// clang-format on

// The control of that name; null when the window has none.
QWidget* control(QWidget& window, const char* name)
{
    return window.findChild<QWidget*>(QString::fromLatin1(name));
}

// The designed controls, without the inner parts Qt builds into some of them.
QList<QWidget*> designedControls(WindowDriver& w)
{
    QList<QWidget*> all;
    for (const Designed& d : kDesign)
        all << w.widget(QString::fromLatin1(d.name));
    return all;
}

TEST(Layout, EveryControlHasItsKindContainerPlaceAndTabPosition)
{
    WindowFixture w;
    std::set<int> positions;
    for (const Designed& d : kDesign) {
        SCOPED_TRACE(d.name);
        QWidget* widget = control(w.window(), d.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_TRUE(widget->inherits(d.kind)) << widget->metaObject()->className();
        ASSERT_NE(widget->parentWidget(), nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(d.container));
        EXPECT_EQ(widget->pos(), QPoint(px(d.left), px(d.top)));
        if (d.width >= 0) {
            EXPECT_EQ(widget->size(), QSize(px(d.width), px(d.height)));
        }
        if (d.tab >= 0) {
            EXPECT_EQ(widget->property("tabIndex").toInt(), d.tab);
            EXPECT_TRUE(positions.insert(d.tab).second) << "tab position used twice";
        }
    }
    // Tab positions 0 to 86, none missing.
    EXPECT_EQ(positions.size(), 87u);
    EXPECT_EQ(*positions.begin(), 0);
    EXPECT_EQ(*positions.rbegin(), 86);
    // Every control carrying a tab position is one of the designed ones.
    int carried = 0;
    for (QWidget* widget : w.window().findChildren<QWidget*>())
        carried += widget->property("tabIndex").isValid() ? 1 : 0;
    EXPECT_EQ(carried, 87);
}

TEST(Layout, CaptionsAndFirstState)
{
    WindowFixture w;
    EXPECT_EQ(w.window().windowTitle(), u"Velmora");
    EXPECT_EQ(w.text(QStringLiteral("Label1")), u"共查询到 0 条符合条件的记录");
    const std::pair<const char*, const char16_t*> captions[] = {
        {"Command2", u"..."},   {"Command3", u"<"},     {"Command4", u">"},
        {"Command1", u"查 询"}, {"cmdAdd", u"清空"},    {"Command7", u"另存为单个可阅读文件"},
        {"cmdSave", u"保存"},   {"Cmdprint", u"打印"},  {"cmddel", u"删除"},
        {"cmdclose", u"关闭"},  {"Command5", u"调 用"}, {"Command6", u"取 消"},
    };
    for (const auto& [button, caption] : captions)
        EXPECT_EQ(w.find<QAbstractButton>(QString::fromLatin1(button))->text(), QString::fromUtf16(caption));
    const std::pair<const char*, const char16_t*> texts[] = {
        {"lblSui2", u"筛查编号："},   {"lblSui3", u"患者姓名："},    {"Label2(0)", u"检查日期：从"},
        {"Label2(1)", u"主检医师："}, {"Label2(2)", u"到"},          {"Label3(1)", u"选择乳腺钼靶X线检查项"},
        {"Option2(8)", u"IIIC"},      {"Option4(1)", u"少量腺体型"},
    };
    for (const auto& [name, text] : texts)
        EXPECT_EQ(w.text(QString::fromLatin1(name)), QString::fromUtf16(text)) << name;

    // Only the panel is hidden and only the browse buttons are disabled.
    QWidget* panel = w.widget(QStringLiteral("Picture3"));
    EXPECT_FALSE(panel->isVisible());
    for (QWidget* widget : designedControls(w)) {
        if (panel->isAncestorOf(widget) || widget == panel)
            continue;
        SCOPED_TRACE(widget->objectName().toStdString());
        EXPECT_TRUE(widget->isVisible());
        EXPECT_EQ(widget->isEnabled(),
                  widget->objectName() != u"Command3" && widget->objectName() != u"Command4");
    }
    for (const char* list : {"a2", "a7", "a8", "a9", "a10"})
        EXPECT_TRUE(w.comboBox(QString::fromLatin1(list))->isEditable()) << list;
    for (int i = 0; i < 13; ++i)
        EXPECT_FALSE(w.option(i)->isTristate()) << i;
    EXPECT_TRUE(w.datePicker()->calendarPopup());
    EXPECT_FALSE(w.datePicker()->displayFormat().contains(u'h'));
}

// The names of the controls on the way from one focused control to the next.
QString focusedControl()
{
    for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget()) {
        if (w->property("tabIndex").isValid())
            return w->objectName();
    }
    return QStringLiteral("<none>");
}

// The controls Tab visits from `start`, `start` first, separated by blanks.
std::string tabChain(QWidget* start, int steps)
{
    start->setFocus(Qt::TabFocusReason);
    QStringList chain{focusedControl()};
    for (int i = 0; i < steps; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        chain << focusedControl();
    }
    return chain.join(u' ').toStdString();
}

std::string names(std::initializer_list<const char*> list)
{
    QStringList out;
    for (const char* n : list)
        out << QString::fromLatin1(n);
    return out.join(u' ').toStdString();
}

TEST(Layout, TabRunsThroughTheReportThenThePanelAndNeverIntoTheHiddenClassificationPanel)
{
    WindowFixture w;
    QApplication::setActiveWindow(&w.window());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w.window()));
    std::string expected = names({"a1", "a2", "a3", "a4", "a5", "a6", "a7", "a8", "a9", "a10", "a11", "a12"});
    for (int i = 0; i <= 12; ++i)
        expected += " Check2(" + std::to_string(i) + ")";
    expected += ' ' + names({"a13", "a14", "b13", "cmdAdd", "cmdSave", "Cmdprint", "cmddel", "cmdclose",
                             "Command1", "b1", "b3", "b14", "Command2", "b113", "Command7", "a1"});
    EXPECT_EQ(tabChain(w.widget(QStringLiteral("a1")), 40), expected);

    // A picker holding no date lets Tab through as well.
    w.datePicker()->setValue(std::nullopt);
    EXPECT_EQ(tabChain(w.datePicker(), 2), names({"a13", "a14", "b13"}));

    // Once a search enables the browse buttons they take their places after b13.
    w.folder.exec(QStringLiteral("INSERT INTO A (A1, A3, A13) VALUES ('张三', 'T-1', '2024-03-15')"));
    w.click(QStringLiteral("Command1"));
    ASSERT_TRUE(w.button(QStringLiteral("Command4"))->isEnabled());
    EXPECT_EQ(tabChain(w.widget(QStringLiteral("b13")), 3), names({"b13", "Command4", "Command3", "cmdAdd"}));
}

TEST(Layout, EnlargingTheWindowMovesNothing)
{
    WindowFixture w;
    std::vector<QRect> before;
    const QList<QWidget*> all = w.window().findChildren<QWidget*>();
    for (QWidget* widget : all)
        before.push_back(widget->geometry());
    w.window().resize(1600, 1000);
    QApplication::processEvents();
    for (qsizetype i = 0; i < all.size(); ++i)
        EXPECT_EQ(all[i]->geometry(), before[std::size_t(i)]) << all[i]->objectName().toStdString();
    const QImage shot = w.window().grab().toImage();
    EXPECT_EQ(shot.pixelColor(1500, 900), QColor(Qt::white));
}

bool isSongFace(const QString& family)
{
    static const QStringList song = {QStringLiteral("宋体"), QStringLiteral("SimSun"),
                                     QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Serif CJK SC"),
                                     QStringLiteral("Source Han Serif SC")};
    return song.contains(family, Qt::CaseInsensitive);
}

// Every character of `text` drawn from `font` itself, never from a fallback that may show boxes.
void expectGlyphs(const QFont& font, const QString& text)
{
    const QFontMetrics metrics(font);
    for (const char32_t c : text.toUcs4()) {
        if (QChar::category(c) == QChar::Other_Control)
            continue; // line breaks
        EXPECT_TRUE(metrics.inFontUcs4(c)) << text.toStdString() << " in " << font.family().toStdString();
    }
}

TEST(Layout, TextIsInASongFaceAtTheDesignSizesWithEveryGlyph)
{
    WindowFixture w;
    ASSERT_TRUE(isSongFace(songFamily())) << songFamily().toStdString();
    EXPECT_EQ(QFontInfo(w.window().font()).family(), songFamily());
    for (QWidget* widget : designedControls(w)) {
        SCOPED_TRACE(widget->objectName().toStdString());
        EXPECT_EQ(QFontInfo(widget->font()).family(), songFamily());
        const auto* button = qobject_cast<QPushButton*>(widget);
        const bool chineseCaption = button && button->text().front().unicode() > 0x7f;
        const int expected = widget->objectName() == u"Label3(1)" ? 16 : chineseCaption ? 14 : 12;
        EXPECT_EQ(widget->font().pixelSize(), expected);
        if (auto* b = qobject_cast<QAbstractButton*>(widget))
            expectGlyphs(b->font(), b->text());
        if (auto* l = qobject_cast<QLabel*>(widget))
            expectGlyphs(l->font(), l->text());
    }
    for (const Picture& picture : {headerPicture(), reportFormPicture(), classificationPicture()}) {
        for (const PaintedText& painted : picture.texts)
            expectGlyphs(painted.font, painted.text);
    }
    // Auto-sized captions are as wide as their text and are not cut.
    for (const char* name : {"Label1", "lblSui2", "lblSui3", "Label2(0)", "Label2(1)", "Label2(2)"}) {
        const QLabel* label = w.label(QString::fromLatin1(name));
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text())) << name;
    }
    // The credit line fits its box.
    const QLabel* creditLine = w.label(QStringLiteral("Label3(0)"));
    const QRect credit = creditLine->fontMetrics().boundingRect(creditLine->contentsRect(), Qt::TextWordWrap,
                                                                creditLine->text());
    EXPECT_LE(credit.height(), creditLine->height());
}

// The count label at a number of found reports. Up to a few thousand the rows are made and
// found by a real search; beyond that the label is given the caption such a search gives it.
class CountLabel : public ::testing::TestWithParam<int>
{
};

TEST_P(CountLabel, ShowsItsWholeTextWithoutCoveringAnotherControl)
{
    const int count = GetParam();
    WindowFixture w;
    QLabel* label = w.label(QStringLiteral("Label1"));
    if (count <= 10000) {
        if (count > 0) {
            w.folder.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                                         "WHERE i < %1) INSERT INTO A (A1, A3, A13) "
                                         "SELECT '患者' || i, 'C-' || i, '2024-03-15' FROM n")
                              .arg(count));
        }
        w.click(QStringLiteral("Command1"));
        ASSERT_EQ(label->text(), foundCountCaption(count));
    } else {
        label->setText(foundCountCaption(count));
    }
    QApplication::processEvents();

    EXPECT_TRUE(label->isVisible());
    EXPECT_GE(label->width(), label->sizeHint().width());
    EXPECT_GE(label->contentsRect().width(), label->fontMetrics().horizontalAdvance(label->text()));
    EXPECT_GE(label->contentsRect().height(), label->fontMetrics().height());
    // The header picture's lower edge lies under the label by design; nothing else may.
    const QRect at(label->mapTo(&w.window(), QPoint()), label->size());
    for (QWidget* other : designedControls(w)) {
        if (other == label || !other->isVisible() || other->objectName() == u"Image1")
            continue;
        const QRect there(other->mapTo(&w.window(), QPoint()), other->size());
        EXPECT_FALSE(at.intersects(there)) << "covers " << other->objectName().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Layout, CountLabel, ::testing::Values(0, 12, 1234, 12345678),
                         [](const ::testing::TestParamInfo<int>& found) {
                             return "Found" + std::to_string(found.param);
                         });

QString accessibleName(QWidget* widget)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

TEST(Layout, FieldsAreToldApartByTheirPaintedLabels)
{
    WindowFixture w;
    w.type(QStringLiteral("a2"), QStringLiteral("45"));
    w.type(QStringLiteral("a7"), QStringLiteral("3"));
    // A list box is named by its text field.
    const auto named = [&](const char* name) -> QWidget* {
        QWidget* widget = w.widget(QString::fromLatin1(name));
        if (auto* list = qobject_cast<QComboBox*>(widget))
            return list->lineEdit();
        return widget;
    };
    const std::pair<const char*, const char16_t*> fields[] = {
        {"a1", u"姓名"},
        {"a2", u"年龄"},
        {"a3", u"筛查编号"},
        {"a4", u"临床检查"},
        {"a5", u"B超"},
        {"a6", u"钼靶"},
        {"a7", u"临床检查评级"},
        {"a8", u"X线检查评级"},
        {"a9", u"超声检查评级"},
        {"a10", u"其它评级"},
        {"a11", u"初步诊断印象"},
        {"a12", u"建议处理"},
        {"a13", u"检查日期"},
        {"a14", u"主检医师"},
        {"Check2(0)", u"处理方式：无"},
        {"Check2(4)", u"处理方式：Mammotome"},
        {"Check2(11)", u"处理方式：B超"},
        {"Check2(12)", u"处理方式：钼靶"},
        {"b3", u"查询筛查编号"},
        {"b1", u"查询患者姓名"},
        {"b14", u"查询主检医师"},
        {"b13", u"查询检查日期从"},
        {"b113", u"查询检查日期到"},
        {"Command2", u"选择钼靶分型"},
        {"Option1(0)", u"右侧 IA"},
        {"Option2(9)", u"左侧 IVC"},
        {"Option3(3)", u"右侧 致密型"},
        {"Option4(0)", u"左侧 脂肪型"},
        {"Command1", u"查 询"},
        {"Command5", u"调 用"},
    };
    for (const auto& [name, spoken] : fields)
        EXPECT_EQ(accessibleName(named(name)), QString::fromUtf16(spoken)) << name;
    // No two controls share a name.
    std::set<QString> seen;
    for (QWidget* widget : w.window().findChildren<QWidget*>()) {
        if (widget->property("tabIndex").isValid() && widget->focusPolicy() != Qt::NoFocus) {
            EXPECT_TRUE(seen.insert(widget->accessibleName()).second)
                << widget->accessibleName().toStdString();
        }
    }
}

// Where the ink of a painted word lies.
QRect inkOf(const PaintedText& painted)
{
    return QFontMetrics(painted.font).boundingRect(painted.box, int(painted.align), painted.text);
}

TEST(Pictures, EveryReportFieldSitsInTheCellOfItsPaintedLabel)
{
    WindowFixture w;
    const Picture form = reportFormPicture();
    // The painted label each field answers to, and whether an asterisk follows the field.
    const struct
    {
        const char* field;
        const char16_t* label;
        bool starred;
    } fields[] = {
        {"a1", u"姓名：", true},          {"a2", u"年 龄：", false},        {"a3", u"筛查编号：", true},
        {"a4", u"临床检查：", false},     {"a5", u"B超：", true},           {"a6", u"钼靶：", false},
        {"a7", u"临床检查评级：", false}, {"a8", u"X线检查评级：", false},  {"a9", u"超声检查评级：", false},
        {"a10", u"其它评级：", false},    {"a11", u"初步诊断印象：", true}, {"a12", u"建议处理：", false},
        {"a13", u"检查日期：", false},    {"a14", u"主检医师：", true},
    };
    for (const auto& f : fields) {
        const QRect field = w.widget(QString::fromLatin1(f.field))->geometry();
        SCOPED_TRACE(f.field);
        const PaintedText* label = form.text(QString::fromUtf16(f.label));
        ASSERT_NE(label, nullptr);
        // In the label's row, to the right of its words, in the value column.
        EXPECT_GE(field.center().y(), label->box.top());
        EXPECT_LE(field.center().y(), label->box.bottom());
        EXPECT_GE(field.left(), inkOf(*label).right());
        EXPECT_GE(field.left(), 98);
        EXPECT_LE(field.right(), 701);
        // No rule crosses the field and no painted word lies under it.
        for (const QRect& rule : form.rules)
            EXPECT_FALSE(rule.intersects(field)) << rule.x() << "," << rule.y();
        for (const PaintedText& painted : form.texts)
            EXPECT_FALSE(inkOf(painted).intersects(field)) << painted.text.toStdString();
        // A required field has its asterisk just after it.
        bool star = false;
        for (const PaintedText& painted : form.texts) {
            if (painted.text == u"*" && painted.box.left() >= field.right() &&
                painted.box.left() - field.right() <= 6 && painted.box.top() <= field.center().y() &&
                painted.box.bottom() >= field.center().y())
                star = true;
        }
        EXPECT_EQ(star, f.starred);
    }
    // The "..." button stands at the right end of the 钼靶 row, inside the table.
    const QRect more = w.widget(QStringLiteral("Command2"))->geometry();
    EXPECT_GT(more.left(), w.widget(QStringLiteral("a6"))->geometry().right());
    EXPECT_LE(more.right(), 701);
}

TEST(Pictures, EachHandlingOptionStandsJustRightOfItsWord)
{
    WindowFixture w;
    const Picture form = reportFormPicture();
    const char16_t* words[13] = {u"无",         u"穿刺抽液", u"空心针穿刺", u"活检",         u"Mammotome",
                                 u"乳管镜",     u"住院手术", u"术中冰冻",   u"三个月后随诊", u"六个月后随诊",
                                 u"一年后随诊", u"B超",      u"钼靶"};
    for (int i = 0; i < 13; ++i) {
        const QRect box = w.option(i)->geometry();
        SCOPED_TRACE(i);
        // The last "B超" and "钼靶" are the ones inside 【 】, on the lower line.
        const PaintedText* word = nullptr;
        for (const PaintedText& painted : form.texts) {
            if (painted.text == QString::fromUtf16(words[i]) && painted.box.left() >= 106)
                word = &painted;
        }
        ASSERT_NE(word, nullptr);
        const QRect ink = inkOf(*word);
        EXPECT_GE(box.left(), ink.right());
        EXPECT_LE(box.left() - ink.right(), 32);
        EXPECT_GE(box.top(), word->box.top());
        EXPECT_LE(box.bottom(), word->box.bottom());
        for (const PaintedText& painted : form.texts)
            EXPECT_FALSE(inkOf(painted).intersects(box)) << painted.text.toStdString();
    }
}

QImage render(const Picture& picture)
{
    QImage image(picture.size, QImage::Format_RGB32);
    QPainter painter(&image);
    paintPicture(painter, picture);
    return image;
}

int countNear(const QImage& image, const QRect& area, const QColor& colour)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                     std::abs(c.blue() - colour.blue()) <
                 40;
        }
    }
    return n;
}

TEST(Pictures, ColoursRulesAndCellsAreDrawnAsDesigned)
{
    const QImage header = render(headerPicture());
    EXPECT_EQ(header.size(), QSize(454, 84));
    const QColor green(28, 110, 15), red(157, 43, 28);
    EXPECT_GT(countNear(header, QRect(0, 10, 454, 32), green), 200);
    EXPECT_EQ(countNear(header, QRect(0, 50, 454, 34), green), 0);
    EXPECT_GT(countNear(header, QRect(0, 51, 454, 32), red), 150);
    EXPECT_EQ(countNear(header, QRect(0, 0, 454, 45), red), 0);
    // Both lines are centred.
    for (const PaintedText& line : headerPicture().texts)
        EXPECT_NEAR(inkOf(line).center().x(), 227, 3);

    const QImage form = render(reportFormPicture());
    EXPECT_EQ(form.size(), QSize(702, 324));
    const QColor rule(204, 204, 204);
    for (const QPoint& on :
         {QPoint(98, 10), QPoint(0, 300), QPoint(701, 50), QPoint(50, 32), QPoint(400, 129), QPoint(400, 257),
          QPoint(315, 20), QPoint(466, 300), QPoint(600, 323)})
        EXPECT_EQ(form.pixelColor(on), rule) << on.x() << "," << on.y();
    // The handling row's label cell is one cell; the rules at x 315 and 466 belong to the first
    // and last rows only.
    for (const QPoint& off : {QPoint(4, 257), QPoint(315, 100), QPoint(466, 240), QPoint(200, 240)})
        EXPECT_EQ(form.pixelColor(off), QColor(Qt::white)) << off.x() << "," << off.y();
    // The labels are dark grey: their ink is grey, never coloured or black.
    int ink = 0;
    for (int y = 1; y < 323; ++y) {
        for (int x = 1; x < 98; ++x) {
            const QColor c = form.pixelColor(x, y);
            if (c == QColor(Qt::white))
                continue;
            EXPECT_TRUE(c.red() == c.green() && c.green() == c.blue() && c.red() >= 51) << x << "," << y;
            ink += c.red() < 150;
        }
    }
    EXPECT_GT(ink, 200);

    const QImage panel = render(classificationPicture());
    EXPECT_EQ(panel.size(), QSize(497, 196));
    const QColor panelRule(203, 203, 203);
    for (const QPoint& on : {QPoint(10, 100), QPoint(142, 100), QPoint(332, 180), QPoint(300, 29),
                             QPoint(300, 53), QPoint(300, 145)})
        EXPECT_EQ(panel.pixelColor(on), panelRule) << on.x() << "," << on.y();
    EXPECT_EQ(panel.pixelColor(300, 15), QColor(Qt::white)); // the title band holds no rule
    const Picture headings = classificationPicture();
    ASSERT_NE(headings.text(QStringLiteral("右侧")), nullptr);
    ASSERT_NE(headings.text(QStringLiteral("左侧")), nullptr);
    EXPECT_EQ(headings.text(QStringLiteral("右侧"))->box, QRect(142, 29, 190, 24));
    EXPECT_EQ(headings.text(QStringLiteral("左侧"))->box, QRect(332, 29, 164, 24));
}

TEST(Pictures, TheWindowShowsItsPicturesAndItsIcon)
{
    WindowFixture w;
    const QImage sheet = w.window().grab().toImage();
    // The report form picture under Picture2: a rule between the label and value columns.
    EXPECT_EQ(sheet.pixelColor(w.widget(QStringLiteral("Picture2"))->pos() + QPoint(98, 20)),
              QColor(204, 204, 204));
    EXPECT_EQ(sheet.pixelColor(w.widget(QStringLiteral("Picture1"))->pos() + QPoint(5, 200)),
              QColor(135, 199, 154));

    const QIcon icon = w.window().windowIcon();
    for (int size : {16, 32}) {
        SCOPED_TRACE(size);
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size)));
        const QImage image = icon.pixmap(size, size).toImage();
        int redCover = 0, whitePage = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const QColor c = image.pixelColor(x, y);
                redCover += c.alpha() == 255 && c.red() > 150 && c.green() < 80 && c.blue() < 80;
                whitePage += c.alpha() == 255 && c.red() > 240 && c.green() > 240 && c.blue() > 240;
            }
        }
        EXPECT_GT(redCover, size);
        EXPECT_GT(whitePage, size * 2);
    }
}

} // namespace
