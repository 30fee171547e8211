#include "core/failure_codes.h"
#include "store/store_choice.h"
#include "support/temp_database.h"

#include <QFile>
#include <chrono>
#include <gtest/gtest.h>

using namespace korvela;

namespace {

// The user's and the system's service files and the program folder as a workstation may have
// them. In `says`, %F stands for the program folder, %U and %S for the two service files.
struct ChoiceCase
{
    const char* name;
    const char* user;   // the user's service file; none when null
    const char* system; // the system's
    int refusal;        // 0: chosen, `says` in its description
    const char* says;
    bool dataFile = true; // Data/Data.Dat lies in the folder
    bool moved = false;   // and Data/Data.Dat.moved-to-server-20261211-093000
};

void writeFile(const QString& path, const char* text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

TEST(StoreChoice, TheServiceFileDecidesAndAnythingButAClearAnswerIsRefusedNamingWhy)
{
    const ChoiceCase cases[] = {
        {"no service file", nullptr, nullptr, 0, "文件 %F/Data/Data.Dat"},
        {"the user's service", "[korvela]\nhost=db.example\nport=5433\ndbname=reports\nuser=korvela\n",
         nullptr, 0, "服务器 db.example:5433/reports（连接服务 korvela，%U）"},
        {"other sections, comments and blank lines around it",
         "# reports\n\n[other]\nnot a setting\n[korvela]\n  host=h  \n# end\n[next]\nnot one either\n",
         nullptr, 0, "服务器 h（连接服务 korvela，%U）"},
        {"the system's when the user's lacks it", "[other]\nhost=x\n", "[korvela]\nhost=s\ndbname=d\n", 0,
         "服务器 s/d（连接服务 korvela，%S）"},
        {"the user's before the system's", "[korvela]\nhost=u\n", "[korvela]\nhost=s\n", 0,
         "服务器 u（连接服务 korvela，%U）"},
        {"a misspelt section", "[korvla]\nhost=h\n", nullptr, FailureCode::ServiceFileUnusable,
         "%U（其中的连接服务：[korvla]）中没有定义连接服务 [korvela]"},
        {"an empty service file", "", nullptr, FailureCode::ServiceFileUnusable,
         "%U（其中没有任何连接服务）"},
        {"spaces around the equals sign", "[korvela]\nhost = h\n", nullptr, FailureCode::ServiceFileUnusable,
         "%U 第 2 行“host = h”无法识别"},
        {"a setting libpq does not know", "[korvela]\nhots=h\n", nullptr, FailureCode::ServiceFileUnusable,
         "%U 第 2 行“hots=h”无法识别"},
        {"an empty section", "# a\n[korvela]\n\n[other]\nhost=h\n", nullptr, FailureCode::ServiceFileUnusable,
         "%U 第 2 行的连接服务 [korvela] 是空的"},
        {"moved to a server the user has no service for", nullptr, nullptr, FailureCode::StoreMovedToServer,
         "已改名为 Data.Dat.moved-to-server-20261211-093000", false, true},
        {"moved to the server of the service", "[korvela]\nhost=h\n", nullptr, 0, "服务器 h", false, true},
    };
    const QByteArray userVariable = qgetenv("PGSERVICEFILE");
    const QByteArray systemVariable = qgetenv("PGSYSCONFDIR");
    for (const ChoiceCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempProgramFolder folder;
        const QString user = folder.path() + u"/user.conf";
        const QString system = folder.path() + u"/pg_service.conf";
        qputenv("PGSERVICEFILE", QFile::encodeName(user));
        qputenv("PGSYSCONFDIR", QFile::encodeName(folder.path()));
        if (c.user)
            writeFile(user, c.user);
        if (c.system)
            writeFile(system, c.system);
        if (c.moved) {
            ASSERT_TRUE(QFile::copy(folder.databaseFile(),
                                    folder.databaseFile() + u".moved-to-server-20261211-093000"));
        }
        if (!c.dataFile) {
            ASSERT_TRUE(QFile::remove(folder.databaseFile()));
        }
        const QString says = QString::fromUtf8(c.says)
                                 .replace(QStringLiteral("%F"), folder.path())
                                 .replace(QStringLiteral("%U"), user)
                                 .replace(QStringLiteral("%S"), system);

        const Result<StoreChoice> choice = chooseStore(folder.path());
        EXPECT_EQ(choice ? 0 : choice.failure().code, c.refusal);
        const QString told = choice ? choice->description() : choice.failure().description;
        EXPECT_TRUE(told.contains(says)) << told.toStdString();
        if (c.refusal) {
            // The store is never opened in its place, and its name says why.
            Result<std::unique_ptr<ReportDatabase>> opened =
                openReportStore(folder.path(), std::chrono::seconds(1));
            ASSERT_FALSE(opened.ok());
            EXPECT_EQ(opened.failure().code, c.refusal);
            EXPECT_EQ(reportStoreName(folder.path()), told);
        }
    }
    qputenv("PGSERVICEFILE", userVariable);
    qputenv("PGSYSCONFDIR", systemVariable);
}

} // namespace
