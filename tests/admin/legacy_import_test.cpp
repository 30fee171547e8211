// import-legacy through its library on both stores: the old program's reports arrive exactly as it
// showed them, in its order, once; whatever goes wrong while reading leaves the store as it was.
#include "legacy/legacy_files.h"
#include "admin/legacy_import.h"
#include "core/failure_codes.h"
#include "support/test_server.h"
#include "support/test_store.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <functional>

using namespace korvela;
using namespace korvela::admin;
using namespace korvela::test;

namespace {

const QString kReaderCommand = QStringLiteral("legacy-reader");

ImportOptions optionsFor(const TestStore& store, const QString& file)
{
    ImportOptions options;
    options.file = file;
    options.programFolder = store.folder().path();
    options.reader = {QStringLiteral(KORVELA_ADMIN), kReaderCommand};
    return options;
}

// The reports of the store in rowid order, each as the expected file writes it.
std::vector<QJsonArray> storedReports(TestStore& store)
{
    QString columns;
    for (int c = 1; c <= 27; ++c)
        columns += QStringLiteral("%1A%2").arg(c > 1 ? QStringLiteral(", ") : QString()).arg(c);
    std::unique_ptr<ResultSet> rows = store.db().createResultSet();
    EXPECT_TRUE(rows->open({QStringLiteral("SELECT %1 FROM A ORDER BY rowid").arg(columns), {}}).ok());
    std::vector<QJsonArray> reports;
    for (; rows->hasCurrentRow(); (void)rows->moveNext()) {
        QJsonArray report;
        for (int c = 1; c <= 27; ++c) {
            const Value v = *rows->field(QStringLiteral("a%1").arg(c));
            if (const auto* i = std::get_if<std::int64_t>(&v))
                report.append(qint64(*i));
            else if (const auto* t = std::get_if<QString>(&v))
                report.append(*t);
            else
                report.append(QJsonValue::Null);
        }
        reports.push_back(report);
    }
    return reports;
}

void expectReports(const std::vector<QJsonArray>& stored, const std::vector<QJsonArray>& expected)
{
    ASSERT_EQ(stored.size(), expected.size());
    int differences = 0;
    for (std::size_t r = 0; r < stored.size() && differences < 5; ++r)
        for (qsizetype c = 0; c < 27; ++c)
            if (stored[r][c] != expected[r][c] && ++differences <= 5)
                ADD_FAILURE() << "report " << r + 1 << " A" << c + 1 << ": stored "
                              << stored[r][c].toVariant().toString().left(60).toStdString() << ", expected "
                              << expected[r][c].toVariant().toString().left(60).toStdString();
}

// What tells a store that was not written to: its reports and the last rowid.
QString storeState(const TestStore& store)
{
    return store.scalar(QStringLiteral("SELECT count(*) || '/' || coalesce(max(rowid), 0) FROM A"));
}

class LegacyImport : public ::testing::TestWithParam<StoreKind>
{
};

TEST_P(LegacyImport, BringsEveryReportOverAsTheOldProgramShowedItInItsOrderAndOnlyOnce)
{
    TestStore store(GetParam());
    Result<ImportSummary> first = importLegacy(optionsFor(store, legacyDataFile()));
    ASSERT_TRUE(first) << first.failure().description.toStdString();
    EXPECT_EQ(first->jetVersion, 4);
    EXPECT_EQ(first->read, 208);
    EXPECT_EQ(first->added, 208);
    EXPECT_EQ(first->present, 0);
    EXPECT_TRUE(first->complete());
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT count(*) || ' ' || min(action) || ' ' || max(action) FROM report_history")),
              u"208 import-legacy import-legacy");
    const std::vector<QJsonArray> expected = expectedReports();
    expectReports(storedReports(store), expected);

    Result<ImportSummary> again = importLegacy(optionsFor(store, legacyDataFile()));
    ASSERT_TRUE(again) << again.failure().description.toStdString();
    EXPECT_EQ(again->added, 0);
    EXPECT_EQ(again->present, 208);
    expectReports(storedReports(store), expected);
}

