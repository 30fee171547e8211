// The window's print and export buttons and the word processor's two events, with the word
// processor faked and everything else real.
#include "support/fake_word_processor.h"
#include "support/fakes.h"
#include "app/report_window.h"
#include "store/sqlite_database.h"
#include "support/temp_database.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace korvela;
using namespace korvela::test;

namespace {

class ReportWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QFile pristine(folder.path() + u"/Tmp2.Tmp");
        ASSERT_TRUE(pristine.open(QIODevice::WriteOnly));
        ASSERT_TRUE(database.open(folder.databaseFile(), std::chrono::seconds(5)).ok());
        form = std::make_unique<ReportWindow>(
            ReportWindow::Services{database, prompts, system, FakeWordProcessor::factory(script)});
        ASSERT_TRUE(form->load().ok());
        form->show();
        form->a1->setText(QStringLiteral("张三"));
        form->a3->setText(QStringLiteral("A01"));
        loadCalls = script->calls;
        script->calls.clear();
    }

    FakeWordProcessor& wordProcessor() { return static_cast<FakeWordProcessor&>(*form->app1()); }
    bool minimised() const { return form->windowState() & Qt::WindowMinimized; }

    TempProgramFolder folder;
    FakeSystem system{folder.path()};
    FakePrompts prompts;
    SqliteReportDatabase database;
    std::shared_ptr<WordProcessorScript> script = std::make_shared<WordProcessorScript>();
    std::unique_ptr<ReportWindow> form;
    QStringList loadCalls;
};

TEST_F(ReportWindow, LoadStartsTheInstanceAndSwitchesItsOptionsOff)
{
    EXPECT_EQ(loadCalls, QStringList({QStringLiteral("start"), QStringLiteral("options")}));
    EXPECT_EQ(script->instancesMade, 1);
    EXPECT_EQ(form->SaveLockFlag(), u"4");
}

TEST_F(ReportWindow, ABlankScreeningNumberPrintsAndExportsNothing)
{
    form->a3->setText(QStringLiteral("   "));
    form->Cmdprint_Click();
    form->Command7_Click();
    EXPECT_EQ(prompts.texts(),
              QStringList({QStringLiteral("没有可打印的内容！"), QStringLiteral("没有可保存的内容！")}));
    for (const Prompt& p : prompts.shown()) {
        EXPECT_EQ(p.title, u"KORVELA");
        EXPECT_EQ(p.icon, PromptIcon::Information);
    }
    EXPECT_TRUE(script->calls.isEmpty());
    EXPECT_FALSE(QFile::exists(folder.path() + u"/Tmp1.Tmp"));
}

TEST_F(ReportWindow, PrintShowsTheFilledReportAndMinimisesTheWindow)
{
    form->a1->setText(QStringLiteral("张三 "));
    form->Check2[3]->setChecked(true);
    form->Cmdprint_Click();
    EXPECT_TRUE(prompts.shown().empty());
    EXPECT_TRUE(minimised());
    EXPECT_TRUE(script->visible);
    EXPECT_TRUE(script->maximized);
    EXPECT_TRUE(wordProcessor().hasOpenDocument());
    ASSERT_EQ(script->lastFill.size(), 27u);
    EXPECT_EQ(script->lastFill[0].second, u"张三 ");
    EXPECT_EQ(script->lastFill[17].second, u"(√)");
}

TEST_F(ReportWindow, ClosingTheShownReportBringsTheWindowBack)
{
    form->Cmdprint_Click();
    script->calls.clear();
    wordProcessor().userCloses();
    EXPECT_FALSE(minimised());
    EXPECT_FALSE(wordProcessor().hasOpenDocument());
    EXPECT_FALSE(script->visible);
    // The handler closes the same document once more from inside the close; that is accepted.
    EXPECT_EQ(script->calls, QStringList({QStringLiteral("close"), QStringLiteral("beforeClose"),
                                          QStringLiteral("close again"), QStringLiteral("hide"),
                                          QStringLiteral("afterBeforeClose")}));
}

TEST_F(ReportWindow, SavesFromTheWordProcessorAreRefusedOutsideTheExport)
{
    form->Cmdprint_Click();
    EXPECT_FALSE(wordProcessor().userSaves(false));
    EXPECT_FALSE(wordProcessor().userSaves(true));
    EXPECT_TRUE(prompts.shown().empty()) << "refused silently";
}

