#include "support/window_fixture.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <gtest/gtest.h>
#include <set>

using namespace korvela::test;

namespace {

// The real window on a real X display, read through AT-SPI by a separate process the way a
// screen reader reads it. The window answers while this process keeps its event loop turning.
TEST(Accessibility, AScreenReaderFindsEveryFieldByItsName)
{
    if (QGuiApplication::platformName() != u"xcb")
        GTEST_SKIP() << "needs an X display";
    WindowFixture w;
    w.type(QStringLiteral("a2"), QStringLiteral("45")); // an editable combo box names itself after its text

    QProcess dump;
    dump.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(KORVELA_ACCESSIBILITY_DUMP),
                                                    QString::number(QCoreApplication::applicationPid())});
    QElapsedTimer clock;
    clock.start();
    while (dump.state() != QProcess::NotRunning && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_EQ(dump.exitCode(), 0) << dump.readAllStandardError().toStdString();

    std::set<std::pair<QString, QString>> seen;
    for (const QString& line : QString::fromUtf8(dump.readAllStandardOutput()).split(u'\n')) {
        const qsizetype tab = line.indexOf(u'\t');
        if (tab > 0)
            seen.insert({line.left(tab), line.mid(tab + 1)});
    }
    const std::pair<const char*, const char16_t*> expected[] = {
        {"text", u"姓名"},
        {"text", u"年龄"},
        {"text", u"筛查编号"},
        {"text", u"临床检查"},
        {"text", u"B超"},
        {"text", u"钼靶"},
        {"text", u"临床检查评级"},
        {"text", u"X线检查评级"},
        {"text", u"超声检查评级"},
        {"text", u"其它评级"},
        {"text", u"初步诊断印象"},
        {"text", u"建议处理"},
        {"spin button", u"检查日期"},
        {"text", u"主检医师"},
        {"check box", u"处理方式：无"},
        {"check box", u"处理方式：穿刺抽液"},
        {"check box", u"处理方式：空心针穿刺"},
        {"check box", u"处理方式：活检"},
        {"check box", u"处理方式：Mammotome"},
        {"check box", u"处理方式：乳管镜"},
        {"check box", u"处理方式：住院手术"},
        {"check box", u"处理方式：术中冰冻"},
        {"check box", u"处理方式：三个月后随诊"},
        {"check box", u"处理方式：六个月后随诊"},
        {"check box", u"处理方式：一年后随诊"},
        {"check box", u"处理方式：B超"},
        {"check box", u"处理方式：钼靶"},
        {"text", u"查询筛查编号"},
        {"text", u"查询患者姓名"},
        {"text", u"查询主检医师"},
        {"text", u"查询检查日期从"},
        {"text", u"查询检查日期到"},
        {"push button", u"选择钼靶分型"},
        {"push button", u"查 询"},
        {"push button", u"另存为单个可阅读文件"},
        {"push button", u"调 用"},
        {"push button", u"取 消"},
        {"radio button", u"右侧 IA"},
        {"radio button", u"左侧 IVC"},
        {"radio button", u"右侧 中量腺体型"},
        {"radio button", u"左侧 脂肪型"},
    };
    for (const auto& [role, name] : expected) {
        EXPECT_TRUE(seen.contains({QString::fromLatin1(role), QString::fromUtf16(name)}))
            << role << " " << QString::fromUtf16(name).toStdString();
    }
}

} // namespace
