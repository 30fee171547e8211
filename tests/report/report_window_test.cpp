// The window's print and export buttons and the word processor's two events, with the word
// processor faked and everything else real.
#include "support/fake_word_processor.h"
#include "support/window_fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QUrl>
#include <gtest/gtest.h>

using namespace korvela;
using namespace korvela::test;

namespace {

class ReportWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QFile pristine(w.folder.path() + u"/Tmp2.Tmp");
        ASSERT_TRUE(pristine.open(QIODevice::WriteOnly));
        ASSERT_NE(latest, nullptr) << "the window made no word processor at load";
        w.type(QStringLiteral("a1"), QStringLiteral("张三"));
        w.type(QStringLiteral("a3"), QStringLiteral("A01"));
        loadCalls = script->calls;
        script->calls.clear();
    }

    // The instance the window made last: the one it works with.
    FakeWordProcessor& wordProcessor() { return *latest; }
    bool minimised() const { return w.window().windowState() & Qt::WindowMinimized; }
    // A save the user starts in the word processor's own window, as the window answers it.
    bool userSaveGoesThrough() { return wordProcessor().userSaves(false) && wordProcessor().userSaves(true); }
    bool userSaveRefused() { return !wordProcessor().userSaves(false) && !wordProcessor().userSaves(true); }

    std::shared_ptr<WordProcessorScript> script = std::make_shared<WordProcessorScript>();
    FakeWordProcessor* latest = nullptr;
    WindowFixture w{[this]() -> std::unique_ptr<WordProcessor> {
        auto made = std::make_unique<FakeWordProcessor>(script);
        latest = made.get();
        return made;
    }};
    FakePrompts& prompts = w.prompts;
    FakeSystem& system = w.system;
    QStringList loadCalls;
};

TEST_F(ReportWindow, LoadStartsTheInstanceAndSwitchesItsOptionsOff)
{
    EXPECT_EQ(loadCalls, QStringList({QStringLiteral("start"), QStringLiteral("options")}));
    EXPECT_EQ(script->instancesMade, 1);
    EXPECT_TRUE(userSaveRefused()) << "saves are locked from the load on";
}

TEST_F(ReportWindow, ABlankScreeningNumberPrintsAndExportsNothing)
{
    w.type(QStringLiteral("a3"), QStringLiteral("   "));
    w.click(QStringLiteral("Cmdprint"));
    w.click(QStringLiteral("Command7"));
    EXPECT_EQ(prompts.texts(),
              QStringList({QStringLiteral("没有可打印的内容！"), QStringLiteral("没有可保存的内容！")}));
    for (const Prompt& p : prompts.shown()) {
        EXPECT_EQ(p.title, u"KORVELA");
        EXPECT_EQ(p.icon, PromptIcon::Information);
    }
    EXPECT_TRUE(script->calls.isEmpty());
    EXPECT_FALSE(QFile::exists(w.folder.path() + u"/Tmp1.Tmp"));
}

TEST_F(ReportWindow, PrintShowsTheFilledReportAndMinimisesTheWindow)
{
    w.type(QStringLiteral("a1"), QStringLiteral("张三 "));
    w.option(3)->setChecked(true);
    w.click(QStringLiteral("Cmdprint"));
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
    w.click(QStringLiteral("Cmdprint"));
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
    w.click(QStringLiteral("Cmdprint"));
    EXPECT_FALSE(wordProcessor().userSaves(false));
    EXPECT_FALSE(wordProcessor().userSaves(true));
    EXPECT_TRUE(prompts.shown().empty()) << "refused silently";
}

