#include "review/follow_up.h"
#include "review/grade_audit.h"
#include "support/test_store.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace korvela;

namespace {

// A report as the tests store it: only the columns the review reads.
struct Stored
{
    const char* number;
    const char* date; // nullptr: stored without a date
    int options = 0;  // FollowUpOption bits
    const char* physician = "王医生";
    const char* xray = "3";       // nullptr: null
    const char* ultrasound = "3"; // nullptr: null
};

Value text(const char* s)
{
    return s ? Value(QString::fromUtf8(s)) : Value(std::monostate{});
}

void store(ReportDatabase& db, const Stored& r)
{
    const Status s = db.execute(
        {QStringLiteral("INSERT INTO A (A1, A2, A3, A8, A9, A12, A13, A14, A23, A24, A25)"
                        " VALUES ('患者', '40', ?1, ?2, ?3, '建议复查', ?4, ?5, ?6, ?7, ?8)"),
         {text(r.number), text(r.xray), text(r.ultrasound), text(r.date), text(r.physician),
          std::int64_t(r.options & ThreeMonths ? 1 : 0), std::int64_t(r.options & SixMonths ? 1 : 0),
          std::int64_t(r.options & OneYear ? 1 : 0)}});
    ASSERT_TRUE(s.ok()) << s.failure().description.toStdString();
}

class ReviewOnStore : public ::testing::TestWithParam<test::StoreKind>
{
protected:
    void storeAll(std::initializer_list<Stored> reports)
    {
        for (const Stored& r : reports)
            store(db, r);
    }

    // Screening number -> due date of every entry of the list, in the list's order.
    std::vector<std::pair<QString, QDate>> listed()
    {
        Result<FollowUpList> list = FollowUpList::read(db);
        EXPECT_TRUE(list.ok()) << (list ? "" : list.failure().description.toStdString());
        std::vector<std::pair<QString, QDate>> out;
        if (!list)
            return out;
        undated = list->undated();
        for (const FollowUpList::Entry& e : list->entries())
            out.emplace_back(list->text(e, FollowUpList::Number), e.due);
        return out;
    }

    test::TestStore testStore{GetParam()};
    ReportDatabase& db = testStore.db();
    int undated = -1;
};

// ---------------------------------------------------------------------------------------------
// Due dates

struct DueCase
{
    const char* examined;
    int options;
    QDate due;
};

TEST_P(ReviewOnStore, DueDatesKeepMonthEndsInTheirMonthAndTakeTheShortestOption)
{
    const DueCase cases[] = {
        {"2024-11-30", ThreeMonths, {2025, 2, 28}},
        {"2023-11-30", ThreeMonths, {2024, 2, 29}}, // leap year
        {"1999-11-30", ThreeMonths, {2000, 2, 29}}, // a century that is a leap year
        {"2099-11-30", ThreeMonths, {2100, 2, 28}}, // one that is not
        {"2024-02-29", OneYear, {2025, 2, 28}},
        {"2024-02-29", SixMonths, {2024, 8, 29}},
        {"2023-08-31", SixMonths, {2024, 2, 29}},
        {"2024-08-31", SixMonths, {2025, 2, 28}},
        {"2024-01-31", ThreeMonths, {2024, 4, 30}},
        {"2024-12-31", OneYear, {2025, 12, 31}},
        {"2024-05-15", ThreeMonths | OneYear, {2024, 8, 15}},
        {"2024-05-16", SixMonths | OneYear, {2024, 11, 16}},
        {"2024-05-17", ThreeMonths | SixMonths | OneYear, {2024, 8, 17}},
    };
    std::map<QString, QDate> expected;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const QByteArray number = "D" + QByteArray::number(int(i));
        store(db, {number.constData(), cases[i].examined, cases[i].options});
        expected[QString::fromLatin1(number)] = cases[i].due;
    }
    store(db, {"N1", "2024-05-15", 0}); // asks for no follow-up

    const auto list = listed();
    ASSERT_EQ(list.size(), expected.size());
    for (const auto& [number, due] : list)
        EXPECT_EQ(due, expected[number]) << number.toStdString();
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end(),
                               [](const auto& a, const auto& b) { return a.second < b.second; }));
}

// ---------------------------------------------------------------------------------------------
// Done: a later report of the same patient

