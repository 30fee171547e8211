#include "classification/classification_text.h"
#include "widgets/pictures.h"
#include "support/window_fixture.h"

#include <QApplication>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>
#include <set>

using namespace korvela;
using namespace korvela::test;

namespace {

// Choices by side (empty: nothing chosen in that group) and the text they give.
struct Row
{
    const char16_t* leftHu;
    const char16_t* rightHu;
    const char16_t* leftDensity;
    const char16_t* rightDensity;
    const char16_t* text;
};

const Row kRows[] = {
    {u"IA", u"", u"", u"", u"HU分型：左侧IA；"},
    {u"", u"IIB", u"", u"", u"HU分型：右侧IIB；"},
    {u"IIIA", u"IVB", u"", u"", u"HU分型：左侧IIIA，右侧IVB；"},
    {u"", u"", u"脂肪型", u"", u"BI-TADS分型：左侧脂肪型"},
    {u"", u"", u"", u"致密型", u"BI-TADS分型：右侧致密型"},
    {u"IB", u"", u"少量腺体型", u"中量腺体型",
     u"HU分型：左侧IB；BI-TADS分型：左侧少量腺体型，右侧中量腺体型"},
    {u"", u"IVC", u"", u"致密型", u"HU分型：右侧IVC；BI-TADS分型：右侧致密型"},
    {u"", u"", u"", u"", u""},
};

// Names the parameterised cases by the text they expect.
void PrintTo(const Row& row, std::ostream* out)
{
    *out << QString::fromUtf16(row.text).toStdString();
}

QString s(const char16_t* text)
{
    return QString::fromUtf16(text);
}

class Compose : public ::testing::TestWithParam<Row>
{
};

TEST_P(Compose, GivesTheTextForTheChoices)
{
    const Row& r = GetParam();
    EXPECT_EQ(ComposeClassificationText(s(r.leftHu), s(r.rightHu), s(r.leftDensity), s(r.rightDensity)),
              s(r.text));
}

INSTANTIATE_TEST_SUITE_P(Table, Compose, ::testing::ValuesIn(kRows));

TEST(ComposeText, PunctuationIsFullWidth)
{
    const QString text = ComposeClassificationText(QStringLiteral("IA"), QStringLiteral("IB"),
                                                   QStringLiteral("脂肪型"), QStringLiteral("致密型"));
    EXPECT_EQ(text.count(QChar(0xFF1A)), 2);
    EXPECT_EQ(text.count(QChar(0xFF0C)), 2);
    EXPECT_EQ(text.count(QChar(0xFF1B)), 1);
    for (QChar ascii : {u':', u',', u';'})
        EXPECT_FALSE(text.contains(ascii));
}

// The panel in the real window, driven with the mouse. Sides are found the way the user finds
// them: by the heading painted above the column a group stands in.
class Panel : public ::testing::Test
{
protected:
    enum class Kind { Hu, Density };

    // The option group standing under the heading `side` in the row of `kind`.
    QFrame* groupUnder(const QString& side, Kind kind)
    {
        const Picture picture = classificationPicture();
        const PaintedText* heading = picture.text(side);
        const PaintedText* row =
            picture.text(kind == Kind::Hu ? QStringLiteral("HU 分型") : QStringLiteral("BI-TADS 分型"));
        if (!heading || !row)
            return nullptr;
        for (QFrame* frame : groups()) {
            const QPoint centre = frame->geometry().center();
            if (centre.x() > heading->box.left() && centre.x() < heading->box.right() &&
                centre.y() > row->box.top() && centre.y() < row->box.bottom())
                return frame;
        }
        return nullptr;
    }

    // The four option groups, Frame1(0) to Frame1(3).
    QList<QFrame*> groups() const
    {
        QList<QFrame*> out;
        for (int g = 0; g < 4; ++g)
            out << w.find<QFrame>(QStringLiteral("Frame1(%1)").arg(g));
        return out;
    }

    QList<QRadioButton*> buttons(QFrame* group) const
    {
        return group->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    }

    void choose(const QString& side, Kind kind, const QString& caption)
    {
        if (caption.isEmpty())
            return;
        QFrame* group = groupUnder(side, kind);
        ASSERT_NE(group, nullptr);
        for (QRadioButton* button : buttons(group)) {
            if (button->text() == caption) {
                QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
                ASSERT_TRUE(button->isChecked()) << caption.toStdString();
                return;
            }
        }
        FAIL() << "no button " << caption.toStdString();
    }

    void chooseRow(const Row& r)
    {
        choose(left, Kind::Hu, s(r.leftHu));
        choose(right, Kind::Hu, s(r.rightHu));
        choose(left, Kind::Density, s(r.leftDensity));
        choose(right, Kind::Density, s(r.rightDensity));
    }

    // The chosen caption of each group, in Frame1 order; empty where none is chosen.
    QStringList choices()
    {
        QStringList out;
        for (QFrame* frame : groups()) {
            QStringList chosen;
            for (QRadioButton* button : buttons(frame)) {
                if (button->isChecked())
                    chosen << button->text();
            }
            EXPECT_LE(chosen.size(), 1);
            out << chosen.join(u'|');
        }
        return out;
    }

    void click(const char* button) { w.click(QString::fromLatin1(button)); }
    QWidget* widget(const char* name) const { return w.widget(QString::fromLatin1(name)); }
    QString a6() const { return w.text(QStringLiteral("a6")); }
    void typeA6(const QString& text) { w.type(QStringLiteral("a6"), text); }