TEST_F(ReportWindow, ExportWritesTheFileWithTheButtonDisabledMeanwhile)
{
    w.type(QStringLiteral("a1"), QStringLiteral("  张三 "));
    w.type(QStringLiteral("a3"), QStringLiteral(" A01 "));
    bool buttonDuringSave = true;
    bool savesOpenDuringSave = false;
    script->duringSave = [&] {
        buttonDuringSave = w.button(QStringLiteral("Command7"))->isEnabled();
        savesOpenDuringSave = userSaveGoesThrough();
    };
    ASSERT_TRUE(userSaveRefused());
    w.click(QStringLiteral("Command7"));

    // The export's own save went through, and only within it were saves let through.
    EXPECT_EQ(script->savedPath, w.folder.path() + u"/doc/A01（张三）.doc");
    EXPECT_EQ(script->protectedWith, u"dolmari4069152");
    EXPECT_FALSE(buttonDuringSave);
    EXPECT_TRUE(savesOpenDuringSave);
    EXPECT_TRUE(userSaveRefused());
    EXPECT_TRUE(w.button(QStringLiteral("Command7"))->isEnabled());
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
    ASSERT_TRUE(QDir(w.folder.path()).rmdir(QStringLiteral("doc")));
    w.click(QStringLiteral("Command7"));
    ASSERT_EQ(prompts.shown().size(), 1u);
    EXPECT_EQ(prompts.last().title, u"KORVELA");
    EXPECT_EQ(prompts.last().icon, PromptIcon::Error);
    EXPECT_TRUE(prompts.last().text.startsWith(u"报告文档未能保存"));
    EXPECT_TRUE(userSaveRefused());
    EXPECT_TRUE(w.button(QStringLiteral("Command7"))->isEnabled());
    EXPECT_FALSE(minimised());
}

TEST_F(ReportWindow, AFailedPrintIsShownAndLeavesTheWindowAtRest)
{
    for (const char* step : {"open", "maximize"}) {
        SCOPED_TRACE(step);
        prompts.clear();
        script->failOn.clear();
        script->failOn[QString::fromLatin1(step)] = Failure{23, QStringLiteral("LibreOffice 无法打开")};
        w.click(QStringLiteral("Cmdprint"));
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
    QFile::remove(w.folder.path() + u"/Tmp2.Tmp");
    QFile::remove(w.folder.path() + u"/Tmp1.Tmp");
    w.click(QStringLiteral("Cmdprint"));
    ASSERT_EQ(prompts.shown().size(), 1u);
    EXPECT_TRUE(prompts.last().text.contains(QStringLiteral("找不到报告模板")));
}

TEST_F(ReportWindow, PrintingAgainClosesThePreviousReportFirst)
{
    w.click(QStringLiteral("Cmdprint"));
    script->calls.clear();
    w.type(QStringLiteral("a1"), QStringLiteral("李四"));
    w.click(QStringLiteral("Cmdprint"));
    ASSERT_FALSE(script->calls.isEmpty());
    EXPECT_EQ(script->calls.first(), u"close");
    EXPECT_EQ(script->lastFill[0].second, u"李四");
    EXPECT_TRUE(minimised());
    EXPECT_TRUE(wordProcessor().hasOpenDocument());
}

TEST_F(ReportWindow, AWordProcessorTheUserEndedIsReplacedAtTheNextPrintOrExport)
{
    wordProcessor().kill();
    w.click(QStringLiteral("Cmdprint"));
    EXPECT_TRUE(prompts.shown().empty());
    EXPECT_EQ(script->instancesMade, 2);
    EXPECT_TRUE(wordProcessor().hasOpenDocument());

    wordProcessor().kill();
    w.click(QStringLiteral("Command7"));
    EXPECT_EQ(script->instancesMade, 3);
    EXPECT_EQ(prompts.texts(), QStringList{QStringLiteral("该报告文档已成功保存在doc文件夹下面！")});
}

TEST_F(ReportWindow, UnloadClosesTheReportThenQuits)
{
    w.click(QStringLiteral("Cmdprint"));
    script->calls.clear();
    w.window().close();
    ASSERT_GE(script->calls.size(), 2);
    EXPECT_EQ(script->calls.first(), u"close");
    EXPECT_EQ(script->calls.back(), u"quit");
    EXPECT_TRUE(system.ended);
}

TEST_F(ReportWindow, UnloadEndsTheProgramEvenWhenTheWordProcessorIsGone)
{
    script->failOn[QStringLiteral("close")] = Failure{22, QStringLiteral("已经结束")};
    script->failOn[QStringLiteral("quit")] = Failure{22, QStringLiteral("已经结束")};
    // The page about the program, as setup installs it, still opens at the end.
    const QString aboutPage = w.folder.path() + u"/about.html";
    QFile about(aboutPage);
    ASSERT_TRUE(about.open(QIODevice::WriteOnly));
    about.close();
    w.click(QStringLiteral("Cmdprint"));
    wordProcessor().kill();
    w.window().close();
    EXPECT_TRUE(system.ended);
    EXPECT_EQ(system.openedUrls, QStringList{QUrl::fromLocalFile(aboutPage).toString()});
}

} // namespace
