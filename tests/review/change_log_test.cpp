#include "records/change_log.h"
#include "records/report_store.h"
#include "support/test_store.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace korvela;

namespace {

// A history row as the tests write it straight into the table: only what the reading looks at.
struct Row
{
    const char* action;
    const char* at;
    const char* who;
    const char* number;
};

ReportRecord report(const char* number, const char* name, const char* xray)
{
    ReportRecord r;
    r[Field::ScreeningNumber] = QString::fromUtf8(number);
    r[Field::PatientName] = QString::fromUtf8(name);
    r[Field::XRayGrade] = QString::fromUtf8(xray);
    r[Field::Age] = QStringLiteral("45");
    r.examDate = QDate(2024, 12, 18);
    r.checked(Field::FollowUpSixMonths) = true;
    return r;
}

class ChangeLogOnStore : public ::testing::TestWithParam<test::StoreKind>
{
protected:
    void write(std::initializer_list<Row> rows)
    {
        int seq = 0;
        for (const Row& r : rows)
            testStore.exec(QStringLiteral("INSERT INTO report_history (seq, action, at, who, host, report_id, number,"
                                          " hash) VALUES (%1, '%2', '%3', '%4', 'ws1', 1, '%5', 'x')")
                               .arg(++seq)
                               .arg(QString::fromUtf8(r.action), QString::fromUtf8(r.at), QString::fromUtf8(r.who),
                                    QString::fromUtf8(r.number)));
    }
    // Records an access as each store does: the event and the report given, the rest filled in.
    void access(const char* event, std::optional<int> report)
    {
        const QString id = report ? QString::number(*report) : QStringLiteral("NULL");
        const QString e = QString::fromUtf8(event);
        testStore.exec(GetParam() == test::StoreKind::Server
                           ? QStringLiteral("SELECT korvela_log_access('%1', ARRAY[%2]::bigint[], 'x.doc')").arg(e, id)
                           : QStringLiteral("INSERT INTO access_log (event, report_id, detail) VALUES ('%1', %2, 'x.doc')")
                                 .arg(e, id));
    }

    // "action number at" of each change the filter chooses, in the order read.
    QStringList listed(const ChangeFilter& filter)
    {
        Result<std::vector<Change>> read = log.changes(filter);
        EXPECT_TRUE(read.ok()) << (read ? "" : read.failure().description.toStdString());
        QStringList out;
        if (read)
            for (const Change& c : *read)
                out << c.action + u' ' + c.number + u' ' + c.at.toString(Qt::ISODateWithMs);
        return out;
    }

    void save(const ReportRecord& record)
    {
        const SaveResult saved = store.save(record, [] { return true; });
        ASSERT_EQ(saved.kind, SaveResult::Saved) << saved.failure.description.toStdString();
    }