    void expectClosed()
    {
        EXPECT_FALSE(widget("Picture3")->isVisible());
        EXPECT_TRUE(widget("Picture1")->isEnabled());
        EXPECT_TRUE(widget("Picture2")->isEnabled());
        EXPECT_TRUE(widget("cmdSave")->isEnabled());
        EXPECT_TRUE(widget("Command2")->isEnabled());
    }

    WindowFixture w;
    const QString left = QStringLiteral("左侧");
    const QString right = QStringLiteral("右侧");
};

TEST_F(Panel, EachSideAndRowHasAGroupOfItsOwn)
{
    std::set<QFrame*> groups;
    for (const QString& side : {left, right}) {
        for (Kind kind : {Kind::Hu, Kind::Density}) {
            QFrame* group = groupUnder(side, kind);
            ASSERT_NE(group, nullptr);
            groups.insert(group);
            EXPECT_EQ(buttons(group).size(), kind == Kind::Hu ? 10 : 4);
        }
    }
    EXPECT_EQ(groups.size(), 4u);
}

class PanelTable : public Panel, public ::testing::WithParamInterface<Row>
{
};

TEST_P(PanelTable, ApplyWritesTheTextOfTheChosenButtonsIntoA6)
{
    typeA6(QStringLiteral("以前的文字"));
    click("Command2");
    ASSERT_TRUE(widget("Picture3")->isVisible());
    chooseRow(GetParam());
    click("Command5");
    EXPECT_EQ(a6(), s(GetParam().text));
    expectClosed();
}

INSTANTIATE_TEST_SUITE_P(Table, PanelTable, ::testing::ValuesIn(kRows));

TEST_F(Panel, WhileShownOnlyThePanelTakesInputAndItStandsAtAQuarterOfTheWindow)
{
    w.window().resize(1000, 600);
    QWidget* panel = widget("Picture3");
    const QSize size = panel->size();
    click("Command2");
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(widget("Picture1")->isEnabled());
    EXPECT_FALSE(widget("Picture2")->isEnabled());
    for (const char* report : {"a1", "Command2", "cmdSave", "b3"})
        EXPECT_FALSE(widget(report)->isEnabled()) << report;
    EXPECT_TRUE(widget("Command5")->isEnabled());
    EXPECT_TRUE(widget("Option1(0)")->isEnabled());
    const QRect outer = w.window().frameGeometry();
    EXPECT_EQ(panel->pos(), QPoint(outer.width() / 4, outer.height() / 4));
    EXPECT_EQ(panel->size(), size);

    // Its own controls are then the tab chain; each option group is one stop, at its chosen
    // button or, with none chosen, at its first.
    QApplication::setActiveWindow(&w.window());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w.window()));
    const auto chain = [](QWidget* start, int steps) {
        start->setFocus(Qt::TabFocusReason);
        QStringList names;
        for (int i = 0; i < steps; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            names << QApplication::focusWidget()->objectName();
        }
        return names.join(u' ').toStdString();
    };
    EXPECT_EQ(chain(widget("Command6"), 7),
              "Option1(0) Option2(0) Option3(0) Option4(0) Command5 Command6 Option1(0)");
    choose(left, Kind::Hu, QStringLiteral("IIB"));
    choose(right, Kind::Density, QStringLiteral("致密型"));
    EXPECT_EQ(chain(widget("Command6"), 5), "Option1(0) Option2(5) Option3(3) Option4(0) Command5");
}

TEST_F(Panel, AChoiceClearsOnlyTheOtherButtonsOfItsGroup)
{
    click("Command2");
    chooseRow({u"IIIA", u"IVB", u"脂肪型", u"致密型", u""});
    const QStringList before = choices();
    choose(right, Kind::Hu, QStringLiteral("IA"));
    const QStringList after = choices();
    int changed = 0;
    for (int g = 0; g < 4; ++g) {
        if (after[g] != before[g]) {
            ++changed;
            EXPECT_EQ(before[g], u"IVB");
            EXPECT_EQ(after[g], u"IA");
        }
    }
    EXPECT_EQ(changed, 1);
    choose(left, Kind::Density, QStringLiteral("致密型"));
    click("Command5");
    EXPECT_EQ(a6(), u"HU分型：左侧IIIA，右侧IA；BI-TADS分型：左侧致密型，右侧致密型");
}

TEST_F(Panel, CancelLeavesA6AsItWas)
{
    typeA6(QStringLiteral(" HU分型：左侧IA； 手写补充 "));
    click("Command2");
    chooseRow(kRows[5]);
    click("Command6");
    EXPECT_EQ(a6(), u" HU分型：左侧IA； 手写补充 ");
    expectClosed();
}

TEST_F(Panel, ReopeningClearsEveryChoiceWhateverA6Holds)
{
    click("Command2");
    chooseRow({u"IVC", u"IIIC", u"中量腺体型", u"少量腺体型", u""});
    EXPECT_EQ(choices().join(u','), u"IIIC,IVC,少量腺体型,中量腺体型");
    click("Command6");
    typeA6(QStringLiteral("HU分型：左侧IA；"));
    click("Command2");
    EXPECT_EQ(choices(), QStringList({{}, {}, {}, {}}));
    // Applying with nothing chosen empties a6; after applying the panel opens cleared as well.
    click("Command5");
    EXPECT_TRUE(a6().isEmpty());
    click("Command2");
    chooseRow(kRows[0]);
    click("Command5");
    click("Command2");
    EXPECT_EQ(choices(), QStringList({{}, {}, {}, {}}));
}

} // namespace
