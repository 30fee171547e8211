#include "support/temp_database.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <set>

namespace {

// A program saving reports is killed with SIGKILL at random moments. Every save it reported as
// done must be in the table, whole, and the file must stay sound.
TEST(CrashSafety, EverySaveReportedDoneSurvivesSigkill)
{
    korvela::test::TempProgramFolder folder;
    std::set<int> promised;
    int next = 0;
    for (int round = 0; round < 24; ++round) {
        QProcess child;
        child.start(QStringLiteral(SAVE_LOOP_PATH), {folder.databaseFile(), QString::number(next)});
        ASSERT_TRUE(child.waitForStarted());
        QThread::msleep(30 + QRandomGenerator::global()->bounded(250));
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished();
        const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
        for (const QByteArray& line : lines) {
            if (line.startsWith("saved ")) {
                const int n = line.mid(6).toInt();
                promised.insert(n);
                next = std::max(next, n + 1);
            }
        }
        next += 1000; // the killed save, if any, used a number of its own
    }
    ASSERT_GT(promised.size(), 20u) << "the saves must have run";

    EXPECT_EQ(folder.scalar(QStringLiteral("PRAGMA integrity_check")), u"ok");
    for (int n : promised) {
        const QString where = QStringLiteral(" FROM A WHERE A3 = 'K%1'").arg(n);
        ASSERT_EQ(folder.scalar(u"SELECT count(*)" + where), u"1") << n;
        EXPECT_EQ(folder.scalar(u"SELECT A1 || '|' || A14 || '|' || length(A5) || '|' || A15 || A27" + where),
                  QStringLiteral("患者%1|医师%1|%2|%3%4")
                      .arg(n)
                      .arg(2000 + QString::number(n).size())
                      .arg(n % 2)
                      .arg((n + 12) % 2));
    }
}

} // namespace
