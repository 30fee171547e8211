#include <QFile>
#include <QFileInfo>

#include <QProcess>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <gtest/gtest.h>

namespace {

int makeDatabase(const QString& target)
{
    QProcess p;
    p.start(QStringLiteral("bash"), {QStringLiteral(KORVELA_SOURCE_DIR "/scripts/make-database.sh"), target});
    p.waitForFinished(30000);
    return p.exitCode();
}

TEST(MakeDatabase, CreatesTheDatabaseOnlyWhenMissingAndKeepsEveryRow)
{
    QTemporaryDir dir;
    const QString target = dir.path() + u"/Data/Data.Dat";
    ASSERT_EQ(makeDatabase(target), 0);
    ASSERT_TRUE(QFileInfo::exists(target));

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(target.toUtf8().constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "INSERT INTO A (A1, A3, A13, A15) VALUES ('张三', 'A01', '2024-05-01', 1);"
                           "INSERT INTO A (A1, A3, A13, A15) VALUES ('李四', 'A02', '2024-05-02', 0);"
                           "CREATE TABLE Extra (x);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const QByteArray before = [&] {
        QFile f(target);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();

    ASSERT_EQ(makeDatabase(target), 0);
    QFile after(target);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), before) << "a second setup must leave the database byte for byte";

    ASSERT_EQ(sqlite3_open(target.toUtf8().constData(), &db), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT group_concat(A1 || A3, ',') FROM A", -1, &stmt, nullptr);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "张三A01,李四A02");
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

} // namespace
