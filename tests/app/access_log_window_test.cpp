// What the report window records in the access log, driven by its controls' names on a real store
// of each kind, the word processor faked.
#include "records/access_rows.h"
#include "support/fake_word_processor.h"
#include "support/log_capture.h"
#include "support/wait_until.h"
#include "support/window_fixture.h"
#include "widgets/date_picker.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <signal.h>

using namespace korvela;
using namespace korvela::test;

namespace {

class AccessLogWindow : public ::testing::TestWithParam<StoreKind>
{
protected:
    AccessLogWindow()
    {
        QFile pristine(w.folder.path() + u"/Tmp2.Tmp");
        EXPECT_TRUE(pristine.open(QIODevice::WriteOnly));
    }

    void saveReport(const QString& number, const QString& name, QDate date)
    {
        w.type(QStringLiteral("a3"), number);
        w.type(QStringLiteral("a1"), name);
        w.type(QStringLiteral("a14"), QStringLiteral("王建国"));
        w.datePicker()->setValue(date);
        w.click(QStringLiteral("cmdSave"));
        ASSERT_EQ(w.prompts.last().text, u"保存完毕！");
        w.prompts.clear();
    }
    void saveThreeReports()
    {
        saveReport(QStringLiteral("SC-001"), QStringLiteral("张丽"), {2024, 3, 1});
        saveReport(QStringLiteral("SC-002"), QStringLiteral("张小花"), {2024, 3, 10});
        saveReport(QStringLiteral("SC-003"), QStringLiteral("张三丰"), {2024, 3, 20});
        w.click(QStringLiteral("cmdAdd"));
    }
    QString id(const char* number)
    {
        return w.store.scalar(
            QStringLiteral("SELECT rowid FROM A WHERE A3 = '%1'").arg(QLatin1String(number)));
    }
    QString logCount() { return w.store.scalar(QStringLiteral("SELECT count(*) FROM access_log")); }
    // Whether another connection sees `n` rows in the log within the flush interval and a margin:
    // what it sees survives a kill of the program.
    bool logged(int n)
    {
        return waitUntil([&] { return logCount() == QString::number(n); }, 3500);
    }
    QStringList rows() { return accessRows(w.database); }

