#include "store/postgres_database.h"
#include "store/sqlite_database.h"
#include "store/store_choice.h"
#include "support/temp_database.h"
#include "support/test_store.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>

using namespace korvela;
using namespace std::chrono_literals;

namespace {

// What both stores do alike.
class DatabaseTest : public ::testing::TestWithParam<test::StoreKind>
{
protected:
    void insert(const QString& a1, const QString& a3, const QString& a13 = QStringLiteral("2024-01-01"))
    {
        ASSERT_TRUE(db.execute({QStringLiteral("INSERT INTO A (A1, A3, A13) VALUES (?1, ?2, ?3)"), {a1, a3, a13}}));
    }

    QString text(const ResultSet& rs, const char* column)
    {
        Result<Value> v = rs.field(QString::fromLatin1(column));
        EXPECT_TRUE(v.ok());
        return v ? valueToText(*v) : QString();
    }

    test::TestStore store{GetParam()};
    ReportDatabase& db = store.db();
};

TEST(DatabaseOpen, RefusesMissingFileNonDatabaseAndMissingTable)
{
    test::TempProgramFolder folder;
    SqliteReportDatabase db;
    const QString missing = folder.path() + u"/Data/Nothing.Dat";
    EXPECT_FALSE(db.open(missing, 5s).ok());
    EXPECT_FALSE(QFile::exists(missing)) << "opening must never create the database";

    const QString garbage = folder.path() + u"/Data/Garbage.Dat";
    QFile f(garbage);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    const Status notADatabase = db.open(garbage, 5s);
    EXPECT_FALSE(notADatabase.ok());
    EXPECT_FALSE(notADatabase.failure().description.isEmpty());

    folder.exec(QStringLiteral("DROP TABLE A"));
    EXPECT_FALSE(db.open(folder.databaseFile(), 5s).ok());
    EXPECT_FALSE(db.isOpen());
}

// A database file must not be shared by several computers: the file systems that reach another
// computer are known by their type; the local ones are not refused.
TEST(DatabaseOpen, ANetworkFileSystemIsKnownByItsType)
{
    const struct
    {
        long type;
        const char* kind; // empty: local
    } cases[] = {
        {0x6969, "NFS"},       {0xFF534D42, "CIFS"}, {0xFE534D42, "SMB2"}, {0x517B, "SMB"},
        {0x65735546, "FUSE"},  {0x01021997, "9P"},   {0xEF53, ""} /* ext4 */,
        {0x58465342, ""} /* xfs */, {0x01021994, ""} /* tmpfs */, {0x9123683E, ""} /* btrfs */,
    };
    for (const auto& c : cases) {
        const std::optional<QString> kind = networkFileSystemType(c.type);
        EXPECT_EQ(kind.has_value(), *c.kind != 0) << std::hex << c.type;
        if (kind) {
            EXPECT_TRUE(kind->startsWith(QString::fromLatin1(c.kind))) << kind->toStdString();
        }
    }
    test::TempProgramFolder folder;
    EXPECT_EQ(networkFileSystem(folder.databaseFile()), std::nullopt);
    EXPECT_EQ(networkFileSystem(folder.path() + u"/Data/not-yet/Data.Dat"), std::nullopt) << "a missing file's folder decides";
}

// Data.Dat's folder may not exist yet: the nearest folder that exists tells where it will lie.
// Here Data/ is an NFS mount with a local disk mounted at Data/local.
TEST(DatabaseOpen, APathNotThereYetIsJudgedByItsNearestExistingFolder)
{
    test::TempProgramFolder folder;
    const QString data = folder.path() + u"/Data";
    ASSERT_TRUE(QDir(data).mkdir(QStringLiteral("local")));
    const auto statfsOf = [&](const QString& existing) -> std::optional<long> {
        if (!QFileInfo::exists(existing))
            return std::nullopt; // as statfs() fails on a missing path
        if (existing.startsWith(data + u"/local"))
            return 0xEF53; // ext4
        return existing.startsWith(data) ? 0x6969 : 0xEF53;
    };
    const struct
    {
        const char* path; // below the program folder
        bool onNetwork;
    } cases[] = {
        {"/Data/Data.Dat", true},
        {"/Data/not-yet/Data.Dat", true},
        {"/Data/not-yet/deeper/Data.Dat", true},
        {"/Data/local/not-yet/Data.Dat", false},
        {"/elsewhere/Data.Dat", false},
    };
    for (const auto& c : cases) {
        const std::optional<QString> kind =
            networkFileSystem(folder.path() + QString::fromLatin1(c.path), statfsOf);
        EXPECT_EQ(kind.has_value(), c.onNetwork) << c.path;
        if (kind) {
            EXPECT_EQ(*kind, u"NFS") << c.path;
        }
    }
}

TEST(DatabaseOpen, RefusesUnreadableFile)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    test::TempProgramFolder folder;
    QFile::setPermissions(folder.databaseFile(), QFileDevice::Permissions());
    SqliteReportDatabase db;
    EXPECT_FALSE(db.open(folder.databaseFile(), 5s).ok());
}