TEST_P(ReviewOnStore, AFollowUpIsDoneOnlyByALaterReportWithTheSameNumberAsTheSaveComparesIt)
{
    const char* asked = "2024-01-10";
    storeAll({
        // Done.
        {"A1", asked, ThreeMonths},
        {"A1", "2024-05-01"},
        {" b2 ", asked, SixMonths},
        {"B2", "2024-02-01"}, // blanks and case on either side
        {"c3x", asked, OneYear},
        {" C3X", "2024-01-11"},
        // Not done.
        {"D4", asked, ThreeMonths},
        {"D4", "2023-06-01"}, // an earlier report only
        {"E5", asked, ThreeMonths},
        {"E5", asked}, // the same day is not later
        {"F6", asked, ThreeMonths},
        {"F60", "2024-05-01"}, // another number that begins alike
        {"G7", asked, ThreeMonths},
        {"G7\t", "2024-05-01"}, // a tab is no blank
        {"H8", asked, ThreeMonths},
        {"Ｈ8", "2024-05-01"}, // a full-width letter is another letter
        {"  ", asked, ThreeMonths},
        {"  ", "2024-05-01"}, // only blanks: no patient to follow
        // Left out: no screening number, as the search leaves it out.
        {"", asked, ThreeMonths},
        {"", nullptr, ThreeMonths},
        {"J9", asked, ThreeMonths},
        {"J9", nullptr}, // a later report without a date
        // Without a date: cannot be due.
        {"K10", nullptr, ThreeMonths},
    });
    std::set<QString> numbers;
    for (const auto& entry : listed())
        numbers.insert(entry.first);
    const std::set<QString> expected{QStringLiteral("D4"), QStringLiteral("E5"), QStringLiteral("F6"),
                                     QStringLiteral("G7"), QStringLiteral("H8"), QStringLiteral("  "),
                                     QStringLiteral("J9")};
    EXPECT_EQ(numbers, expected);
    EXPECT_EQ(undated, 1);
}

TEST(ReviewOnEmbeddedStore, OnlyTheDayOfAStoredDateCountsAndATextThatIsNoDateIsNoDate)
{
    test::TestStore testStore(test::StoreKind::Sqlite);
    ReportDatabase& db = testStore.db();
    for (const Stored& r : std::initializer_list<Stored>{{"T1", "2024-01-10 08:30", ThreeMonths},
                                                         {"T1", "2024-01-10"}, // same day, another time
                                                         {"T2", "2024-01-10", ThreeMonths},
                                                         {"T2", "2024-01-10 23:59"},
                                                         {"T3", "2024-01-10", ThreeMonths},
                                                         {"T3", "2024-02-30"}, // later text, no day
                                                         {"T4", "2024-01-10 08:30", ThreeMonths},
                                                         {"T4", "2024-01-11 07:00"}, // done
                                                         {"T5", "2024-02-30", ThreeMonths},
                                                         {"T6", "10/01/2024", ThreeMonths}, // undated
                                                         {"T7", "2024-02-29 12:00"}})
        store(db, r);
    Result<FollowUpList> list = FollowUpList::read(db);
    ASSERT_TRUE(list.ok());
    QStringList numbers;
    for (const FollowUpList::Entry& e : list->entries())
        numbers << list->text(e, FollowUpList::Number);
    EXPECT_EQ(numbers, (QStringList{QStringLiteral("T1"), QStringLiteral("T2"), QStringLiteral("T3")}));
    EXPECT_EQ(list->entries().front().due, QDate(2024, 4, 10));
    EXPECT_EQ(list->undated(), 2);

    // Of the texts of February only the one that is a day is a report of February.
    Result<GradeAudit> february = GradeAudit::read(db, monthPeriod(2024, 2));
    ASSERT_TRUE(february.ok());
    EXPECT_EQ(february->total.reports, 1);
}

// ---------------------------------------------------------------------------------------------
// Grades

struct BucketCase
{
    const char* stored; // nullptr: null
    GradeBucket bucket;
};

TEST(GradeBucketing, OneDigitAfterTrimmingBlanksEmptyIsUngradedAnythingElseOther)
{
    const BucketCase cases[] = {
        {"3", GradeBucket::G3},           {" 3 ", GradeBucket::G3},    {"0", GradeBucket::G0},
        {"6", GradeBucket::G6},           {"", GradeBucket::Ungraded}, {"   ", GradeBucket::Ungraded},
        {nullptr, GradeBucket::Ungraded}, {"３", GradeBucket::Other},  {"3类", GradeBucket::Other},
        {"4a", GradeBucket::Other},       {"7", GradeBucket::Other},   {"33", GradeBucket::Other},
        {"\t3", GradeBucket::Other},      {"-", GradeBucket::Other},
    };
    for (const BucketCase& c : cases)
        EXPECT_EQ(gradeBucket(text(c.stored)), c.bucket) << (c.stored ? c.stored : "<null>");
}

