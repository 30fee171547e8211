#include "search/found_reports.h"
#include "records/report_store.h"
#include "search/search_statement.h"
#include "store/sqlite_database.h"
#include "support/temp_database.h"
#include "support/test_store.h"

#include <QStringList>
#include <chrono>
#include <gtest/gtest.h>

using namespace korvela;
using namespace std::chrono_literals;

namespace {

QStringList ids(std::initializer_list<const char*> items)
{
    QStringList out;
    for (const char* item : items)
        out << QString::fromUtf8(item);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Reading a typed date

struct DateCase
{
    const char* typed;
    QDate expected; // invalid: not a date
};

class TypedDate : public ::testing::TestWithParam<DateCase>
{
};

TEST_P(TypedDate, IsReadAsTheDayMeantOrRefused)
{
    const DateCase& c = GetParam();
    const std::optional<QDate> read = readTypedDate(QString::fromUtf8(c.typed));
    if (c.expected.isValid()) {
        ASSERT_TRUE(read.has_value()) << c.typed;
        EXPECT_EQ(*read, c.expected) << c.typed;
    } else {
        EXPECT_FALSE(read.has_value()) << c.typed << " read as " << read->toString(Qt::ISODate).toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, TypedDate,
    ::testing::Values(DateCase{"2024-03-05", {2024, 3, 5}}, DateCase{"2024-3-5", {2024, 3, 5}},
                      DateCase{"2024/3/5", {2024, 3, 5}}, DateCase{"2024/03/05", {2024, 3, 5}},
                      DateCase{"2024.3.5", {2024, 3, 5}}, DateCase{"2024.12.31", {2024, 12, 31}},
                      DateCase{"2024年3月5日", {2024, 3, 5}}, DateCase{"2024年03月05日", {2024, 3, 5}},
                      DateCase{"2024年3月5", {2024, 3, 5}}, DateCase{"20240305", {2024, 3, 5}},
                      DateCase{"  2024-3-5  ", {2024, 3, 5}}, DateCase{"２０２４－３－５", {2024, 3, 5}},
                      DateCase{"2024-02-29", {2024, 2, 29}}, DateCase{"2000-02-29", {2000, 2, 29}}));

INSTANTIATE_TEST_SUITE_P(
    NotDates, TypedDate,
    ::testing::Values(DateCase{"2024-02-30", {}}, DateCase{"2023-02-29", {}}, DateCase{"1900-02-29", {}},
                      DateCase{"2024-13-01", {}}, DateCase{"2024-00-10", {}}, DateCase{"2024-04-31", {}},
                      DateCase{"2024-4-0", {}}, DateCase{"0000-01-01", {}}, DateCase{"20240230", {}},
                      DateCase{"2024-3/5", {}}, DateCase{"2024-3-5-", {}}, DateCase{"24-3-5", {}},
                      DateCase{"2024-003-5", {}}, DateCase{"2024 3 5", {}}, DateCase{"2024-3-5 10:00", {}},
                      DateCase{"三月五日", {}}, DateCase{"2024", {}}, DateCase{"202435", {}},
                      DateCase{"'; DROP TABLE A; --", {}}, DateCase{"%", {}}, DateCase{"", {}},
                      DateCase{"\t2024-3-5", {}}, DateCase{"٢٠٢٤-٣-٥", {}}));

// ---------------------------------------------------------------------------------------------
// The statement itself

TEST(SearchStatement, EachBoxBindsItsTrimmedTextAsAnEscapedPrefix)
{
    const QString none;
    const auto args = [](const Result<Statement>& s) {
        EXPECT_TRUE(s.ok());
        QStringList out;
        for (const Value& v : s->args)
            out << valueToText(v);
        return out;
    };
    EXPECT_EQ(args(BuildSearchStatement(SqlDialect::Sqlite, none, none, none, none, none)), QStringList());
    EXPECT_EQ(args(BuildSearchStatement(SqlDialect::Sqlite, QStringLiteral("   "), QStringLiteral(" "), QStringLiteral("  "),
                                        QStringLiteral(" "), QStringLiteral(" "))),
              QStringList());
    EXPECT_EQ(args(BuildSearchStatement(SqlDialect::Sqlite, QStringLiteral(" SC 01 "), none, none, none, none)),
              QStringList{QStringLiteral("SC 01%")});
    EXPECT_EQ(args(BuildSearchStatement(SqlDialect::Sqlite, none, QStringLiteral(" 张 "), none, none, none)),
              QStringList{QStringLiteral("张%")});
    EXPECT_EQ(args(BuildSearchStatement(SqlDialect::Sqlite, none, none, QStringLiteral("王_医%生\\"), none, none)),
              QStringList{QStringLiteral("王\\_医\\%生\\\\%")});
    EXPECT_EQ(
        args(BuildSearchStatement(SqlDialect::Sqlite, none, none, none, QStringLiteral("2024-3-5"), QStringLiteral("2024/3/31"))),
        (QStringList{QStringLiteral("2024-03-05"), QStringLiteral("2024-04-01")}));
    EXPECT_EQ(args(BuildSearchStatement(SqlDialect::Sqlite, none, none, none, QStringLiteral("2024-3-5"), none)),
              QStringList{QStringLiteral("2024-03-05")});
    EXPECT_EQ(args(BuildSearchStatement(SqlDialect::Sqlite, none, none, none, none, QStringLiteral("2024-3-5"))), QStringList());
    EXPECT_EQ(args(BuildSearchStatement(SqlDialect::Sqlite, none, none, none, QStringLiteral("2024-3-5"),
                                        QStringLiteral("9999-12-31"))),
              QStringList{QStringLiteral("2024-03-05")});

    // Nothing typed ever becomes part of the SQL text.
    const QString hostile = QStringLiteral("x'); DROP TABLE A; --");
    const Result<Statement> all = BuildSearchStatement(SqlDialect::Sqlite, 
        hostile, hostile, hostile, QStringLiteral("2024-01-01"), QStringLiteral("2024-12-31"));
    ASSERT_TRUE(all.ok());
    EXPECT_FALSE(all->sql.contains(QStringLiteral("DROP")));
    EXPECT_EQ(all->args.size(), 5u);
}

TEST(SearchStatement, AnUnreadableDateFailsNamingItsBox)
{
    const QString none;
    const Result<Statement> from =
        BuildSearchStatement(SqlDialect::Sqlite, none, none, none, QStringLiteral("2024-02-30"), QStringLiteral("2024-03-01"));
    ASSERT_FALSE(from.ok());
    EXPECT_EQ(from.failure().code, FailureCode::FromDateUnreadable);
    EXPECT_TRUE(from.failure().description.contains(QStringLiteral("“从”")))
        << from.failure().description.toStdString();
    EXPECT_TRUE(from.failure().description.contains(QStringLiteral("2024-02-30")));

    const Result<Statement> to =
        BuildSearchStatement(SqlDialect::Sqlite, none, none, none, QStringLiteral("2024-02-01"), QStringLiteral("明天"));
    ASSERT_FALSE(to.ok());
    EXPECT_EQ(to.failure().code, FailureCode::ToDateUnreadable);
    EXPECT_TRUE(to.failure().description.contains(QStringLiteral("“到”")));

    // A very long text is named by its beginning only.
    const Result<Statement> longText =
        BuildSearchStatement(SqlDialect::Sqlite, none, none, none, QString(5000, u'x'), QStringLiteral("2024-03-01"));
    ASSERT_FALSE(longText.ok());
    EXPECT_LT(longText.failure().description.size(), 200);

    // b113 is not read at all while b13 is empty.
    EXPECT_TRUE(BuildSearchStatement(SqlDialect::Sqlite, none, none, none, QStringLiteral("  "), QStringLiteral("明天")).ok());
}

TEST(SearchStatement, CountCaptionHasTheCountBetweenBlanks)
{
    EXPECT_EQ(foundCountCaption(0), u"共查询到 0 条符合条件的记录");
    EXPECT_EQ(foundCountCaption(1234567), u"共查询到 1234567 条符合条件的记录");
}

// ---------------------------------------------------------------------------------------------
// The statement on a real database

// A store of either kind with the search's result set on it.
class StoreSearch
{
protected:
    explicit StoreSearch(test::StoreKind kind)
        : store(kind)
    {}

    // A report with the columns the search looks at; null where a Value is monostate.
    void add(const Value& a3, const Value& a1, const Value& a14, const Value& a13)
    {
        const Status s =
            db.execute({QStringLiteral("INSERT INTO A (A3, A1, A14, A13, A15) VALUES (?1, ?2, ?3, ?4, 0)"),
                        {a3, a1, a14, a13}});
        ASSERT_TRUE(s.ok()) << s.failure().description.toStdString();
    }

    Result<Statement> statement(const QString& b3, const QString& b1 = {}, const QString& b14 = {},
                                const QString& b13 = {}, const QString& b113 = {})
    {
        return BuildSearchStatement(db.dialect(), b3, b1, b14, b13, b113);
    }

    // The screening numbers found, in the order found.
    QStringList found(const QString& b3, const QString& b1 = {}, const QString& b14 = {},
                      const QString& b13 = {}, const QString& b113 = {})
    {
        const Result<Statement> built = statement(b3, b1, b14, b13, b113);
        EXPECT_TRUE(built.ok());
        if (!built)
            return {QStringLiteral("<no statement>")};
        const Status opened = results->open(*built);
        EXPECT_TRUE(opened.ok()) << (opened ? "" : opened.failure().description.toStdString());
        if (!opened)
            return {QStringLiteral("<refused>")};
        QStringList numbers;
        for (; results->hasCurrentRow(); (void)results->moveNext())
            numbers << valueToText(*results->field(QStringLiteral("a3")));
        return numbers;
    }

    test::TestStore store;
    ReportDatabase& db = store.db();
    std::unique_ptr<ResultSet> results = db.createResultSet();
};

class SearchOnDatabase : public ::testing::TestWithParam<test::StoreKind>, public StoreSearch
{
protected:
    SearchOnDatabase()
        : StoreSearch(GetParam())
    {}
};

TEST_P(SearchOnDatabase, EmptyBoxesFindEveryNumberedReportNewestFirst)
{
    const QString d = QStringLiteral("2024-03-05");
    add(QStringLiteral("R1"), QStringLiteral("张三"), QStringLiteral("王医生"), QStringLiteral("2024-03-01"));
    add(QStringLiteral("R2"), QStringLiteral("李四"), QStringLiteral("赵医生"), QStringLiteral("2024-03-10"));
    add(QStringLiteral(""), QStringLiteral("无编号"), QStringLiteral("王医生"), d);
    add(std::monostate{}, QStringLiteral("空编号"), QStringLiteral("王医生"), d);
    add(QStringLiteral("R3"), QStringLiteral("王五"), QStringLiteral("王医生"), std::monostate{});
    add(QStringLiteral("R4"), QStringLiteral("赵六"), QStringLiteral("王医生"), d);
    add(QStringLiteral("R5"), QStringLiteral("钱七"), QStringLiteral("王医生"), d);
    add(QStringLiteral(" "), QStringLiteral("空格编号"), QStringLiteral("王医生"), d);

    // Equal dates: the one entered last first. No date: last of all. A blank is a screening number.
    const QStringList all{QStringLiteral("R2"), QStringLiteral(" "),  QStringLiteral("R5"),
                          QStringLiteral("R4"), QStringLiteral("R1"), QStringLiteral("R3")};
    EXPECT_EQ(found({}), all);
    EXPECT_EQ(found(QStringLiteral("  "), QStringLiteral(" "), QStringLiteral("   "), QStringLiteral(" "),
                    QStringLiteral(" ")),
              all);
    EXPECT_EQ(results->recordCount(), 6);
}

TEST_P(SearchOnDatabase, EachBoxIsATrimmedPrefixAndAllFilledBoxesMustMatch)
{
    add(QStringLiteral("SC2024001"), QStringLiteral("张三"), QStringLiteral("王建国"),
        QStringLiteral("2024-03-01"));
    add(QStringLiteral("SC2024002"), QStringLiteral("小张"), QStringLiteral("王建国"),
        QStringLiteral("2024-03-02"));
    add(QStringLiteral("sc2023009"), QStringLiteral("张丽华"), QStringLiteral("李明"),
        QStringLiteral("2023-11-20"));
    add(QStringLiteral("XSC2024"), QStringLiteral("Zhang Wei"), QStringLiteral("Wang"),
        QStringLiteral("2024-01-01"));

    EXPECT_EQ(found(QStringLiteral(" SC2024 ")), ids({"SC2024002", "SC2024001"}));
    EXPECT_EQ(found(QStringLiteral("Sc")), ids({"SC2024002", "SC2024001", "sc2023009"}));
    EXPECT_EQ(found({}, QStringLiteral(" 张 ")), ids({"SC2024001", "sc2023009"}));
    EXPECT_EQ(found({}, QStringLiteral("zhang w")), ids({"XSC2024"}));
    EXPECT_EQ(found({}, {}, QStringLiteral("王")), ids({"SC2024002", "SC2024001"}));
    EXPECT_EQ(found({}, {}, QStringLiteral("WANG")), ids({"XSC2024"}));
    EXPECT_EQ(found(QStringLiteral("sc"), QStringLiteral("张"), QStringLiteral("王")), ids({"SC2024001"}));
    EXPECT_EQ(found(QStringLiteral("sc2023"), QStringLiteral("张"), QStringLiteral("王")), QStringList());
    EXPECT_EQ(found(QStringLiteral("SC2024001X")), QStringList());
}

TEST_P(SearchOnDatabase, DateRangeIncludesBothEndsAndIsOpenAtTheTopWithoutALastDay)
{
    add(QStringLiteral("FEB"), QStringLiteral("甲"), QStringLiteral("医"), QStringLiteral("2024-02-29"));
    add(QStringLiteral("MAR1"), QStringLiteral("乙"), QStringLiteral("医"), QStringLiteral("2024-03-01"));
    add(QStringLiteral("MAR31"), QStringLiteral("丙"), QStringLiteral("医"), QStringLiteral("2024-03-31"));
    add(QStringLiteral("MAR31T"), QStringLiteral("丁"), QStringLiteral("医"),
        QStringLiteral("2024-03-31 00:00:00"));
    add(QStringLiteral("APR"), QStringLiteral("戊"), QStringLiteral("医"), QStringLiteral("2024-04-01"));
    add(QStringLiteral("NODATE"), QStringLiteral("己"), QStringLiteral("医"), std::monostate{});

    EXPECT_EQ(found({}, {}, {}, QStringLiteral("2024-3-1"), QStringLiteral("2024/3/31")),
              ids({"MAR31T", "MAR31", "MAR1"}));
    EXPECT_EQ(found({}, {}, {}, QStringLiteral("2024年3月31日"), QStringLiteral("20240331")),
              ids({"MAR31T", "MAR31"}));
    EXPECT_EQ(found({}, {}, {}, QStringLiteral("2024.3.1"), QStringLiteral(" ")),
              ids({"APR", "MAR31T", "MAR31", "MAR1"}));
    EXPECT_EQ(found({}, {}, {}, {}, QStringLiteral("2024-02-29")),
              ids({"APR", "MAR31T", "MAR31", "MAR1", "FEB", "NODATE"}));
    EXPECT_EQ(found({}, {}, {}, QStringLiteral("2024-04-01"), QStringLiteral("2024-03-01")), QStringList());
    EXPECT_EQ(found({}, {}, {}, QStringLiteral("2024-01-01"), QStringLiteral("9999-12-31")),
              ids({"APR", "MAR31T", "MAR31", "MAR1", "FEB"}));
    EXPECT_EQ(found(QStringLiteral("MAR"), QStringLiteral("乙"), QStringLiteral("医"),
                    QStringLiteral("2024-3-1"), QStringLiteral("2024-3-1")),
              ids({"MAR1"}));
}

// Hostile text in each text box finds exactly the rows that begin with it, taken literally.
struct HostileCase
{
    const char* name;
    QString typed;
    QString matching;     // begins with the typed text
    QString lookingAlike; // would match if the text were taken as a pattern or case-folded wrongly
};

class HostileText : public ::testing::TestWithParam<std::tuple<test::StoreKind, HostileCase>>, public StoreSearch
{
protected:
    HostileText()
        : StoreSearch(std::get<0>(GetParam()))
    {}
};

TEST_P(HostileText, InEveryBoxFindsOnlyWhatBeginsWithIt)
{
    const HostileCase& c = std::get<1>(GetParam());
    for (const char* column : {"A3", "A1", "A14"}) {
        SCOPED_TRACE(column);
        ASSERT_TRUE(db.execute({QStringLiteral("DELETE FROM A"), {}}).ok());
        const QString number = QString::fromLatin1(column);
        const auto row = [&](const QString& text, const QString& id) {
            const Value a3 = number == u"A3" ? Value(text) : Value(id);
            const Value a1 = number == u"A1" ? Value(text) : Value(QStringLiteral("患者") + id);
            const Value a14 = number == u"A14" ? Value(text) : Value(QStringLiteral("医生") + id);
            add(a3, a1, a14, QStringLiteral("2024-01-01"));
        };
        row(c.matching, QStringLiteral("match"));
        row(c.lookingAlike, QStringLiteral("alike"));

        const QString b3 = number == u"A3" ? c.typed : QString();
        const QString b1 = number == u"A1" ? c.typed : QString();
        const QString b14 = number == u"A14" ? c.typed : QString();
        const QStringList numbers = found(b3, b1, b14);
        ASSERT_EQ(numbers.size(), 1);
        EXPECT_EQ(numbers.first(), number == u"A3" ? c.matching : QStringLiteral("match"));
    }
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT count(*) FROM A")), u"2") << "the table is intact";
}

QString repeated(const QString& s, int n)
{
    return s.repeated(n);
}

const auto hostileCases = ::testing::Values(
        HostileCase{"quote", QStringLiteral("O'Brien"), QStringLiteral("O'Brien Mary"),
                    QStringLiteral("OBrien")},
        HostileCase{"quotes", QStringLiteral("a''b\""), QStringLiteral("a''b\"c"), QStringLiteral("a'b\"c")},
        HostileCase{"injection", QStringLiteral("x' OR '1'='1"), QStringLiteral("x' OR '1'='1 y"),
                    QStringLiteral("x")},
        HostileCase{"percent", QStringLiteral("50%"), QStringLiteral("50% 以上"), QStringLiteral("500")},
        HostileCase{"percent alone", QStringLiteral("%"), QStringLiteral("%张"), QStringLiteral("张%")},
        HostileCase{"underscore", QStringLiteral("A_1"), QStringLiteral("A_1-7"), QStringLiteral("AB1")},
        HostileCase{"backslash", QStringLiteral("C:\\"), QStringLiteral("C:\\x"), QStringLiteral("C:x")},
        HostileCase{"escape pair", QStringLiteral("\\%"), QStringLiteral("\\%z"), QStringLiteral("%z")},
        HostileCase{"brackets", QStringLiteral("[张]*?"), QStringLiteral("[张]*?三"), QStringLiteral("张")},
        HostileCase{"wide", QStringLiteral("ＳＣ１"), QStringLiteral("ＳＣ１２"), QStringLiteral("SC12")},
        HostileCase{"long", repeated(QStringLiteral("张%_"), 1000),
                    repeated(QStringLiteral("张%_"), 1000) + u'尾',
                    repeated(QStringLiteral("张%_"), 999) + u'张'},
        HostileCase{"longer", repeated(QStringLiteral("张%_"), 3000),
                    repeated(QStringLiteral("张%_"), 3000) + u'尾',
                    repeated(QStringLiteral("张%_"), 2999) + u'张'},
        HostileCase{"very long", repeated(QStringLiteral("张"), 32767),
                    repeated(QStringLiteral("张"), 32767) + u'尾', repeated(QStringLiteral("张"), 32766)},
        HostileCase{"very long latin", repeated(QStringLiteral("a张张"), 10000),
                    repeated(QStringLiteral("A张张"), 10000),
                    repeated(QStringLiteral("a张张"), 9999) + u'b'});

std::string hostileName(const ::testing::TestParamInfo<std::tuple<test::StoreKind, HostileCase>>& param)
{
    std::string name = std::get<1>(param.param).name;
    for (char& ch : name)
        if (ch == ' ')
            ch = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Sqlite, HostileText,
                         ::testing::Combine(::testing::Values(test::StoreKind::Sqlite), hostileCases), hostileName);
INSTANTIATE_TEST_SUITE_P(Server, HostileText,
                         ::testing::Combine(::testing::Values(test::StoreKind::Server), hostileCases), hostileName);

// The engine limits LIKE patterns; where no index decides, every row's text is compared.
TEST_P(SearchOnDatabase, LongestTextsInAllBoxesAtOnce)
{
    const QString longest = repeated(QStringLiteral("a张%"), 10922); // as much as a text box takes
    add(longest + u'1', longest.toUpper(), longest + u'尾', QStringLiteral("2024-05-01"));
    add(longest, longest, longest.left(longest.size() - 1), QStringLiteral("2024-05-01"));
    add(QStringLiteral("a张"), longest, longest, QStringLiteral("2024-05-01"));
    EXPECT_EQ(found(longest, longest, longest, QStringLiteral("2024-05-01"), QStringLiteral("2024-05-01")),
              QStringList{longest + u'1'});
}

// ---------------------------------------------------------------------------------------------
// Running a search and browsing the reports it found

// How the found reports are read: all keys at the search, or a page of keys at a time (pages of
// three, so that a few reports cross page edges).
enum class Reading { AllKeys, Pages };

class Browsing : public ::testing::TestWithParam<std::tuple<test::StoreKind, Reading>>, public StoreSearch
{
protected:
    Browsing()
        : StoreSearch(std::get<0>(GetParam()))
    {}

    // Shows a report by remembering its screening number; fails for the numbers in `unreadable`.
    ShowReport shower()
    {
        return [this](std::int64_t, const ReportRecord& report) -> Status {
            if (unreadable.contains(report[Field::ScreeningNumber]))
                return Failure{42, QStringLiteral("读不出")};
            shown = report[Field::ScreeningNumber];
            return {};
        };
    }

    QString step(BrowseStep s)
    {
        const Status st = found.browse(s, shower());
        EXPECT_TRUE(st.ok());
        return shown;
    }
    QString next() { return step(BrowseStep::Next); }
    QString previous() { return step(BrowseStep::Previous); }

    int search(const QString& b3 = {})
    {
        const Result<int> n = found.search(*BuildSearchConditions(db.dialect(), b3, {}, {}, {}, {}), shower());
        EXPECT_TRUE(n.ok());
        return n ? *n : -1;
    }

    // Every report found, walking ">" from the first until it wraps.
    QStringList walkForward(int count)
    {
        QStringList seen{shown};
        for (int i = 1; i < count; ++i)
            seen << next();
        return seen;
    }

    bool paged = std::get<1>(GetParam()) == Reading::Pages;
    ReportStore reportStore{db};
    FoundReports found{reportStore, paged ? 3 : 64, paged ? 0 : 50000};
    QString shown;
    QStringList unreadable;
};

TEST_P(Browsing, ThreeRowsGoForwardWithWrapAndBackStopsAtTheFirst)
{
    add(QStringLiteral("r3"), QStringLiteral("丙"), QStringLiteral("医"), QStringLiteral("2024-01-01"));
    add(QStringLiteral("r1"), QStringLiteral("甲"), QStringLiteral("医"), QStringLiteral("2024-03-01"));
    add(QStringLiteral("r2"), QStringLiteral("乙"), QStringLiteral("医"), QStringLiteral("2024-02-01"));

    EXPECT_EQ(search(), 3);
    EXPECT_EQ(shown, u"r1");
    EXPECT_EQ(next(), u"r2");
    EXPECT_EQ(next(), u"r3");
    EXPECT_EQ(next(), u"r1");
    EXPECT_EQ(previous(), u"r1");
    EXPECT_EQ(previous(), u"r1");
    EXPECT_EQ(next(), u"r2");
    EXPECT_EQ(previous(), u"r1");
    EXPECT_EQ(next(), u"r2");
    EXPECT_EQ(next(), u"r3");
    EXPECT_EQ(previous(), u"r2");
    EXPECT_EQ(found.count(), 3);
}

TEST_P(Browsing, OneRowKeepsShowingItAndNoRowsShowNothing)
{
    add(QStringLiteral("solo"), QStringLiteral("甲"), QStringLiteral("医"), QStringLiteral("2024-01-01"));
    EXPECT_EQ(search(), 1);
    EXPECT_EQ(next(), u"solo");
    EXPECT_EQ(previous(), u"solo");
    EXPECT_EQ(next(), u"solo");

    shown.clear();
    EXPECT_EQ(search(QStringLiteral("nothing")), 0);
    EXPECT_EQ(next(), u"");
    EXPECT_EQ(previous(), u"");

    // Never searched: nothing to browse either.
    found.clear();
    EXPECT_EQ(next(), u"");
}

TEST_P(Browsing, ARowThatCannotBeShownFallsBackToTheFirst)
{
    add(QStringLiteral("r1"), QStringLiteral("甲"), QStringLiteral("医"), QStringLiteral("2024-03-01"));
    add(QStringLiteral("r2"), QStringLiteral("乙"), QStringLiteral("医"), QStringLiteral("2024-02-01"));
    add(QStringLiteral("r3"), QStringLiteral("丙"), QStringLiteral("医"), QStringLiteral("2024-01-01"));
    EXPECT_EQ(search(), 3);
    EXPECT_EQ(next(), u"r2");
    unreadable = QStringList{QStringLiteral("r3")};
    EXPECT_EQ(next(), u"r1") << "r3 cannot be shown: the first is shown instead";
    EXPECT_EQ(next(), u"r2") << "and browsing goes on from the first";

    // When not even the first can be shown, that failure is given back.
    unreadable = QStringList{QStringLiteral("r1"), QStringLiteral("r2")};
    const Status failed = found.browse(BrowseStep::Previous, shower());
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.failure().code, 42);
}

// Every count around the page size walks the same order both ways, across page edges and across
// the edge between dated reports and those without a date; equal dates show the last entered first.
TEST_P(Browsing, EveryCountWalksTheSameOrderForwardAndBack)
{
    // Entered in this order; shown newest date first, ties and undated reports last entered first.
    const struct
    {
        const char* number;
        const char* date;
    } reports[] = {{"e", "2024-01-01"}, {"nd1", nullptr}, {"b", "2024-03-01"}, {"c", "2024-02-01"},
                   {"a", "2024-03-01"}, {"nd2", nullptr}, {"d", "2024-02-01"}};
    const QStringList order{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("d"), QStringLiteral("c"),
                            QStringLiteral("e"), QStringLiteral("nd2"), QStringLiteral("nd1")};
    for (int n = 1; n <= int(std::size(reports)); ++n) {
        SCOPED_TRACE(n);
        store.exec(QStringLiteral("DELETE FROM A"));
        QStringList expected;
        for (int i = 0; i < n; ++i)
            add(QString::fromLatin1(reports[i].number), QStringLiteral("某"), QStringLiteral("医"),
                reports[i].date ? Value(QString::fromLatin1(reports[i].date)) : Value());
        for (const QString& number : order)
            for (int i = 0; i < n; ++i)
                if (number == QString::fromLatin1(reports[i].number))
                    expected << number;
        ASSERT_EQ(search(), n);
        EXPECT_EQ(walkForward(n), expected);
        EXPECT_EQ(next(), expected.first()) << "> on the last wraps to the first";
        for (int i = 0; i < n - 1; ++i)
            (void)next();
        QStringList back{shown};
        for (int i = 1; i < n; ++i)
            back.prepend(previous());
        EXPECT_EQ(back, expected) << "< walks the same order back";
        EXPECT_EQ(previous(), expected.first()) << "< on the first stays there";
    }
}

// Reports deleted or changed by another workstation after the search: browsing passes over what is
// gone or no longer matches, shows the others as they are now, never fails and never shows a
// report entered after the search. The count is what the search said.
TEST_P(Browsing, ReportsChangedOrDeletedElsewhereArePassedOverOrShownAsTheyAreNow)
{
    for (int i = 1; i <= 8; ++i)
        add(QStringLiteral("r%1").arg(i), QStringLiteral("某"), QStringLiteral("医"),
            QStringLiteral("2024-01-%1").arg(10 + i)); // r8 newest
    EXPECT_EQ(search(QStringLiteral("r")), 8);
    EXPECT_EQ(next(), u"r7");
    store.exec(QStringLiteral("DELETE FROM A WHERE A3 IN ('r6', 'r4', 'r3');"
                              "UPDATE A SET A3 = 'r5-new' WHERE A3 = 'r5';"
                              "UPDATE A SET A3 = 'x2' WHERE A3 = 'r2';"));
    add(QStringLiteral("r9"), QStringLiteral("某"), QStringLiteral("医"), QStringLiteral("2024-02-01"));
    EXPECT_EQ(next(), u"r5-new") << "r6 is gone; r5 is shown as it is now";
    EXPECT_EQ(next(), u"r1") << "r4, r3 are gone; r2 no longer begins with r";
    EXPECT_EQ(next(), u"r8") << "wraps to the first found, not to r9 entered after the search";
    EXPECT_EQ(previous(), u"r8");
    EXPECT_EQ(next(), u"r7");
    EXPECT_EQ(found.count(), 8);

    // Everything deleted: browsing shows nothing new and says nothing.
    store.exec(QStringLiteral("DELETE FROM A"));
    EXPECT_TRUE(found.browse(BrowseStep::Next, shower()).ok());
    EXPECT_EQ(shown, u"r7");
}

// A report deleted from this window stays among the found ones: browsing back to it shows it as
// it was, while the database no longer holds it.
TEST_P(Browsing, AReportDeletedFromThisWindowIsStillShownWhenBrowsedBackTo)
{
    for (int i = 1; i <= 7; ++i)
        add(QStringLiteral("r%1").arg(i), QStringLiteral("某"), QStringLiteral("医"),
            QStringLiteral("2024-01-%1").arg(10 + i)); // r7 newest
    add(QStringLiteral(" R2 "), QStringLiteral("某"), QStringLiteral("医"), QStringLiteral("2024-01-01"));
    EXPECT_EQ(search(), 8);
    EXPECT_EQ(next(), u"r6");
    // r6 shown; the window deletes it, and with it r2 and " R2 " that were not browsed to yet.
    for (const char* number : {"r6", "r2"}) {
        found.keepBeforeDelete(QString::fromLatin1(number));
        ASSERT_TRUE(reportStore.remove(QString::fromLatin1(number)).ok());
    }
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT count(*) FROM A")), u"5");
    EXPECT_EQ(walkForward(9), (QStringList{QStringLiteral("r6"), QStringLiteral("r5"), QStringLiteral("r4"),
                                           QStringLiteral("r3"), QStringLiteral("r2"), QStringLiteral("r1"),
                                           QStringLiteral(" R2 "), QStringLiteral("r7"), QStringLiteral("r6")}));
    EXPECT_EQ(previous(), u"r7");
}

// What is kept before a delete is what the search found: a report saved elsewhere under the same
// number after the search is deleted with it, and never shown.
TEST_P(Browsing, AReportSavedElsewhereUnderTheNumberAfterTheSearchIsNotKeptByTheDelete)
{
    add(QStringLiteral("r1"), QStringLiteral("某"), QStringLiteral("医"), QStringLiteral("2024-01-01"));
    add(QStringLiteral("r2"), QStringLiteral("某"), QStringLiteral("医"), QStringLiteral("2024-01-02"));
    EXPECT_EQ(search(), 2);
    add(QStringLiteral(" R1"), QStringLiteral("某"), QStringLiteral("医"), QStringLiteral("2024-02-01"));
    found.keepBeforeDelete(QStringLiteral("r1"));
    ASSERT_TRUE(reportStore.remove(QStringLiteral("r1")).ok());
    EXPECT_EQ(walkForward(3), (QStringList{QStringLiteral("r2"), QStringLiteral("r1"), QStringLiteral("r2")}));
    EXPECT_EQ(previous(), u"r2");
}

// A new search in the middle of the pages replaces every found report of the old one.
TEST_P(Browsing, ASearchReplacedInTheMiddleOfThePagesStartsAfresh)
{
    for (int i = 1; i <= 7; ++i) {
        add(QStringLiteral("a%1").arg(i), QStringLiteral("甲"), QStringLiteral("医"), QStringLiteral("2024-01-%1").arg(10 + i));
        add(QStringLiteral("b%1").arg(i), QStringLiteral("乙"), QStringLiteral("医"), QStringLiteral("2023-01-%1").arg(10 + i));
    }
    EXPECT_EQ(search(QStringLiteral("a")), 7);
    for (int i = 0; i < 4; ++i)
        (void)next();
    EXPECT_EQ(shown, u"a3");
    EXPECT_EQ(search(QStringLiteral("b")), 7);
    EXPECT_EQ(shown, u"b7");
    EXPECT_EQ(walkForward(8), (QStringList{QStringLiteral("b7"), QStringLiteral("b6"), QStringLiteral("b5"),
                                           QStringLiteral("b4"), QStringLiteral("b3"), QStringLiteral("b2"),
                                           QStringLiteral("b1"), QStringLiteral("b7")}));
    EXPECT_EQ(previous(), u"b7");
}

TEST_P(Browsing, ASearchTheDatabaseRefusesGivesItsFailureAndLeavesNoRows)
{
    add(QStringLiteral("r1"), QStringLiteral("甲"), QStringLiteral("医"), QStringLiteral("2024-03-01"));
    EXPECT_EQ(search(), 1);
    const QString refusing = QStringLiteral("NoSuchColumn = 1");
    const Result<int> refused = found.search({refusing, refusing, {}}, shower());
    ASSERT_FALSE(refused.ok());
    EXPECT_FALSE(refused.failure().description.isEmpty());
    EXPECT_EQ(found.count(), 0);
}

std::string browsingName(const ::testing::TestParamInfo<std::tuple<test::StoreKind, Reading>>& param)
{
    return std::get<1>(param.param) == Reading::Pages ? "Pages" : "AllKeys";
}

INSTANTIATE_TEST_SUITE_P(Sqlite, Browsing,
                         ::testing::Combine(::testing::Values(test::StoreKind::Sqlite),
                                            ::testing::Values(Reading::AllKeys, Reading::Pages)),
                         browsingName);
INSTANTIATE_TEST_SUITE_P(Server, Browsing,
                         ::testing::Combine(::testing::Values(test::StoreKind::Server),
                                            ::testing::Values(Reading::AllKeys, Reading::Pages)),
                         browsingName);

KORVELA_ON_BOTH_STORES(SearchOnDatabase);

} // namespace
