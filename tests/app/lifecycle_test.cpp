#include "app/date_picker.h"
#include "support/window_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace korvela;
using namespace korvela::test;

namespace {

QStringList items(const QComboBox* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

TEST(Lifecycle, LoadFillsTheListsAndEmptiesTheReport)
{
    WindowFixture w;
    QStringList ages;
    for (int n = 1; n <= 100; ++n)
        ages << QString::number(n);
    EXPECT_EQ(items(w->a2), ages);
    const QStringList grades = {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                                QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6")};
    for (QComboBox* grade : {w->a7, w->a8, w->a9, w->a10}) {
        EXPECT_EQ(items(grade), grades);
        EXPECT_TRUE(grade->currentText().isEmpty());
    }
    EXPECT_TRUE(w->a2->currentText().isEmpty());
    for (QLineEdit* field : {w->a1, w->a3, w->a4, w->a5, w->a6, w->a11, w->a12, w->a14})
        EXPECT_TRUE(field->text().isEmpty());
    EXPECT_EQ(w->a13->value(), QDate::currentDate());
    for (QCheckBox* option : w->Check2)
        EXPECT_FALSE(option->isChecked());
    EXPECT_FALSE(w->Label3[0]->text().isEmpty());
    EXPECT_EQ(w->SaveLockFlag(), u"4");
    EXPECT_FALSE(w->Command3->isEnabled());
    EXPECT_FALSE(w->Command4->isEnabled());
}

TEST(Lifecycle, EscAsksWhereverTheFocusIsAndNoChangesNothing)
{
    WindowFixture w;
    w->a1->setText(QStringLiteral("张三"));
    w.prompts.answer(PromptAnswer::No);
    QTest::keyClick(w->a5, Qt::Key_Escape);
    ASSERT_EQ(w.prompts.shown().size(), 1u);
    EXPECT_EQ(w.prompts.last().text, u"是否退出病人信息模块？");
    EXPECT_EQ(w.prompts.last().icon, PromptIcon::None);
    EXPECT_EQ(w.prompts.last().buttons, PromptButtons::YesNo);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->a1->text(), u"张三");
    EXPECT_FALSE(w.system.ended);
    EXPECT_TRUE(w.database.isOpen());

    w.prompts.answer(PromptAnswer::Yes);
    QTest::keyClick(w->b13, Qt::Key_Escape);
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(w.system.ended);
    EXPECT_FALSE(w.database.isOpen());
    EXPECT_EQ(w.system.openedUrls.size(), 1);
}

TEST(Lifecycle, OtherKeysAreLeftToTheControls)
{
    WindowFixture w;
    QTest::keyClicks(w->a1, QStringLiteral("ab"));
    QTest::keyClick(w->a1, Qt::Key_Return);
    EXPECT_EQ(w->a1->text(), u"ab");
    EXPECT_TRUE(w.prompts.shown().empty());
}

TEST(Lifecycle, CloseButtonAndCloseBoxUnloadWithoutAQuestion)
{
    {
        WindowFixture w;
        QTest::mouseClick(w->cmdclose, Qt::LeftButton);
        EXPECT_TRUE(w.prompts.shown().empty());
        EXPECT_TRUE(w.system.ended);
        EXPECT_FALSE(w.database.isOpen());
        EXPECT_EQ(w->cursor().shape(), Qt::WaitCursor);
    }
    {
        WindowFixture w;
        w->close();
        EXPECT_TRUE(w.prompts.shown().empty());
        EXPECT_TRUE(w.system.ended);
        EXPECT_EQ(w.system.openedUrls.size(), 1);
    }
}

// Steps that find nothing to release, or fail, do not keep the program from ending.
TEST(Lifecycle, UnloadEndsTheProgramWhenEarlierStepsHaveNothingToDo)
{
    WindowFixture w;
    w->SearchResults().close();
    w.database.close(); // already gone, e.g. a failed connection
    w->close();
    EXPECT_TRUE(w.system.ended);
    EXPECT_EQ(w.system.openedUrls.size(), 1);
}

} // namespace