TEST_P(LegacyImport, TwinsStayTwinsAndAReportIsAddedOnlyAsOftenAsTheStoreLacksIt)
{
    TestStore store(GetParam());
    QTemporaryDir dir;
    const QString twins = dir.path() + u"/Data.Dat";
    writeFile(twins, fileWithTwins());
    ASSERT_TRUE(importLegacy(optionsFor(store, legacyDataFile())));

    // The store holds each of page 29's reports once, the file twice: one more of each.
    Result<ImportSummary> r = importLegacy(optionsFor(store, twins));
    ASSERT_TRUE(r) << r.failure().description.toStdString();
    EXPECT_EQ(r->read, 208 - 15 + kReportsOnPage29);
    EXPECT_EQ(r->added, kReportsOnPage29);
    EXPECT_EQ(r->present, r->read - kReportsOnPage29);
    std::vector<QJsonArray> expected = expectedReports();
    const std::vector<QJsonArray> page29(expected.begin() + 15, expected.begin() + 15 + kReportsOnPage29);
    expected.insert(expected.end(), page29.begin(), page29.end());
    expectReports(storedReports(store), expected);

    Result<ImportSummary> again = importLegacy(optionsFor(store, twins));
    ASSERT_TRUE(again) << again.failure().description.toStdString();
    EXPECT_EQ(again->added, 0);
    EXPECT_EQ(storeState(store).section(u'/', 0, 0), QString::number(208 + kReportsOnPage29));
}

TEST_P(LegacyImport, CheckReadsAndComparesEverythingAndWritesNothing)
{
    TestStore store(GetParam());
    ImportOptions check = optionsFor(store, legacyDataFile());
    check.check = true;
    Result<ImportSummary> before = importLegacy(check);
    ASSERT_TRUE(before) << before.failure().description.toStdString();
    EXPECT_EQ(before->added, 208);
    EXPECT_EQ(storeState(store), QStringLiteral("0/0"));

    ASSERT_TRUE(importLegacy(optionsFor(store, legacyDataFile())));
    const QString imported = storeState(store);
    Result<ImportSummary> after = importLegacy(check);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->added, 0);
    EXPECT_EQ(after->present, 208);
    EXPECT_EQ(storeState(store), imported);
}

// Reports are written as they are read: a failure after some of them undoes them all.
TEST_P(LegacyImport, AFailureWhileReadingUndoesTheReportsAddedBeforeIt)
{
    const QString pipeSome = QStringLiteral("\"$0\" legacy-reader \"$1\" \"$2\" | head -c 40000; ");
    const struct
    {
        const char* name;
        QByteArray file;
        QStringList reader; // empty for the real one
        const char* says;
    } cases[] = {
        {"a damaged last data page",
         patched(legacyFile(), {{kLastDataPage + 14, littleEndian16(0x1FFF)}}),
         {},
         "第 41 页上第 0 行的位置无效"},
        {"the reader crashing half-way",
         legacyFile(),
         {QStringLiteral("/bin/sh"), QStringLiteral("-c"), pipeSome + u"kill -SEGV $$", QStringLiteral(KORVELA_ADMIN)},
         "读取进程异常终止"},
        {"the reader hanging half-way",
         legacyFile(),
         {QStringLiteral("/bin/sh"), QStringLiteral("-c"), pipeSome + u"exec sleep 60", QStringLiteral(KORVELA_ADMIN)},
         "秒没有进展"},
    };
    TestStore store(GetParam());
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = dir.path() + u"/Data.Dat";
        writeFile(file, c.file);
        ImportOptions options = optionsFor(store, file);
        if (!c.reader.isEmpty())
            options.reader = c.reader;
        options.readerTimeout = std::chrono::seconds(2);
        Result<ImportSummary> r = importLegacy(options);
        ASSERT_FALSE(r);
        EXPECT_TRUE(r.failure().description.contains(QString::fromUtf8(c.says))) << r.failure().description.toStdString();
        EXPECT_EQ(storeState(store), QStringLiteral("0/0"));
    }
}

// The store's own count and checksum of what it received is compared before the commit.
TEST_P(LegacyImport, AStoreThatAltersWhatItReceivesIsCaughtAndNothingIsAdded)
{
    TestStore store(GetParam());
    if (store.kind() == StoreKind::Sqlite)
        store.exec(QStringLiteral("CREATE TRIGGER alter_a1 AFTER INSERT ON A WHEN new.A3 = 'T-far' BEGIN "
                                  "UPDATE A SET A1 = A1 || ' ' WHERE rowid = new.rowid; END"));
    else
        store.exec(QStringLiteral("CREATE FUNCTION alter_a1() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                                  "IF NEW.a3 = 'T-far' THEN NEW.a1 := NEW.a1 || ' '; END IF; RETURN NEW; END $$; "
                                  "CREATE TRIGGER alter_a1 BEFORE INSERT ON a FOR EACH ROW EXECUTE FUNCTION alter_a1()"));
    Result<ImportSummary> r = importLegacy(optionsFor(store, legacyDataFile()));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.failure().code, FailureCode::ImportMismatch) << r.failure().description.toStdString();
    EXPECT_EQ(storeState(store), QStringLiteral("0/0"));
}

