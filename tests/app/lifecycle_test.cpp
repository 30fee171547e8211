#include "support/fake_word_processor.h"
#include "support/window_fixture.h"
#include "widgets/date_picker.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

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
    auto script = std::make_shared<WordProcessorScript>();
    FakeWordProcessor* office = nullptr;
    WindowFixture w([&]() -> std::unique_ptr<WordProcessor> {
        auto made = std::make_unique<FakeWordProcessor>(script);
        office = made.get();
        return made;
    });
    QStringList ages;
    for (int n = 1; n <= 100; ++n)
        ages << QString::number(n);
    EXPECT_EQ(items(w.comboBox(QStringLiteral("a2"))), ages);
    const QStringList grades = {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                                QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6")};
    for (const char* name : {"a7", "a8", "a9", "a10"}) {
        const QComboBox* grade = w.comboBox(QString::fromLatin1(name));
        EXPECT_EQ(items(grade), grades) << name;
        EXPECT_TRUE(grade->currentText().isEmpty()) << name;
    }
    EXPECT_TRUE(w.text(QStringLiteral("a2")).isEmpty());
    for (const char* name : {"a1", "a3", "a4", "a5", "a6", "a11", "a12", "a14"})
        EXPECT_TRUE(w.text(QString::fromLatin1(name)).isEmpty()) << name;
    EXPECT_EQ(w.datePicker()->value(), QDate::currentDate());
    for (int i = 0; i < 13; ++i)
        EXPECT_FALSE(w.option(i)->isChecked()) << i;
    EXPECT_FALSE(w.text(QStringLiteral("Label3(0)")).isEmpty());
    // The save lock starts locked: a save the user starts in the word processor is refused.
    ASSERT_NE(office, nullptr);
    EXPECT_FALSE(office->userSaves(false));
    EXPECT_FALSE(w.button(QStringLiteral("Command3"))->isEnabled());
    EXPECT_FALSE(w.button(QStringLiteral("Command4"))->isEnabled());
}

TEST(Lifecycle, EscAsksWhereverTheFocusIsAndNoChangesNothing)
{
    WindowFixture w;
    w.type(QStringLiteral("a1"), QStringLiteral("张三"));
    w.prompts.answer(PromptAnswer::No);
    QTest::keyClick(w.widget(QStringLiteral("a5")), Qt::Key_Escape);
    ASSERT_EQ(w.prompts.shown().size(), 1u);
    EXPECT_EQ(w.prompts.last().text, u"是否退出病人信息模块？");
    EXPECT_EQ(w.prompts.last().icon, PromptIcon::None);
    EXPECT_EQ(w.prompts.last().buttons, PromptButtons::YesNo);
    EXPECT_TRUE(w.window().isVisible());
    EXPECT_EQ(w.text(QStringLiteral("a1")), u"张三");
    EXPECT_FALSE(w.system.ended);
    EXPECT_TRUE(w.database.isOpen());

    w.prompts.answer(PromptAnswer::Yes);
    QTest::keyClick(w.widget(QStringLiteral("b13")), Qt::Key_Escape);
    EXPECT_FALSE(w.window().isVisible());
    EXPECT_TRUE(w.system.ended);
    EXPECT_FALSE(w.database.isOpen());
    EXPECT_EQ(w.system.openedUrls.size(), 1);
}

TEST(Lifecycle, OtherKeysAreLeftToTheControls)
{
    WindowFixture w;
    QWidget* name = w.widget(QStringLiteral("a1"));
    QTest::keyClicks(name, QStringLiteral("ab"));
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(w.text(QStringLiteral("a1")), u"ab");
    EXPECT_TRUE(w.prompts.shown().empty());
}

TEST(Lifecycle, CloseButtonAndCloseBoxUnloadWithoutAQuestion)
{
    {
        WindowFixture w;
        w.click(QStringLiteral("cmdclose"));
        EXPECT_TRUE(w.prompts.shown().empty());
        EXPECT_TRUE(w.system.ended);
        EXPECT_FALSE(w.database.isOpen());
        EXPECT_EQ(w.window().cursor().shape(), Qt::WaitCursor);
    }
    {
        WindowFixture w;
        w.window().close();
        EXPECT_TRUE(w.prompts.shown().empty());
        EXPECT_TRUE(w.system.ended);
        EXPECT_EQ(w.system.openedUrls.size(), 1);
    }
}

// Steps that find nothing to release, or fail, do not keep the program from ending.
TEST(Lifecycle, UnloadEndsTheProgramWhenEarlierStepsHaveNothingToDo)
{
    WindowFixture w;    // no search ran: there are no found rows to close
    w.database.close(); // already gone, e.g. a failed connection
    w.window().close();
    EXPECT_TRUE(w.system.ended);
    EXPECT_EQ(w.system.openedUrls.size(), 1);
}

} // namespace
