#include "admin/data_file.h"
#include "support/test_server.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

using namespace korvela::test;

namespace {

enum class Folder { Sound, Damaged };
enum class Service { None, Misspelt, EmptyDatabase, ReportDatabase };

struct Case
{
    const char* name;
    std::vector<const char*> arguments;
    int exitCode;
    const char* output; // on the standard output
    const char* errors; // on the standard error
    Folder folder = Folder::Sound;
    Service service = Service::None;
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class CommandLine : public ::testing::TestWithParam<Case>
{
};

// korvela-admin as the administrator runs it: the program folder from KORVELA_HOME (holding
// three reports, or a damaged file), the service korvela defined or not.
TEST_P(CommandLine, SaysWhatHappenedAndExitsWithItsStatus)
{
    const Case& c = GetParam();
    QTemporaryDir home;
    const QString file = home.path() + u"/Data/Data.Dat";
    writeDataFile(file, 3, ordinaryReport);
    upgradeDataFile(file);
    if (c.folder == Folder::Damaged) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.write(QByteArray(100, 'x'));
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KORVELA_HOME"), home.path());
    env.insert(QStringLiteral("PGSYSCONFDIR"), home.path() + u"/no-such-folder");
    env.insert(QStringLiteral("PGSERVICEFILE"), home.path() + u"/no-such-folder/pg_service.conf");
    QString database;
    if (c.service == Service::Misspelt) {
        QFile service(home.path() + u"/pg_service.conf");
        ASSERT_TRUE(service.open(QIODevice::WriteOnly));
        service.write("[korvla]\nhost=reports.example\ndbname=korvela\n");
        env.insert(QStringLiteral("PGSERVICEFILE"), service.fileName());
    } else if (c.service != Service::None) {
        TestServer& server = TestServer::shared();
        if (c.service == Service::ReportDatabase)
            database = server.createReportDatabase();
        else {
            database = QStringLiteral("admin_cli_empty");
            server.exec(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE ") + database);
        }
        server.pointServiceAt(database);
        env.insert(QStringLiteral("PGSERVICEFILE"), server.serviceFile());
    }

    QProcess admin;
    admin.setProcessEnvironment(env);
    QStringList arguments;
    for (const char* a : c.arguments)
        arguments << QString::fromUtf8(a);
    admin.start(QStringLiteral(KORVELA_ADMIN), arguments);
    ASSERT_TRUE(admin.waitForFinished(120000));
    const QString out = QString::fromUtf8(admin.readAllStandardOutput());
    const QString err = QString::fromUtf8(admin.readAllStandardError());
    EXPECT_EQ(admin.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(admin.exitCode(), c.exitCode) << out.toStdString() << err.toStdString();
    EXPECT_TRUE(out.contains(QString::fromUtf8(c.output))) << out.toStdString();
    EXPECT_TRUE(err.contains(QString::fromUtf8(c.errors))) << err.toStdString();
    if (c.exitCode == 0) {
        EXPECT_FALSE(err.contains(u"错误")) << err.toStdString();
    }
    if (!database.isEmpty())
        TestServer::shared().dropDatabase(database);
}

const char kUsage[] = "用法：korvela-admin <子命令> [选项]";

INSTANTIATE_TEST_SUITE_P(
    Local, CommandLine,
    ::testing::Values(
        Case{"no arguments", {}, 0, kUsage, ""}, Case{"help", {"help"}, 0, kUsage, ""},
        Case{"--help", {"--help"}, 0, kUsage, ""},
        // Each subcommand's --help (or -h) shows its own usage, whatever else is on the line.
        Case{"server-init --help", {"server-init", "--help"}, 0, "用法：korvela-admin server-init\n", ""},
        Case{"move-to-server --help", {"move-to-server", "--add", "--help"}, 0,
             "用法：korvela-admin move-to-server [--add] [--file 文件]\n", ""},
        Case{"import-legacy --help", {"import-legacy", "--help"}, 0,
             "用法：korvela-admin import-legacy 文件 [--check] [--codepage 代码页]\n", ""},
        Case{"check -h", {"check", "-h"}, 0, "用法：korvela-admin check\n", ""},
        Case{"backup --help", {"backup", "--status", "--help"}, 0,
             "用法：korvela-admin backup [--to 文件夹] [--status] [--scheduled] [--allow-shrink]\n", ""},
        Case{"restore --help", {"restore", "--help"}, 0, "用法：korvela-admin restore 副本文件 [--replace] [--force]\n", ""},
        Case{"restore --force without a service", {"restore", "Data-2026-12-10-0315.Dat", "--force"}, 2, "",
             "--force 只用于报告服务器"},
        Case{"legacy-reader --help", {"legacy-reader", "--help"}, 0, "用法：korvela-admin legacy-reader 文件 代码页\n",
             ""},
        Case{"unknown command", {"frobnicate"}, 2, "", "未知的子命令：frobnicate"},
        Case{"unknown option", {"--frob"}, 2, "", "未知选项：--frob"},
        Case{"unknown option of a command", {"move-to-server", "--bogus"}, 2, "", "未知选项：--bogus"},
        Case{"file without a path", {"move-to-server", "--file"}, 2, "", "--file 后面需要一个文件路径"},
        Case{"option of another command", {"check", "--add"}, 2, "", "--add 只能用于 move-to-server"},
        Case{"extra argument", {"check", "extra"}, 2, "", "多余的参数：extra"},
        Case{"check a sound file", {"check"}, 0, "/Data/Data.Dat：完好，共有 3 份报告", ""},
        Case{"check a damaged file", {"check"}, 1, "", "问题：", Folder::Damaged},
        Case{"history --help", {"history", "--help"}, 0, "用法：korvela-admin history 筛查编号 [--json]\n", ""},
        Case{"history without a number", {"history", "--json"}, 2, "", "history 需要一个筛查编号"},
        Case{"history of two numbers", {"history", "SC-1", "SC-2"}, 2, "", "多余的参数：SC-2"},
        Case{"add-user with a bad name", {"add-user", "li;drop"}, 2, "", "角色名“li;drop”不可用"},
        Case{"remove-user with add-user's option", {"remove-user", "li", "--password"}, 2, "", "未知选项：--password"},
        // On the file the persons are the workstation's Linux users.
        Case{"add-user on the file", {"add-user", "li"}, 1, "", "以这台计算机的 Linux 用户名记下修改人"},
        Case{"init without a service", {"server-init"}, 1, "", "没有配置报告服务器"},
        Case{"move without a service", {"move-to-server"}, 1, "", "没有配置报告服务器"},
        // A misspelt section is no reason to fall back to the local file.
        Case{"check with a misspelt service", {"check"}, 1, "", "（其中的连接服务：[korvla]）中没有定义连接服务",
             Folder::Sound, Service::Misspelt},
        Case{"import with a misspelt service", {"import-legacy", "/no/such/old.Dat"}, 1, "", "[korvla]",
             Folder::Sound, Service::Misspelt}));

INSTANTIATE_TEST_SUITE_P(Server, CommandLine,
                         ::testing::Values(Case{"init",
                                                {"server-init"},
                                                0,
                                                "上建立报告数据表 a 及其索引",
                                                "",
                                                Folder::Sound,
                                                Service::EmptyDatabase},
                                           Case{"init again",
                                                {"server-init"},
                                                0,
                                                "上已有报告数据表 a，未作任何改动",
                                                "",
                                                Folder::Sound,
                                                Service::ReportDatabase},
                                           Case{"move",
                                                {"move-to-server"},
                                                0,
                                                "已将 3 份报告",
                                                "复制报告：100%（3/3）",
                                                Folder::Sound,
                                                Service::ReportDatabase},
                                           Case{"move a missing file",
                                                {"move-to-server", "--file=/no/such/Data.Dat"},
                                                1,
                                                "",
                                                "找不到报告数据库文件 /no/such/Data.Dat",
                                                Folder::Sound,
                                                Service::ReportDatabase},
                                           Case{"move a damaged file",
                                                {"move-to-server"},
                                                1,
                                                "",
                                                "不是数据库",
                                                Folder::Damaged,
                                                Service::ReportDatabase},
                                           Case{"check the server",
                                                {"check"},
                                                0,
                                                "pg_service.conf）：完好，共有 0 份报告",
                                                "",
                                                Folder::Sound,
                                                Service::ReportDatabase}));

} // namespace