// A workstation saves while the import runs, its report (not committed yet) equal to one of the
// file's: the import waits for it no longer than the lock time-out and then adds nothing, so that
// report is never stored twice. Once the save is in, the import adds only the others.
TEST_P(LegacyImport, AnImportWhileAWorkstationSavesWaitsForItAndNeverStoresAReportTwice)
{
    TestStore store(GetParam());
    Statement save{QStringLiteral("INSERT INTO A ("), {}};
    const QJsonArray first = expectedReports().front();
    for (qsizetype c = 0; c < 27; ++c) {
        save.sql += QStringLiteral("%1A%2").arg(c ? QStringLiteral(", ") : QString()).arg(c + 1);
        const QJsonValue v = first[c];
        save.args.push_back(v.isNull()     ? Value()
                            : v.isString() ? Value(v.toString())
                                           : Value(std::int64_t(v.toInteger())));
    }
    save.sql += QStringLiteral(") VALUES (");
    for (int c = 1; c <= 27; ++c)
        save.sql += QStringLiteral("?%1%2").arg(c).arg(c < 27 ? QStringLiteral(", ") : QStringLiteral(")"));
    ASSERT_TRUE(store.db().begin());
    ASSERT_TRUE(store.db().execute(save));

    ImportOptions options = optionsFor(store, legacyDataFile());
    options.lockTimeout = std::chrono::seconds(1);
    Result<ImportSummary> meanwhile = importLegacy(options);
    ASSERT_FALSE(meanwhile);
    if (store.kind() == StoreKind::Server) {
        EXPECT_EQ(meanwhile.failure().code, FailureCode::ServerLockTimeout);
        EXPECT_TRUE(meanwhile.failure().description.contains(u"等待其他工作站释放报告表 a"))
            << meanwhile.failure().description.toStdString();
    }
    ASSERT_TRUE(store.db().commit());
    EXPECT_EQ(storeState(store).section(u'/', 0, 0), QStringLiteral("1"));

    Result<ImportSummary> after = importLegacy(options);
    ASSERT_TRUE(after) << after.failure().description.toStdString();
    EXPECT_EQ(after->added, 207);
    EXPECT_EQ(after->present, 1);
}