TEST_P(DatabaseTest, RolledBackTransactionLeavesNothing)
{
    ASSERT_TRUE(db.begin());
    EXPECT_TRUE(db.inTransaction());
    insert(QStringLiteral("张三"), QStringLiteral("A01"));
    ASSERT_TRUE(db.rollback());
    EXPECT_FALSE(db.inTransaction());
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT count(*) FROM A")), u"0");

    ASSERT_TRUE(db.begin());
    insert(QStringLiteral("张三"), QStringLiteral("A01"));
    ASSERT_TRUE(db.commit());
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT count(*) FROM A")), u"1");
}

TEST_P(DatabaseTest, SnapshotCountIsExactAndIgnoresLaterWritesAndDeletes)
{
    for (int i = 0; i < 5; ++i)
        insert(QStringLiteral("name%1").arg(i), QStringLiteral("N%1").arg(i));
    auto rs = db.createResultSet();
    ASSERT_TRUE(rs->open({QStringLiteral("SELECT rowid, * FROM A ORDER BY A3"), {}}));
    EXPECT_EQ(rs->recordCount(), 5);
    EXPECT_EQ(text(*rs, "a3"), u"N0");

    store.exec(QStringLiteral("DELETE FROM A WHERE A3='N1'; UPDATE A SET A1='changed' WHERE A3='N2';"
                               "INSERT INTO A (A3) VALUES ('N9')"));
    EXPECT_EQ(rs->recordCount(), 5);
    ASSERT_TRUE(rs->moveNext());
    EXPECT_EQ(text(*rs, "a3"), u"N1");
    ASSERT_TRUE(rs->moveNext());
    EXPECT_EQ(text(*rs, "a1"), u"name2");
}

TEST_P(DatabaseTest, MovingOffEitherEndLeavesNoCurrentRow)
{
    insert(QStringLiteral("a"), QStringLiteral("1"));
    insert(QStringLiteral("b"), QStringLiteral("2"));
    auto rs = db.createResultSet();
    ASSERT_TRUE(rs->open({QStringLiteral("SELECT * FROM A ORDER BY A3"), {}}));

    ASSERT_TRUE(rs->movePrevious());
    EXPECT_FALSE(rs->hasCurrentRow());
    Result<Value> before = rs->field(QStringLiteral("a1"));
    ASSERT_FALSE(before.ok());
    EXPECT_EQ(before.failure().code, FailureCode::NoCurrentRow);

    ASSERT_TRUE(rs->moveFirst());
    ASSERT_TRUE(rs->moveNext());
    EXPECT_EQ(text(*rs, "a1"), u"b");
    ASSERT_TRUE(rs->moveNext());
    EXPECT_FALSE(rs->field(QStringLiteral("a1")).ok());
    ASSERT_TRUE(rs->moveNext()); // further moves stay past the end
    ASSERT_TRUE(rs->movePrevious());
    EXPECT_EQ(text(*rs, "a1"), u"b");

    EXPECT_EQ(rs->field(QStringLiteral("nosuch")).failure().code, FailureCode::NoSuchField);
    rs->close();
    EXPECT_FALSE(rs->isOpen());
    EXPECT_EQ(rs->field(QStringLiteral("a1")).failure().code, FailureCode::DatabaseNotOpen);
}

TEST_P(DatabaseTest, EmptyResultStandsOnNoRow)
{
    auto rs = db.createResultSet();
    ASSERT_TRUE(rs->open({QStringLiteral("SELECT * FROM A"), {}}));
    EXPECT_EQ(rs->recordCount(), 0);
    EXPECT_FALSE(rs->hasCurrentRow());
    EXPECT_FALSE(rs->field(QStringLiteral("a1")).ok());
}

TEST_P(DatabaseTest, FieldsGiveNullsNumbersAndTextsAsStored)
{
    auto rs = db.createResultSet();
    ASSERT_TRUE(rs->open({QStringLiteral("SELECT NULL AS a1, 42 AS A2, 1 AS a15, '1' AS a16, 2.5 AS a17"), {}}));
    EXPECT_TRUE(isNull(*rs->field(QStringLiteral("a1"))));
    EXPECT_EQ(valueToText(*rs->field(QStringLiteral("a2"))), u"42");
    EXPECT_EQ(std::get<std::int64_t>(*rs->field(QStringLiteral("a15"))), 1);
    EXPECT_EQ(std::get<QString>(*rs->field(QStringLiteral("a16"))), u"1");
    EXPECT_EQ(std::get<double>(*rs->field(QStringLiteral("A17"))), 2.5);
}

