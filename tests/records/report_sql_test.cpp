// The report table's SQL against the indexes of the schemas, on a real database of each kind.
#include "records/report_sql.h"
#include "support/test_store.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace korvela;

namespace {

class ReportSqlOnStore : public ::testing::TestWithParam<test::StoreKind>
{
protected:
    bool embedded() const { return store.kind() == test::StoreKind::Sqlite; }

    // The engine's plan for a statement, a line per step.
    QString plan(const Statement& statement)
    {
        const std::unique_ptr<ResultSet> rows = db.createResultSet();
        const QString explain =
            embedded() ? QStringLiteral("EXPLAIN QUERY PLAN ") : QStringLiteral("EXPLAIN ");
        const Status opened = rows->open({explain + statement.sql, statement.args});
        EXPECT_TRUE(opened.ok()) << (opened ? "" : opened.failure().description.toStdString());
        const QString column = embedded() ? QStringLiteral("detail") : QStringLiteral("query plan");
        QStringList lines;
        for (; rows->hasCurrentRow(); (void)rows->moveNext())
            lines << valueToText(*rows->field(column));
        return lines.join(u'\n');
    }

    test::TestStore store{GetParam()};
    ReportDatabase& db = store.db();
    ReportSql sql{db.dialect()};
};

// A key spelt otherwise than its index (data/schema.sql A_key, data/schema-postgresql.sql a_key)
// and the engine reads the whole table: the save's lookup, the delete and the probe for another
// report of the same patient all find the number through the key index.
TEST_P(ReportSqlOnStore, EveryLookUpByScreeningNumberReadsTheKeyIndex)
{
    // The server reads a table this small whole unless it has to use an index.
    if (!embedded()) {
        ASSERT_TRUE(db.execute({QStringLiteral("SET enable_seqscan = off"), {}}).ok());
    }
    const QString number = QStringLiteral(" Sc-01 ");
    const Statement lookUps[] = {
        sql.rowsWithNumber(number),
        sql.deleteNumber(number),
        {u"SELECT 1 FROM A AS R WHERE EXISTS (SELECT 1 FROM A AS S WHERE " +
             sql.sameKey(QStringLiteral("S"), QStringLiteral("R")) + u")",
         {}},
    };
    const QString index = embedded() ? QStringLiteral("A_key") : QStringLiteral("a_key");
    for (const Statement& lookUp : lookUps) {
        const QString steps = plan(lookUp);
        EXPECT_TRUE(steps.contains(index)) << lookUp.sql.toStdString() << "\n" << steps.toStdString();
    }
}

KORVELA_ON_BOTH_STORES(ReportSqlOnStore);

} // namespace
