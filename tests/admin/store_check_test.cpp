#include "admin/data_file.h"
#include "admin/store_check.h"
#include "support/test_server.h"

#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace korvela;
using namespace korvela::admin;
using namespace korvela::test;

namespace {

void overwrite(const QString& file, qint64 offset, qint64 length)
{
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.seek(offset));
    f.write(QByteArray(length, '\x55'));
}

TEST(StoreCheck, AFileIsSoundOnlyWhenWholeWithItsTable)
{
    const struct
    {
        const char* name;
        std::function<void(const QString&)> damage;
        const char* problem; // empty: sound
    } cases[] = {
        {"sound", [](const QString&) {}, ""},
        {"header overwritten", [](const QString& f) { overwrite(f, 0, 100); }, "损坏"},
        {"a page overwritten",
         [](const QString& f) { overwrite(f, QFile(f).size() / 2 / 4096 * 4096, 4096); }, "完整性检查"},
        {"table dropped", [](const QString& f) { execOnFile(f, QStringLiteral("DROP TABLE A")); },
         "没有报告数据表 A"},
        {"column missing",
         [](const QString& f) {
             execOnFile(f, QStringLiteral("DROP TRIGGER A_history_inserted; DROP TRIGGER A_history_updated; "
                                          "DROP TRIGGER A_history_deleted; ALTER TABLE A DROP COLUMN A27"));
         },
         "缺少栏目 A27"},
        {"file missing", [](const QString& f) { QFile::remove(f); }, "找不到"},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString file = dir.path() + u"/Data/Data.Dat";
        writeDataFile(file, 3000, ordinaryReport);
        upgradeDataFile(file);
        c.damage(file);
        const CheckReport report = checkSqliteStore(file);
        const QString problems = report.problems.join(u'\n');
        EXPECT_EQ(report.ok(), *c.problem == 0) << c.name << ": " << problems.toStdString();
        EXPECT_TRUE(problems.contains(QString::fromUtf8(c.problem)))
            << c.name << ": " << problems.toStdString();
        if (report.ok()) {
            EXPECT_EQ(report.reports, 3000);
        }
    }
}

// Each damage is one an administrator meets: an index dropped by hand, a build that was
// interrupted, an index missing rows, a rowid given by hand, a column retyped, no table at all.
TEST(ServerCheck, TheServerIsSoundOnlyWithEveryIndexUsableWholeAndBehindTheSequence)
{
    const struct
    {
        const char* damage;  // SQL run on the report database
        const char* problem; // empty: sound
    } cases[] = {
        {"", ""},
        {"DROP INDEX a_a13", "a_a13"},
        {"UPDATE pg_index SET indisvalid = false WHERE indexrelid = 'a_key'::regclass", "a_key"},
        {"UPDATE pg_index SET indisready = false WHERE indexrelid = 'a_a1'::regclass;"
         "INSERT INTO a (a1, a3) VALUES ('不在索引中', 'X-1');"
         "UPDATE pg_index SET indisready = true WHERE indexrelid = 'a_a1'::regclass",
         "a_a1 与报告数据表不一致"},
        {"INSERT INTO a (rowid, a1) OVERRIDING SYSTEM VALUE VALUES (100000, '手工行号')", "行号序列"},
        {"ALTER TABLE a ALTER a15 TYPE bigint", "a15"},
        {"DROP TABLE a", "没有报告数据表"},
    };
    TestServer& server = TestServer::shared();
    for (const auto& c : cases) {
        const QString database = server.createReportDatabase();
        server.exec(database,
                    QStringLiteral("INSERT INTO a (a1, a3, a13, a15) SELECT '患者' || i, 'SC-' || i, "
                                   "CASE WHEN i % 7 = 0 THEN NULL ELSE DATE '2024-01-01' + i END, i % 2 "
                                   "FROM generate_series(1, 500) i"));
        if (*c.damage)
            server.exec(database, QString::fromUtf8(c.damage));
        const CheckReport report = checkServerStore(server.connection(database));
        const QString problems = report.problems.join(u'\n');
        EXPECT_EQ(report.ok(), *c.problem == 0) << c.damage << ": " << problems.toStdString();
        EXPECT_TRUE(problems.contains(QString::fromUtf8(c.problem)))
            << c.damage << ": " << problems.toStdString();
        if (report.ok()) {
            EXPECT_EQ(report.reports, 500);
        }
        server.dropDatabase(database);
    }
}

} // namespace