TEST_P(DatabaseTest, QuotesWildcardsBackslashesAndCjkAreStoredAndMatchedLiterally)
{
    const QStringList values = {QStringLiteral("O'Brien"), QStringLiteral("50%"), QStringLiteral("a_b"),
                                QStringLiteral("C:\\x"), QStringLiteral("张三丰"), QStringLiteral("𠀀😀"),
                                QStringLiteral("'; DROP TABLE A; --")};
    for (const QString& v : values)
        insert(v, v);
    insert(QStringLiteral("other"), QStringLiteral("50x"));
    insert(QStringLiteral("other"), QStringLiteral("axb"));
    auto rs = db.createResultSet();
    for (const QString& v : values) {
        ASSERT_TRUE(rs->open({QStringLiteral("SELECT * FROM A WHERE A3 = ?1"), {v}}));
        ASSERT_EQ(rs->recordCount(), 1) << v.toStdString();
        EXPECT_EQ(text(*rs, "a1"), v);
    }
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT count(*) FROM A")), QString::number(values.size() + 2));
}

TEST_P(DatabaseTest, EngineFailureCarriesCodeAndDescription)
{
    const Status s = db.execute({QStringLiteral("SELECT * FROM NoSuchTable"), {}});
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.failure().code, 0);
    EXPECT_TRUE(s.failure().description.contains(u"NoSuchTable", Qt::CaseInsensitive));
}

// A program that only reads opens the store so that it cannot write, whatever its rights.
TEST_P(DatabaseTest, AReadOnlyStoreReadsAndRefusesEveryWrite)
{
    insert(QStringLiteral("张三"), QStringLiteral("A01"));
    std::unique_ptr<ReportDatabase> reader;
    if (store.kind() == test::StoreKind::Sqlite) {
        auto file = std::make_unique<SqliteReportDatabase>();
        ASSERT_TRUE(file->open(store.folder().databaseFile(), 1s, StoreAccess::ReadOnly).ok());
        reader = std::move(file);
    } else {
        auto server = std::make_unique<PostgresReportDatabase>();
        ASSERT_TRUE(server->open(serviceConnection(), 1s, StoreAccess::ReadOnly).ok());
        reader = std::move(server);
    }
    auto rs = reader->createResultSet();
    ASSERT_TRUE(rs->open({QStringLiteral("SELECT * FROM A"), {}}));
    EXPECT_EQ(text(*rs, "a1"), u"张三");
    EXPECT_FALSE(reader->execute({QStringLiteral("INSERT INTO A (A3) VALUES ('B02')"), {}}).ok());
    EXPECT_FALSE(reader->execute({QStringLiteral("DELETE FROM A"), {}}).ok());
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT count(*) FROM A")), u"1");
}

KORVELA_ON_BOTH_STORES(DatabaseTest);

// Another process holds the write lock: a writer waits up to the time-out, then fails cleanly;
// a lock released within the time-out lets the write through.
TEST(DatabaseContention, WriteWaitsForAnotherProgramThenFailsCleanly)
{
    test::TempProgramFolder folder;
    SqliteReportDatabase db;
    ASSERT_TRUE(db.open(folder.databaseFile(), 1s).ok());

    // A separate program takes the write lock, says so, holds it, then commits.
    const auto holdLock = [&](double seconds) {
        auto* p = new QProcess;
        p->start(QStringLiteral("python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sqlite3, sys, time\n"
                                 "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                                 "c.execute('BEGIN IMMEDIATE')\n"
                                 "print('locked', flush=True)\n"
                                 "time.sleep(float(sys.argv[2]))\n"
                                 "c.execute('COMMIT')\n"),
                  folder.databaseFile(), QString::number(seconds)});
        return p;
    };

    QProcess* longHolder = holdLock(3);
    ASSERT_TRUE(longHolder->waitForReadyRead(5000));
    const auto started = std::chrono::steady_clock::now();
    const Status blocked = db.begin();
    const auto waited = std::chrono::steady_clock::now() - started;
    ASSERT_FALSE(blocked.ok());
    EXPECT_EQ(blocked.failure().code & 0xff, SQLITE_BUSY);
    EXPECT_TRUE(blocked.failure().description.contains(u"占用"));
    EXPECT_GE(waited, 900ms);
    EXPECT_FALSE(db.inTransaction());
    longHolder->waitForFinished(10000);
    delete longHolder;

    QProcess* shortHolder = holdLock(0.3);
    ASSERT_TRUE(shortHolder->waitForReadyRead(5000));
    ASSERT_TRUE(db.begin().ok());
    ASSERT_TRUE(db.execute({QStringLiteral("INSERT INTO A (A3) VALUES ('after')"), {}}));
    ASSERT_TRUE(db.commit().ok());
    shortHolder->waitForFinished(10000);
    delete shortHolder;
    EXPECT_EQ(folder.scalar(QStringLiteral("SELECT count(*) FROM A")), u"1");
}

} // namespace