TEST_F(ReportWindow, ExportWritesTheFileWithTheButtonDisabledMeanwhile)
{
    form->a1->setText(QStringLiteral("  张三 "));
    form->a3->setText(QStringLiteral(" A01 "));
    bool buttonDuringSave = true;
    QString flagDuringSave;
    script->duringSave = [&] {
        buttonDuringSave = form->Command7->isEnabled();
        flagDuringSave = form->SaveLockFlag();
    };
    form->Command7_Click();

    EXPECT_EQ(script->savedPath, folder.path() + u"/doc/A01（张三）.doc");
    EXPECT_EQ(script->protectedWith, u"dolmari4069152");
    EXPECT_FALSE(buttonDuringSave);
    EXPECT_EQ(flagDuringSave, u"1");
    EXPECT_EQ(form->SaveLockFlag(), u"4");
    EXPECT_TRUE(form->Command7->isEnabled());
    EXPECT_FALSE(minimised());
    EXPECT_FALSE(script->visible);
    EXPECT_FALSE(wordProcessor().hasOpenDocument());
    ASSERT_EQ(prompts.shown().size(), 1u);
    EXPECT_EQ(prompts.last().text, u"该报告文档已成功保存在doc文件夹下面！");
    EXPECT_EQ(prompts.last().icon, PromptIcon::Information);
    // The document carries the untrimmed values.
    EXPECT_EQ(script->lastFill[0].second, u"  张三 ");
}

TEST_F(ReportWindow, AFailedExportIsShownAndLeavesTheWindowAtRest)
{
    ASSERT_TRUE(QDir(folder.path()).rmdir(QStringLiteral("doc")));
    form->Command7_Click();
    ASSERT_EQ(prompts.shown().size(), 1u);
    EXPECT_EQ(prompts.last().title, u"KORVELA");
    EXPECT_EQ(prompts.last().icon, PromptIcon::Error);
    EXPECT_TRUE(prompts.last().text.startsWith(u"报告文档未能保存"));
    EXPECT_EQ(form->SaveLockFlag(), u"4");
    EXPECT_TRUE(form->Command7->isEnabled());
    EXPECT_FALSE(minimised());
}

TEST_F(ReportWindow, AFailedPrintIsShownAndLeavesTheWindowAtRest)
{
    for (const char* step : {"open", "maximize"}) {
        SCOPED_TRACE(step);
        prompts.clear();
        script->failOn.clear();
        script->failOn[QString::fromLatin1(step)] = Failure{23, QStringLiteral("LibreOffice 无法打开")};
        form->Cmdprint_Click();
        ASSERT_EQ(prompts.shown().size(), 1u);
        EXPECT_EQ(prompts.last().title, u"KORVELA");
        EXPECT_EQ(prompts.last().icon, PromptIcon::Error);
        EXPECT_TRUE(prompts.last().text.contains(QStringLiteral("LibreOffice 无法打开")));
        EXPECT_FALSE(minimised());
        EXPECT_FALSE(wordProcessor().hasOpenDocument());
    }
    // A missing template is said plainly.
    prompts.clear();
    script->failOn.clear();
    QFile::remove(folder.path() + u"/Tmp2.Tmp");
    QFile::remove(folder.path() + u"/Tmp1.Tmp");
    form->Cmdprint_Click();
    ASSERT_EQ(prompts.shown().size(), 1u);
    EXPECT_TRUE(prompts.last().text.contains(QStringLiteral("找不到报告模板")));
}

TEST_F(ReportWindow, PrintingAgainClosesThePreviousReportFirst)
{
    form->Cmdprint_Click();
    script->calls.clear();
    form->a1->setText(QStringLiteral("李四"));
    form->Cmdprint_Click();
    ASSERT_FALSE(script->calls.isEmpty());
    EXPECT_EQ(script->calls.first(), u"close");
    EXPECT_EQ(script->lastFill[0].second, u"李四");
    EXPECT_TRUE(minimised());
    EXPECT_TRUE(wordProcessor().hasOpenDocument());
}

TEST_F(ReportWindow, AWordProcessorTheUserEndedIsReplacedAtTheNextPrintOrExport)
{
    wordProcessor().kill();
    form->Cmdprint_Click();
    EXPECT_TRUE(prompts.shown().empty());
    EXPECT_EQ(script->instancesMade, 2);
    EXPECT_TRUE(wordProcessor().hasOpenDocument());

    wordProcessor().kill();
    form->Command7_Click();
    EXPECT_EQ(script->instancesMade, 3);
    EXPECT_EQ(prompts.texts(), QStringList{QStringLiteral("该报告文档已成功保存在doc文件夹下面！")});
}

TEST_F(ReportWindow, UnloadClosesTheReportThenQuits)
{
    form->Cmdprint_Click();
    script->calls.clear();
    form->close();
    ASSERT_GE(script->calls.size(), 2);
    EXPECT_EQ(script->calls.first(), u"close");
    EXPECT_EQ(script->calls.back(), u"quit");
    EXPECT_TRUE(system.ended);
}

TEST_F(ReportWindow, UnloadEndsTheProgramEvenWhenTheWordProcessorIsGone)
{
    script->failOn[QStringLiteral("close")] = Failure{22, QStringLiteral("已经结束")};
    script->failOn[QStringLiteral("quit")] = Failure{22, QStringLiteral("已经结束")};
    form->Cmdprint_Click();
    wordProcessor().kill();
    form->close();
    EXPECT_TRUE(system.ended);
    EXPECT_EQ(system.openedUrls.size(), 1);
}

} // namespace