    std::shared_ptr<WordProcessorScript> script = std::make_shared<WordProcessorScript>();
    WindowFixture w{FakeWordProcessor::factory(script), GetParam()};
};

TEST_P(AccessLogWindow, ASessionLeavesExactlyItsAccessesWithinTheFlushInterval)
{
    saveThreeReports();
    w.search({}, QStringLiteral(" 张"));
    ASSERT_EQ(w.text(QStringLiteral("a3")), u"SC-003");
    w.click(QStringLiteral("Command4"));
    w.click(QStringLiteral("Command3"));
    w.click(QStringLiteral("Command7"));
    w.click(QStringLiteral("Cmdprint"));
    ASSERT_EQ(w.prompts.texts(), QStringList{QStringLiteral("该报告文档已成功保存在doc文件夹下面！")});

    ASSERT_TRUE(logged(6)) << "seen by another connection: " << logCount().toStdString();
    EXPECT_EQ(
        rows(),
        QStringList({QStringLiteral("查询|-|-|姓名=张*; 共 3 条"), u"查看|" + id("SC-003") + u"|SC-003|-",
                     u"查看|" + id("SC-002") + u"|SC-002|-", u"查看|" + id("SC-003") + u"|SC-003|-",
                     u"导出|" + id("SC-003") + u"|SC-003|SC-003（张三丰）.doc",
                     u"打印|" + id("SC-003") + u"|SC-003|-"}));
}

TEST_P(AccessLogWindow, EachSearchIsRecordedWithTheBoxesAsGivenAndTheCount)
{
    saveThreeReports();
    struct Case
    {
        QString b3, b1, b14, b13, b113;
    };
    for (const Case& c :
         {Case{QStringLiteral("sc-"), {}, {}, {}, {}}, Case{{}, {}, QStringLiteral("王建国 "), {}, {}},
          Case{{}, {}, {}, QStringLiteral(" 2024年3月1日"), QStringLiteral("2024/3/10")},
          Case{QStringLiteral("SC"), QStringLiteral("小张"), {}, {}, {}}, Case{},
          Case{{}, {}, {}, QStringLiteral("2024-02-30"), {}}})
        w.search(c.b3, c.b1, c.b14, c.b13, c.b113);
    ASSERT_EQ(w.prompts.shown().size(), 1u) << "the unreadable date is explained, and not searched";

    ASSERT_TRUE(logged(5 + 4)) << logCount().toStdString();
    EXPECT_EQ(rows().filter(QRegularExpression(QStringLiteral("^查询"))),
              QStringList({QStringLiteral("查询|-|-|筛查编号=sc-*; 共 3 条"),
                           QStringLiteral("查询|-|-|主检医师=王建国*; 共 3 条"),
                           QStringLiteral("查询|-|-|日期从=2024年3月1日; 日期到=2024/3/10; 共 2 条"),
                           QStringLiteral("查询|-|-|筛查编号=SC*; 姓名=小张*; 共 0 条"),
                           QStringLiteral("查询|-|-|共 3 条")}));
}

TEST_P(AccessLogWindow, PrintAndExportNameTheShownReportOnlyWhileTheFieldsHoldItsNumber)
{
    saveThreeReports();
    const QString shown = id("SC-001");
    w.search(QStringLiteral("SC-001"));
    w.type(QStringLiteral("a3"), QStringLiteral(" sc-001"));
    w.click(QStringLiteral("Cmdprint"));
    w.type(QStringLiteral("a3"), QStringLiteral("SC-999"));
    w.click(QStringLiteral("Command7"));
    // The shown report left each way, then its number typed again.
    const std::function<void()> leave[] = {
        [&] { w.click(QStringLiteral("cmdAdd")); },
        [&] { w.search(QStringLiteral("无此号")); },
        [&] {
            w.prompts.answer(PromptAnswer::Yes);
            w.click(QStringLiteral("cmddel"));
        },
    };
    for (const auto& leaveIt : leave) {
        w.search(QStringLiteral("SC-001"));
        leaveIt();
        w.type(QStringLiteral("a3"), QStringLiteral("SC-001"));
        w.type(QStringLiteral("a1"), QStringLiteral("张丽"));
        w.click(QStringLiteral("Cmdprint"));
    }
    EXPECT_EQ(w.prompts.last().text, u"删除完毕!");

    ASSERT_TRUE(logged(14)) << logCount().toStdString();
    EXPECT_EQ(rows().filter(QRegularExpression(QStringLiteral("^(打印|导出)"))),
              QStringList({u"打印|" + shown + u"|SC-001|-", QStringLiteral("导出|-|-|SC-999（张丽）.doc"),
                           QStringLiteral("打印|-|-|-"), QStringLiteral("打印|-|-|-"),
                           QStringLiteral("打印|-|-|-")}));
}

TEST_P(AccessLogWindow, WhatIsQueuedWhenTheWindowClosesIsWritten)
{
    saveThreeReports();
    w.search(QStringLiteral("SC-002"));
    w.window().close();
    EXPECT_EQ(logCount(), u"2");
    EXPECT_EQ(w.store.scalar(QStringLiteral("SELECT number FROM access_log WHERE event = '查看'")),
              u"SC-002");
}

// The overwrite question keeps the save's transaction open while the window's timers run.
TEST_P(AccessLogWindow, NoAccessIsWrittenWhileASaveWaitsForItsQuestion)
{
    saveThreeReports();
    w.search(QStringLiteral("SC-002"));
    std::optional<QString> loggedDuringQuestion;
    w.prompts.whileAsked = [&](const Prompt&) {
        waitUntil([] { return false; }, 2500);
        loggedDuringQuestion = logCount();
    };
    w.prompts.answer(PromptAnswer::Yes);
    w.type(QStringLiteral("a4"), QStringLiteral("改过"));
    w.click(QStringLiteral("cmdSave"));
    EXPECT_EQ(loggedDuringQuestion, u"0");
    EXPECT_EQ(w.prompts.last().text, u"保存完毕！");
    EXPECT_EQ(w.store.scalar(QStringLiteral("SELECT A4 FROM A WHERE A3 = 'SC-002'")), u"改过");
    EXPECT_TRUE(logged(2)) << logCount().toStdString();
}

TEST_P(AccessLogWindow, AWriteThatFailsIsLoggedOnceNotShownAndTheAccessesAreWrittenLater)
{
    saveThreeReports();
    const LogCapture log;
    w.store.exec(QStringLiteral("ALTER TABLE access_log RENAME TO access_log_away"));
    w.search(QStringLiteral("SC-003"));
    waitUntil([] { return false; }, 4500); // two tries
    w.store.exec(QStringLiteral("ALTER TABLE access_log_away RENAME TO access_log"));
    EXPECT_TRUE(w.prompts.shown().empty());
    EXPECT_EQ(log.lines().filter(QStringLiteral("korvela.store: access log not written")).size(), 1)
        << log.text().toStdString();
    ASSERT_TRUE(logged(2)) << logCount().toStdString();
    EXPECT_EQ(rows(), QStringList({QStringLiteral("查询|-|-|筛查编号=SC-003*; 共 1 条"),
                                   u"查看|" + id("SC-003") + u"|SC-003|-"}));
}

using AccessLogKill = ::testing::TestWithParam<StoreKind>;

// The window's program killed a little after the interval, never closed.
TEST_P(AccessLogKill, AKillAfterTheFlushIntervalLosesNothing)
{
    TestStore store{GetParam()};
    store.exec(QStringLiteral("INSERT INTO A (A1, A3, A13) VALUES ('张三', 'K-1', '2024-01-02')"));
    QProcess session;
    session.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    session.start(QStringLiteral(ACCESS_SESSION_PATH), {store.folder().path(), QStringLiteral("K-1")});
    ASSERT_TRUE(waitUntil([&] { return session.canReadLine() || session.state() == QProcess::NotRunning; }));
    ASSERT_EQ(session.readLine(), "searched\n");
    QThread::msleep(3000);
    ASSERT_EQ(session.state(), QProcess::Running);
    ::kill(pid_t(session.processId()), SIGKILL);
    session.waitForFinished();
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT count(*) FROM access_log")), u"2");
}

KORVELA_ON_BOTH_STORES(AccessLogWindow);
KORVELA_ON_BOTH_STORES(AccessLogKill);

} // namespace
