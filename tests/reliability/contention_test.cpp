#include "support/window_fixture.h"

#include <QProcess>
#include <QPushButton>

#include <gtest/gtest.h>

#include <chrono>

using namespace korvela;
using namespace korvela::test;
using namespace std::chrono_literals;

namespace {

// Another program (another workstation, a backup) holds the database's write lock for a while.
class LockHolder
{
public:
    LockHolder(const QString& file, double seconds)
    {
        m_process.start(QStringLiteral("python3"),
                        {QStringLiteral("-c"),
                         QStringLiteral("import sqlite3, sys, time\n"
                                        "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                                        "c.execute('BEGIN IMMEDIATE')\n"
                                        "print('locked', flush=True)\n"
                                        "time.sleep(float(sys.argv[2]))\n"
                                        "c.execute('COMMIT')\n"),
                         file, QString::number(seconds)});
        EXPECT_TRUE(m_process.waitForReadyRead(10000));
    }
    ~LockHolder() { m_process.waitForFinished(30000); }

private:
    QProcess m_process;
};

void typeReport(const WindowDriver& w, const QString& number)
{
    w.type(QStringLiteral("a3"), number);
    w.type(QStringLiteral("a1"), QStringLiteral("张三"));
}

TEST(Contention, ASaveWaitsForAShortLockThenSucceeds)
{
    WindowFixture w;
    typeReport(w, QStringLiteral("A01"));
    {
        LockHolder other(w.folder.databaseFile(), 1.0);
        w.click(QStringLiteral("cmdSave"));
    }
    EXPECT_EQ(w.prompts.texts(), QStringList{QStringLiteral("保存完毕！")});
    EXPECT_EQ(w.folder.scalar(QStringLiteral("SELECT count(*) FROM A")), u"1");
}

TEST(Contention, ALockHeldPastTheTimeOutFailsTheSaveCleanly)
{
    WindowFixture w;
    typeReport(w, QStringLiteral("A01"));
    {
        LockHolder other(w.folder.databaseFile(), 7.0);
        const auto t0 = std::chrono::steady_clock::now();
        w.click(QStringLiteral("cmdSave"));
        EXPECT_GE(std::chrono::steady_clock::now() - t0, 4500ms) << "the save waits for the time-out";
    }
    ASSERT_EQ(w.prompts.shown().size(), 1u);
    EXPECT_TRUE(w.prompts.last().title.startsWith(u"数据保存/替换错误:"));
    EXPECT_TRUE(w.prompts.last().text.contains(u"占用"));
    EXPECT_EQ(w.folder.scalar(QStringLiteral("SELECT count(*) FROM A WHERE A3 = 'A01'")), u"0");
    EXPECT_TRUE(w.button(QStringLiteral("cmdSave"))->isEnabled());
    EXPECT_FALSE(w.database.inTransaction());

    // Once the other program is done, the window works as before.
    w.prompts.clear();
    w.click(QStringLiteral("cmdSave"));
    EXPECT_EQ(w.prompts.texts(), QStringList{QStringLiteral("保存完毕！")});
    EXPECT_EQ(w.folder.scalar(QStringLiteral("SELECT count(*) FROM A WHERE A3 = 'A01'")), u"1");
}

} // namespace