TEST_P(LegacyImport, AnImportKilledHalfWayLeavesTheStoreAsItWasAndTheNextAddsEverything)
{
    const QString source = sharedLegacyFile(QStringLiteral("Data-20000.Dat"));
    if (source.isEmpty())
        GTEST_SKIP() << "../shared/fixtures/legacy/Data-20000.Dat is absent (the shared fixtures are not beside "
                        "the source tree)";
    TestStore store(GetParam());
    // Half-way: the transaction has spilled pages into the write-ahead log, or the server has
    // handed out rowids for a few thousand rows.
    const auto halfWay = [&] {
        if (store.kind() == StoreKind::Sqlite)
            return QFileInfo(store.folder().databaseFile() + u"-wal").size() > (4 << 20);
        return store.scalar(QStringLiteral("SELECT coalesce(pg_sequence_last_value(pg_get_serial_sequence('a', "
                                           "'rowid')), 0)"))
                   .toLongLong() > 3000;
    };
    QProcess import;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KORVELA_HOME"), store.folder().path());
    import.setProcessEnvironment(env);
    import.start(QStringLiteral(KORVELA_ADMIN), {QStringLiteral("import-legacy"), source});
    ASSERT_TRUE(import.waitForStarted());
    QElapsedTimer waited;
    waited.start();
    while (!halfWay() && import.state() == QProcess::Running && waited.elapsed() < 120000)
        QThread::usleep(500);
    ASSERT_EQ(import.state(), QProcess::Running) << "the import ended before it could be killed: "
                                                  << import.readAllStandardError().toStdString();
    import.kill();
    ASSERT_TRUE(import.waitForFinished());
    EXPECT_EQ(import.exitStatus(), QProcess::CrashExit);

    EXPECT_EQ(storeState(store), QStringLiteral("0/0"));
    if (store.kind() == StoreKind::Sqlite) {
        EXPECT_EQ(store.scalar(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    }
    ImportOptions again = optionsFor(store, source);
    Result<ImportSummary> r = importLegacy(again);
    ASSERT_TRUE(r) << r.failure().description.toStdString();
    EXPECT_EQ(r->added, 20000);
    EXPECT_EQ(storeState(store).section(u'/', 0, 0), QStringLiteral("20000"));
}

KORVELA_ON_BOTH_STORES(LegacyImport);

// Files that are no sound report database of the old program are refused before anything is
// written, each with what is wrong with it.
struct BadFile
{
    const char* name;
    std::function<QByteArray()> bytes; // none: no file at all
    int code;
    const char* says;
};

void PrintTo(const BadFile& c, std::ostream* os)
{
    *os << c.name;
}

class LegacyBadFile : public ::testing::TestWithParam<BadFile>
{
};

TEST_P(LegacyBadFile, IsRefusedWithItsProblemNamedAndTheStoreUnchanged)
{
    const BadFile& c = GetParam();
    TestStore store(StoreKind::Sqlite);
    ASSERT_TRUE(importLegacy(optionsFor(store, legacyDataFile())));
    const QString before = storeState(store);
    QTemporaryDir dir;
    const QString file = dir.path() + u"/Data.Dat";
    if (c.bytes)
        writeFile(file, c.bytes());
    Result<ImportSummary> r = importLegacy(optionsFor(store, file));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.failure().code, c.code) << r.failure().description.toStdString();
    EXPECT_TRUE(r.failure().description.contains(QString::fromUtf8(c.says))) << r.failure().description.toStdString();
    EXPECT_EQ(storeState(store), before);
}

QByteArray korvelaStore()
{
    TempProgramFolder folder;
    QFile file(folder.databaseFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

INSTANTIATE_TEST_SUITE_P(
    Files, LegacyBadFile,
    ::testing::Values(
        BadFile{"no file", {}, FailureCode::LegacyNotReadable, "找不到旧数据库文件"},
        BadFile{"an empty file", [] { return QByteArray(); }, FailureCode::LegacyNotJet, "是空的"},
        BadFile{"a text file", [] { return QByteArray("这不是数据库\r\n"); }, FailureCode::LegacyNotJet,
                "不是旧程序的数据库"},
        BadFile{"Korvela's own Data.Dat", korvelaStore, FailureCode::LegacyNotJet, "不是旧程序的数据库"},
        BadFile{"cut short in a page", [] { return legacyFile().left(100001); }, FailureCode::LegacyDamaged,
                "不完整"},
        BadFile{"cut short at a page", [] { return legacyFile().left(30 * kPage); }, FailureCode::LegacyDamaged,
                "登记有 208 份报告，读出的却是 31 份"},
        BadFile{"bytes flipped in a data page's row table",
                [] { return flipped(legacyFile(), 29 * kPage + 14, 32); },
                FailureCode::LegacyDamaged, "第 29 页上第 0 行的位置无效"},
        BadFile{"bytes flipped in table A's definition",
                [] { return flipped(legacyFile(), kTableDefinition + 40, 32); },
                FailureCode::LegacyDamaged, "的定义无法读取"},
        BadFile{"encoded", [] { return flipped(legacyFile(), 0x3E, 1); },
                FailureCode::LegacyEncrypted, "已加密"},
        BadFile{"without table A", [] { return patched(legacyFile(), {{kCatalogNameOfA, "B"}}); },
                FailureCode::LegacyNoReportTable, "没有报告数据表 A（其中的表：B）"},
        BadFile{"without column A13", [] { return patched(legacyFile(), {{kDateColumnName, "X"}}); },
                FailureCode::LegacyColumnUnusable, "没有列“检查日期”（A13）"},
        BadFile{"A13 a text column", [] { return patched(legacyFile(), {{kDateColumnType, "\x0A"}}); },
                FailureCode::LegacyColumnUnusable, "类型是“文本”，存放不了日期"},
        BadFile{"an empty table A", fileWithoutReports, FailureCode::LegacyEmpty, "没有任何报告"}));

} // namespace
