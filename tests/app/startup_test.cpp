#include "support/fakes.h"
#include "support/log_capture.h"
#include "app/report_window.h"
#include "store/sqlite_database.h"
#include "store/store_choice.h"
#include "app/startup.h"
#include "support/temp_database.h"

#include <QFile>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace korvela;
using namespace korvela::test;

namespace {

// The real start routine on a temporary program folder, with the real database and window.
struct Start
{
    explicit Start(const QString& programFolder)
        : system(programFolder)
    {}

    StartOutcome run()
    {
        return startUp(
            system, prompts,
            [&] {
                databaseOpened = true;
                Result<std::unique_ptr<ReportDatabase>> opened =
                    openReportStore(system.programFolder(), std::chrono::seconds(5));
                if (!opened)
                    return opened.status();
                database = std::move(*opened);
                return Status();
            },
            [&]() -> Status {
                window = std::make_unique<ReportWindow>(ReportWindow::Services{*database, prompts, system, {}});
                if (Status loaded = window->load(); !loaded)
                    return loaded;
                window->show();
                return {};
            });
    }

    bool windowShown() const { return window && window->isVisible(); }

    FakeSystem system;
    FakePrompts prompts;
    std::unique_ptr<ReportDatabase> database;
    std::unique_ptr<ReportWindow> window;
    bool databaseOpened = false;
};

TEST(StartUp, SecondCopyIsRefusedBeforeAnythingElseEvenOnANarrowScreen)
{
    TempProgramFolder folder;
    Start start(folder.path());
    start.system.otherCopyRunning = true;
    start.system.width = 800;
    EXPECT_EQ(start.run(), StartOutcome::AlreadyRunning);
    ASSERT_EQ(start.prompts.shown().size(), 1u);
    EXPECT_EQ(start.prompts.last().text, u"系统已经运行！");
    EXPECT_EQ(start.prompts.last().title, u"KORVELA");
    EXPECT_EQ(start.prompts.last().icon, PromptIcon::None);
    EXPECT_FALSE(start.databaseOpened);
    EXPECT_FALSE(start.window);
}

TEST(StartUp, ScreenNarrowerThan1024IsRefusedWithTheThreeLineMessage)
{
    TempProgramFolder folder;
    Start narrow(folder.path());
    narrow.system.width = 1023;
    EXPECT_EQ(narrow.run(), StartOutcome::ScreenTooNarrow);
    ASSERT_EQ(narrow.prompts.shown().size(), 1u);
    EXPECT_EQ(narrow.prompts.last().text, u"你好，尊敬的用户！\n为使本系统以最佳的效果显示，屏幕分辩率不要低于1024*768！\n请重新调整！");
    EXPECT_EQ(narrow.prompts.last().icon, PromptIcon::Information);
    EXPECT_FALSE(narrow.databaseOpened);

    Start exact(folder.path());
    exact.system.width = 1024;
    ASSERT_EQ(exact.run(), StartOutcome::WindowShown);
    EXPECT_TRUE(exact.prompts.shown().empty());
    ASSERT_TRUE(exact.windowShown());
    EXPECT_EQ(exact.window->windowTitle(), u"Velmora");
}

void expectInitFailure(Start& start)
{
    EXPECT_EQ(start.run(), StartOutcome::InitFailed);
    ASSERT_EQ(start.prompts.shown().size(), 1u);
    EXPECT_EQ(start.prompts.last().text, u"数据初使化失败！");
    EXPECT_EQ(start.prompts.last().title, u"KORVELA");
    EXPECT_EQ(start.prompts.last().icon, PromptIcon::Error);
    EXPECT_FALSE(start.windowShown());
}

TEST(StartUp, MissingOrBrokenDatabaseEndsWithTheInitialisationMessage)
{
    TempProgramFolder folder;
    QFile::remove(folder.databaseFile());
    Start missing(folder.path());
    expectInitFailure(missing);
    EXPECT_FALSE(QFile::exists(folder.databaseFile())) << "the program never creates the database";

    QFile broken(folder.databaseFile());
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a database at all, just some text that is long enough to be read");
    broken.close();
    Start garbage(folder.path());
    expectInitFailure(garbage);
}

TEST(StartUp, AFileNamedDocEndsWithTheInitialisationMessage)
{
    TempProgramFolder folder;
    QFile doc(folder.path() + u"/doc");
    ASSERT_TRUE(doc.open(QIODevice::WriteOnly));
    doc.close();
    Start start(folder.path());
    expectInitFailure(start);
}

TEST(StartUp, LoadMakesTheDocFolder)
{
    TempProgramFolder folder;
    Start start(folder.path());
    ASSERT_EQ(start.run(), StartOutcome::WindowShown);
    EXPECT_TRUE(QFileInfo(folder.path() + u"/doc").isDir());
}

} // namespace

namespace {

// The user's service file, in the program folder, saying `text`.
void useServiceFile(const TempProgramFolder& folder, const char* text)
{
    QFile service(folder.path() + u"/pg_service.conf");
    ASSERT_TRUE(service.open(QIODevice::WriteOnly));
    service.write(text);
    qputenv("PGSERVICEFILE", QFile::encodeName(service.fileName()));
}

} // namespace

// The screen says only "数据初使化失败！" and the like; the log says why, for the administrator.
TEST(StartUp, EveryRefusalIsLoggedWithItsReason)
{
    struct Case
    {
        const char* name;
        std::function<void(TempProgramFolder&, Start&)> arrange;
        const char* logged;
    };
    const Case cases[] = {
        {"second copy", [](TempProgramFolder&, Start& s) { s.system.otherCopyRunning = true; }, "another copy"},
        {"narrow screen", [](TempProgramFolder&, Start& s) { s.system.width = 800; }, "800 pixels"},
        {"no database", [](TempProgramFolder& f, Start&) { QFile::remove(f.databaseFile()); },
         "korvela.start: refused: the report database did not open (code"},
        {"server not there",
         [](TempProgramFolder& f, Start&) {
             useServiceFile(f, "[korvela]\nhost=/nonexistent/socket/folder\ndbname=reports\nuser=korvela\n");
         },
         "/nonexistent/socket/folder"},
        {"service section misspelt",
         [](TempProgramFolder& f, Start&) {
             useServiceFile(f, "[korvla]\nhost=reports.example\ndbname=korvela\n");
         },
         "（其中的连接服务：[korvla]）中没有定义连接服务 [korvela]"},
        {"a store from before the history",
         [](TempProgramFolder& f, Start&) { f.exec(QStringLiteral("PRAGMA user_version = 0")); },
         "请先运行 korvela-admin upgrade"},
        {"doc is a file",
         [](TempProgramFolder& f, Start&) {
             QFile doc(f.path() + u"/doc");
             ASSERT_TRUE(doc.open(QIODevice::WriteOnly));
         },
         "无法建立 doc 文件夹"},
    };
    const QByteArray serviceFile = qgetenv("PGSERVICEFILE");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempProgramFolder folder;
        Start start(folder.path());
        c.arrange(folder, start);
        LogCapture log;
        EXPECT_NE(start.run(), StartOutcome::WindowShown);
        EXPECT_TRUE(log.text().contains(QString::fromUtf8(c.logged))) << log.text().toStdString();
        for (const QString& shown : start.prompts.texts())
            EXPECT_FALSE(shown.contains(QString::fromUtf8(c.logged))) << "the reason is for the log only";
        qputenv("PGSERVICEFILE", serviceFile);
    }
}