    test::TestStore testStore{GetParam()};
    ReportDatabase& db = testStore.db();
    ChangeLog log{db};
    ReportStore store{db};
};

QStringList lines(std::initializer_list<const char*> items)
{
    QStringList out;
    for (const char* item : items)
        out << QString::fromUtf8(item);
    return out;
}

TEST_P(ChangeLogOnStore, FiltersChooseByNumberAsTheSaveMatchesItByPersonAndByActionNewestFirst)
{
    write({{"新建", "2024-12-01T08:00:00.000Z", "wang", "K1"},
           {"新建", "2024-12-01T09:00:00.000Z", "li", "k10"},
           {"修改", "2024-12-02T08:00:00.000Z", "li", " k1 "},
           {"删除", "2024-12-03T08:00:00.000Z", "wang", "K1"},
           {"import-legacy", "2024-12-04T08:00:00.000Z", "korvela", "K1\t"}});
    struct Case
    {
        const char* number;
        const char* who;
        const char* action;
        int limit;
        QStringList expected;
    };
    const Case cases[] = {
        {"", "", "", 1000,
         lines({"import-legacy K1\t 2024-12-04T08:00:00.000Z", "删除 K1 2024-12-03T08:00:00.000Z",
                "修改  k1  2024-12-02T08:00:00.000Z", "新建 k10 2024-12-01T09:00:00.000Z",
                "新建 K1 2024-12-01T08:00:00.000Z"})},
        // Trimmed of blanks, Latin case ignored; a tab stays, another number that begins alike differs.
        {"  k1 ", "", "", 1000,
         lines({"删除 K1 2024-12-03T08:00:00.000Z", "修改  k1  2024-12-02T08:00:00.000Z",
                "新建 K1 2024-12-01T08:00:00.000Z"})},
        {"", "li", "", 1000, lines({"修改  k1  2024-12-02T08:00:00.000Z", "新建 k10 2024-12-01T09:00:00.000Z"})},
        {"K1", "wang", "删除", 1000, lines({"删除 K1 2024-12-03T08:00:00.000Z"})},
        {"", "WANG", "", 1000, {}},
        {"", "", "", 2, lines({"import-legacy K1\t 2024-12-04T08:00:00.000Z", "删除 K1 2024-12-03T08:00:00.000Z"})},
    };
    for (const Case& c : cases) {
        ChangeFilter filter;
        filter.number = QString::fromUtf8(c.number);
        filter.who = QString::fromUtf8(c.who);
        filter.action = QString::fromUtf8(c.action);
        filter.limit = c.limit;
        EXPECT_EQ(listed(filter), c.expected) << c.number << '/' << c.who << '/' << c.action << '/' << c.limit;
    }
}

TEST_P(ChangeLogOnStore, ADayRangeIsOfLocalDaysBothIncluded)
{
    // Shanghai is 8 hours ahead of UTC: its 2024-12-18 runs from 12-17T16:00Z to 12-18T16:00Z.
    write({{"修改", "2024-12-17T15:59:59.999Z", "wang", "D1"},
           {"修改", "2024-12-17T16:00:00.000Z", "wang", "D2"},
           {"修改", "2024-12-18T15:59:59.999Z", "wang", "D3"},
           {"修改", "2024-12-18T16:00:00.000Z", "wang", "D4"}});
    const QTimeZone shanghai("Asia/Shanghai");
    ASSERT_TRUE(shanghai.isValid());
    const auto numbers = [&](std::optional<QDate> from, std::optional<QDate> to) {
        QStringList out;
        ChangeFilter filter;
        filter.span = localDays(from, to, shanghai);
        for (const QString& line : listed(filter))
            out << line.section(u' ', 1, 1);
        return out;
    };
    const QDate day(2024, 12, 18);
    EXPECT_EQ(numbers(day, day), lines({"D3", "D2"}));
    EXPECT_EQ(numbers(day, std::nullopt), lines({"D4", "D3", "D2"}));
    EXPECT_EQ(numbers(std::nullopt, day.addDays(-1)), lines({"D1"}));
    EXPECT_EQ(numbers(day.addDays(1), day), QStringList());
}

TEST_P(ChangeLogOnStore, EachChangeGivesTheReportBeforeAndAfterItAndWhoMadeIt)
{
    const ReportRecord first = report("V1", "王五", "3");
    ReportRecord second = report(" v1", "王五", "4");
    second.examDate.reset();
    second.checked(Field::FollowUpSixMonths) = false;
    save(first);
    save(second);
    ASSERT_TRUE(store.remove(QStringLiteral("V1")).ok());

    Result<std::vector<Change>> changes = log.changes({});
    ASSERT_TRUE(changes.ok()) << changes.failure().description.toStdString();
    ASSERT_EQ(changes->size(), 3u);
    // The overwrite keeps the stored number.
    ReportRecord kept = second;
    kept[Field::ScreeningNumber] = QStringLiteral("V1");
    const std::optional<ReportRecord> none;
    const struct
    {
        const char* action;
        std::optional<ReportRecord> before, after;
    } expected[] = {{"删除", kept, none}, {"修改", first, kept}, {"新建", none, first}};
    for (std::size_t i = 0; i < 3; ++i) {
        const Change& c = (*changes)[i];
        SCOPED_TRACE(expected[i].action);
        EXPECT_EQ(c.action, QString::fromUtf8(expected[i].action));
        EXPECT_EQ(c.number, QStringLiteral("V1"));
        EXPECT_EQ(c.name, QStringLiteral("王五"));
        EXPECT_FALSE(c.who.isEmpty());
        EXPECT_FALSE(c.host.isEmpty());
        EXPECT_LE(qAbs(c.at.secsTo(QDateTime::currentDateTimeUtc())), 600);
        Result<std::optional<ChangeVersions>> versions = log.versions(c.seq);
        ASSERT_TRUE(versions.ok()) << versions.failure().description.toStdString();
        ASSERT_TRUE(versions->has_value());
        EXPECT_EQ((*versions)->change.seq, c.seq);
        EXPECT_EQ((*versions)->before, expected[i].before);
        EXPECT_EQ((*versions)->after, expected[i].after);
    }
    Result<std::optional<ChangeVersions>> missing = log.versions(changes->front().seq + 1);
    ASSERT_TRUE(missing.ok());
    EXPECT_FALSE(missing->has_value());
}

TEST_P(ChangeLogOnStore, TheAccessesOfANumberAreThoseOfItsReportsNewestFirst)
{
    testStore.exec(QStringLiteral("INSERT INTO A (A1, A3) VALUES ('甲', 'A1'), ('乙', ' a1 '), ('丙', 'A10')"));
    access("查看", 1);
    access("查询", std::nullopt);
    access("打印", 2);
    access("导出", 3);
    Result<std::vector<Access>> read = log.accesses(QStringLiteral("A1 "), 100);
    ASSERT_TRUE(read.ok()) << read.failure().description.toStdString();
    QStringList seen;
    for (const Access& a : *read) {
        seen << a.event + u' ' + a.number + u' ' + QString::number(a.reportId.value_or(0)) + u' ' + a.detail;
        EXPECT_FALSE(a.who.isEmpty());
        EXPECT_FALSE(a.host.isEmpty());
        EXPECT_LE(qAbs(a.at.secsTo(QDateTime::currentDateTimeUtc())), 600);
    }
    EXPECT_EQ(seen, lines({"打印  a1  2 x.doc", "查看 A1 1 x.doc"}));
    Result<std::vector<Access>> newest = log.accesses(QStringLiteral("a1"), 1);
    ASSERT_TRUE(newest.ok());
    ASSERT_EQ(newest->size(), 1u);
    EXPECT_EQ(newest->front().event, QStringLiteral("打印"));
}

// 27 values in column order, `changed` put in place of column `at` (0-based).
QString versionJson(int at = -1, const char* changed = nullptr)
{
    QStringList values;
    for (std::size_t i = 0; i < kFieldCount; ++i)
        values << (int(i) == at ? QString::fromUtf8(changed) : i < 14 ? QStringLiteral("\"\"") : QStringLiteral("0"));
    return u'[' + values.join(u',') + u']';
}

TEST(VersionsKeptAsJson, ValuesOfEitherEngineAreReadAndAnythingElseIsRefused)
{
    Result<ReportRecord> read = recordFromJson(versionJson(1, "45"));
    ASSERT_TRUE(read.ok());
    EXPECT_EQ((*read)[Field::Age], QStringLiteral("45"));
    read = recordFromJson(versionJson(12, "\"2024-12-18\""));
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read->examDate, QDate(2024, 12, 18));
    read = recordFromJson(versionJson(22, "1"));
    ASSERT_TRUE(read.ok());
    EXPECT_TRUE(read->checked(Field::FollowUpThreeMonths));
    read = recordFromJson(versionJson(0, "null"));
    ASSERT_TRUE(read.ok());
    EXPECT_TRUE((*read)[Field::PatientName].isEmpty());

    const QString refused[] = {QString(), QStringLiteral("{}"), QStringLiteral("[1, 2]"), versionJson().chopped(1),
                               versionJson().replace(u'[', QStringLiteral("[0,")), versionJson(4, "{}"),
                               versionJson(4, "[]"), versionJson(20, "true")};
    for (const QString& text : refused) {
        read = recordFromJson(text);
        ASSERT_FALSE(read.ok()) << text.toStdString();
        EXPECT_EQ(read.failure().code, FailureCode::VersionUnreadable);
    }
}

KORVELA_ON_BOTH_STORES(ChangeLogOnStore);

} // namespace
