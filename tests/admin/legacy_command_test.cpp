// korvela-admin import-legacy as the administrator runs it: what it says, its exit status, and
// what the program folder's Data/Data.Dat holds afterwards.
#include "legacy/legacy_files.h"
#include "support/temp_database.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <vector>

using namespace korvela::test;

namespace {

// The files the command is given: the old program's Data.Dat, one report of which has a date no
// calendar of the years 1 to 9999 holds, a text file, or the old file put in place of Korvela's.
enum class Source { Legacy, BadDate, Text, LegacyAsStore };

struct Case
{
    const char* name;
    std::vector<const char*> arguments; // "FILE" stands for the file
    Source source;
    int exitCode;
    const char* output;  // on the standard output
    const char* errors;  // on the standard error
    int storedAfter;     // reports in Data/Data.Dat afterwards (-1: not checked)
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class ImportLegacyCommand : public ::testing::TestWithParam<Case>
{
};

TEST_P(ImportLegacyCommand, SaysWhatItDidAndExitsWithItsStatus)
{
    const Case& c = GetParam();
    TempProgramFolder home;
    QTemporaryDir dir;
    const QString file = dir.path() + u"/旧程序/Data.Dat";
    switch (c.source) {
    case Source::Legacy:
        writeFile(file, legacyFile());
        break;
    case Source::BadDate:
        writeFile(file, patched(legacyFile(), {{kDateOfReport206, jetDouble(3.5e6)}}));
        break;
    case Source::Text:
        writeFile(file, QByteArray("A1,A2,A3\r\n"));
        break;
    case Source::LegacyAsStore:
        writeFile(file, legacyFile());
        writeFile(home.databaseFile(), legacyFile());
        break;
    }
    QStringList arguments;
    for (const char* a : c.arguments)
        arguments << (qstrcmp(a, "FILE") == 0 ? file : QString::fromUtf8(a));
    QProcess admin;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KORVELA_HOME"), home.path());
    admin.setProcessEnvironment(env);
    admin.start(QStringLiteral(KORVELA_ADMIN), arguments);
    ASSERT_TRUE(admin.waitForFinished(120000));
    const QString out = QString::fromUtf8(admin.readAllStandardOutput());
    const QString err = QString::fromUtf8(admin.readAllStandardError());
    EXPECT_EQ(admin.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(admin.exitCode(), c.exitCode) << out.toStdString() << err.toStdString();
    EXPECT_TRUE(out.contains(QString::fromUtf8(c.output))) << out.toStdString();
    EXPECT_TRUE(err.contains(QString::fromUtf8(c.errors))) << err.toStdString();
    if (c.storedAfter >= 0) {
        EXPECT_EQ(home.scalar(QStringLiteral("SELECT count(*) FROM A")), QString::number(c.storedAfter));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Local, ImportLegacyCommand,
    ::testing::Values(
        Case{"help names it", {"--help"}, Source::Legacy, 0, "import-legacy 文件 [--check] [--codepage 代码页]", "", 0},
        Case{"without a file", {"import-legacy"}, Source::Legacy, 2, "", "import-legacy 后面需要旧数据库文件的路径", 0},
        Case{"two files", {"import-legacy", "FILE", "more"}, Source::Legacy, 2, "", "多余的参数：more", 0},
        Case{"an unknown code page", {"import-legacy", "--codepage", "klingon", "FILE"}, Source::Legacy, 2, "",
             "未知的代码页：klingon", 0},
        Case{"--check of another command", {"check", "--check"}, Source::Legacy, 2, "",
             "选项 --check 只能用于 import-legacy", 0},
        Case{"import", {"import-legacy", "FILE"}, Source::Legacy, 0,
             "读出 208 份报告：新增 208 份，0 份已在报告数据库中（未重复添加），0 份未能导入", "", 208},
        Case{"check", {"import-legacy", "--check", "--codepage=GBK", "FILE"}, Source::Legacy, 0,
             "检查完毕，未写入任何内容。", "", 0},
        Case{"a report that cannot be shown", {"import-legacy", "FILE"}, Source::BadDate, 1, "新增 207 份",
             "未能导入：第 206 份报告（筛查编号 T-far，姓名 张桂英）：“检查日期”（A13）的值 3500000 不是公元 1 至 "
             "9999 年间的日期",
             207},
        Case{"not the old program's file", {"import-legacy", "FILE"}, Source::Text, 1, "",
             "不是旧程序的数据库（不是 Jet 数据库文件）", 0},
        Case{"the old file in Korvela's place", {"import-legacy", "FILE"}, Source::LegacyAsStore, 1, "",
             "是旧程序的数据库，而不是 Korvela 的报告数据库", -1}));

} // namespace
