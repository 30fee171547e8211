#include "classification/classification_text.h"
#include "app/pictures.h"
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
        for (QFrame* frame : w->Frame1) {
            const QPoint centre = frame->geometry().center();
            if (centre.x() > heading->box.left() && centre.x() < heading->box.right() &&
                centre.y() > row->box.top() && centre.y() < row->box.bottom())
                return frame;
        }
        return nullptr;
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
        for (QFrame* frame : w->Frame1) {
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

    void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    void expectClosed()
    {
        EXPECT_FALSE(w->Picture3->isVisible());
        EXPECT_TRUE(w->Picture1->isEnabled());
        EXPECT_TRUE(w->Picture2->isEnabled());
        EXPECT_TRUE(w->cmdSave->isEnabled());
        EXPECT_TRUE(w->Command2->isEnabled());
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
    w->a6->setText(QStringLiteral("以前的文字"));
    click(w->Command2);
    ASSERT_TRUE(w->Picture3->isVisible());
    chooseRow(GetParam());
    click(w->Command5);
    EXPECT_EQ(w->a6->text(), s(GetParam().text));
    expectClosed();
}

INSTANTIATE_TEST_SUITE_P(Table, PanelTable, ::testing::ValuesIn(kRows));

TEST_F(Panel, WhileShownOnlyThePanelTakesInputAndItStandsAtAQuarterOfTheWindow)
{
    w->resize(1000, 600);
    const QSize size = w->Picture3->size();
    click(w->Command2);
    EXPECT_TRUE(w->Picture3->isVisible());
    EXPECT_FALSE(w->Picture1->isEnabled());
    EXPECT_FALSE(w->Picture2->isEnabled());
    for (QWidget* report : {static_cast<QWidget*>(w->a1), static_cast<QWidget*>(w->Command2),
                            static_cast<QWidget*>(w->cmdSave), static_cast<QWidget*>(w->b3)})
        EXPECT_FALSE(report->isEnabled());
    EXPECT_TRUE(w->Command5->isEnabled());
    EXPECT_TRUE(w->Option1[0]->isEnabled());
    const QRect outer = w->frameGeometry();
    EXPECT_EQ(w->Picture3->pos(), QPoint(outer.width() / 4, outer.height() / 4));
    EXPECT_EQ(w->Picture3->size(), size);

    // Its own controls are then the tab chain; each option group is one stop, at its chosen
    // button or, with none chosen, at its first.
    QApplication::setActiveWindow(&w.form());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w.form()));
    const auto chain = [](QWidget* start, int steps) {
        start->setFocus(Qt::TabFocusReason);
        QStringList names;
        for (int i = 0; i < steps; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            names << QApplication::focusWidget()->objectName();
        }
        return names.join(u' ').toStdString();
    };
    EXPECT_EQ(chain(w->Command6, 7),
              "Option1(0) Option2(0) Option3(0) Option4(0) Command5 Command6 Option1(0)");
    choose(left, Kind::Hu, QStringLiteral("IIB"));
    choose(right, Kind::Density, QStringLiteral("致密型"));
    EXPECT_EQ(chain(w->Command6, 5), "Option1(0) Option2(5) Option3(3) Option4(0) Command5");
}

TEST_F(Panel, AChoiceClearsOnlyTheOtherButtonsOfItsGroup)
{
    click(w->Command2);
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
    click(w->Command5);
    EXPECT_EQ(w->a6->text(), u"HU分型：左侧IIIA，右侧IA；BI-TADS分型：左侧致密型，右侧致密型");
}

TEST_F(Panel, CancelLeavesA6AsItWas)
{
    w->a6->setText(QStringLiteral(" HU分型：左侧IA； 手写补充 "));
    click(w->Command2);
    chooseRow(kRows[5]);
    click(w->Command6);
    EXPECT_EQ(w->a6->text(), u" HU分型：左侧IA； 手写补充 ");
    expectClosed();
}

TEST_F(Panel, ReopeningClearsEveryChoiceWhateverA6Holds)
{
    click(w->Command2);
    chooseRow({u"IVC", u"IIIC", u"中量腺体型", u"少量腺体型", u""});
    EXPECT_EQ(choices().join(u','), u"IIIC,IVC,少量腺体型,中量腺体型");
    click(w->Command6);
    w->a6->setText(QStringLiteral("HU分型：左侧IA；"));
    click(w->Command2);
    EXPECT_EQ(choices(), QStringList({{}, {}, {}, {}}));
    // Applying with nothing chosen empties a6; after applying the panel opens cleared as well.
    click(w->Command5);
    EXPECT_TRUE(w->a6->text().isEmpty());
    click(w->Command2);
    chooseRow(kRows[0]);
    click(w->Command5);
    click(w->Command2);
    EXPECT_EQ(choices(), QStringList({{}, {}, {}, {}}));
}

} // namespace
