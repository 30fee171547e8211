#include "search/browse.h"
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
    std::unique_ptr<ResultSet> results = db.createResultSet(QStringLiteral("A"));
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
// Running a search and browsing its rows

class Browsing : public SearchOnDatabase
{
protected:
    // Shows a row by remembering its screening number; fails for the numbers in `unreadable`.
    ShowRow shower()
    {
        return [this](const ResultSet& row) -> Status {
            Result<Value> number = row.field(QStringLiteral("a3"));
            if (!number)
                return number.failure();
            if (unreadable.contains(valueToText(*number)))
                return Failure{42, QStringLiteral("读不出")};
            shown = valueToText(*number);
            return {};
        };
    }

    QString step(BrowseStep s)
    {
        const Status st = browseFoundRows(*results, s, shower());
        EXPECT_TRUE(st.ok());
        return shown;
    }
    QString next() { return step(BrowseStep::Next); }
    QString previous() { return step(BrowseStep::Previous); }

    int search(const QString& b3 = {})
    {
        const Result<int> n = runSearch(*results, *statement(b3), shower());
        EXPECT_TRUE(n.ok());
        return n ? *n : -1;
    }

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
    EXPECT_EQ(results->recordCount(), 3);
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
    results->close();
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
    const Status failed = browseFoundRows(*results, BrowseStep::Previous, shower());
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.failure().code, 42);
}

TEST_P(Browsing, FoundRowsAreASnapshotUntilTheNextSearch)
{
    add(QStringLiteral("r1"), QStringLiteral("甲"), QStringLiteral("医"), QStringLiteral("2024-03-01"));
    add(QStringLiteral("r2"), QStringLiteral("乙"), QStringLiteral("医"), QStringLiteral("2024-02-01"));
    EXPECT_EQ(search(QStringLiteral("r")), 2);
    ASSERT_TRUE(db.execute({QStringLiteral("DELETE FROM A WHERE A3 = 'r2'"), {}}).ok());
    ASSERT_TRUE(db.execute({QStringLiteral("UPDATE A SET A3 = 'r1-new' WHERE A3 = 'r1'"), {}}).ok());
    EXPECT_EQ(next(), u"r2") << "a report deleted after the search is still browsed";
    EXPECT_EQ(next(), u"r1") << "a report changed after the search is browsed as it was";

    EXPECT_EQ(search(QStringLiteral("r")), 1) << "the next search replaces the rows";
    EXPECT_EQ(shown, u"r1-new");
    EXPECT_EQ(next(), u"r1-new");
}

TEST_P(Browsing, ASearchTheDatabaseRefusesGivesItsFailureAndLeavesNoRows)
{
    add(QStringLiteral("r1"), QStringLiteral("甲"), QStringLiteral("医"), QStringLiteral("2024-03-01"));
    EXPECT_EQ(search(), 1);
    const Result<int> refused =
        runSearch(*results, {QStringLiteral("SELECT * FROM NoSuchTable"), {}}, shower());
    ASSERT_FALSE(refused.ok());
    EXPECT_FALSE(refused.failure().description.isEmpty());
    EXPECT_EQ(results->recordCount(), 0);
}

KORVELA_ON_BOTH_STORES(SearchOnDatabase);
KORVELA_ON_BOTH_STORES(Browsing);

} // namespace