// The figures of a small department's first quarter of 2024, worked out by hand below.
TEST_P(ReviewOnStore, AuditOfAQuarterGivesTheFiguresWorkedOutByHand)
{
    storeAll({
        // Reports of the quarter.
        {"P1", "2024-01-05", 0, "王医生", "0", "3"},
        {"P2", "2024-02-10", 0, "王医生", "4", ""},
        {"P3", "2024-03-31", 0, "王医生", " 5 ", "3类"},
        {"P4", "2024-03-01", 0, " 王医生 ", "３", nullptr},
        {"P5", "2024-01-20", 0, "Li", "2", "1"},
        {"P6", "2024-02-29", 0, "LI", "6", "1"},
        {"P7", "2024-01-31", 0, "", "", "2"},
        {"F6", "2024-01-01", ThreeMonths, "王医生", "", ""}, // due 2024-04-01: after the quarter
        {"f1 ", "2024-01-20", 0, "Li", "1", "1"},            // F1's patient back
        // Before and after it.
        {"P8", "2023-12-31", 0, "王医生", "0", "0"},
        {"P9", "2024-04-01", 0, "Li", "0", "0"},
        {"P10", nullptr, 0, "王医生", "0", "0"},
        {"", "2024-02-15", OneYear, "王医生", "0", "0"}, // no screening number: left out
        {"", "2023-11-15", ThreeMonths, "王医生", "0", "0"},
        // Follow-ups asked for before the quarter.
        {"F1", "2023-10-15", ThreeMonths, "王医生"}, // due 01-15, done (f1 on 01-20)
        {"F2", "2023-09-30", SixMonths, "王医生"},   // due 03-30
        {"F8", "2023-10-16", ThreeMonths, "王医生"}, // due 01-16; only an earlier report
        {"F8", "2023-01-01", 0, "王医生"},
        {"F3", "2023-03-31", OneYear, "Li"}, // due 03-31, done on 2023-06-01
        {"F3", "2023-06-01", 0, "Li"},
        {"F9", "2023-01-01", OneYear, "Li"},     // due 01-01: asked a year before the quarter
        {"F4", "2023-12-31", ThreeMonths, "LI"}, // due 03-31; the same day is not later
        {"F4", "2023-12-31", 0, "LI"},
        {"F5", "2023-11-30", ThreeMonths | OneYear, ""}, // due 02-29
        {"F7", "2022-12-31", OneYear, "王医生"},         // due 2023-12-31: before the quarter
    });
    Result<GradeAudit> read = GradeAudit::read(db, quarterPeriod(2024, 1));
    ASSERT_TRUE(read.ok()) << read.failure().description.toStdString();
    const GradeAudit& audit = *read;

    // 主检医师, 报告数, X线0..6 未评 其它, 超声0..6 未评 其它, X线0/4/5级占比, 期内应随诊, 已随诊, 随诊完成率
    const auto row = [](const char* cells) { return QString::fromUtf8(cells).split(u' '); };
    std::map<QString, QStringList> expected{
        {QStringLiteral("王医生"), row("王医生 5 1 0 0 0 1 1 0 1 1 0 0 0 1 0 0 0 3 1 100.0% 3 1 33.3%")},
        {QStringLiteral("Li"), row("Li 3 0 1 1 0 0 0 1 0 0 0 3 0 0 0 0 0 0 0 0.0% 3 1 33.3%")},
        {QString(), row("（未填写） 1 0 0 0 0 0 0 0 1 0 0 0 1 0 0 0 0 0 0 — 1 0 0.0%")},
    };
    ASSERT_EQ(audit.physicians.size(), 3u);
    for (const PhysicianFigures& f : audit.physicians)
        EXPECT_EQ(auditRow(f, physicianCaption(f.physician)), expected[f.physician])
            << f.physician.toStdString();
    EXPECT_TRUE(audit.physicians.back().physician.isEmpty()) << "the reports without a physician come last";
    EXPECT_EQ(auditRow(audit.total, QStringLiteral("合计")),
              row("合计 9 1 1 1 0 1 1 1 2 1 0 3 1 1 0 0 0 3 1 50.0% 7 2 28.6%"));

    const std::vector<std::pair<QDate, int>> months{{{2024, 1, 1}, 5}, {{2024, 2, 1}, 2}, {{2024, 3, 1}, 2}};
    EXPECT_EQ(audit.reportsPerMonth, months);
}

KORVELA_ON_BOTH_STORES(ReviewOnStore);

} // namespace
