// The access log's queue written to a real store of each kind; a failed write is tested through the
// window (tests/app/access_log_window_test.cpp).
#include "records/access_log.h"
#include "records/access_rows.h"
#include "support/test_store.h"

#include <gtest/gtest.h>

using namespace korvela;
using namespace korvela::test;

namespace {

class AccessLogOnStore : public ::testing::TestWithParam<StoreKind>
{
protected:
    QStringList rows() { return accessRows(db); }
    QString count() { return store.scalar(QStringLiteral("SELECT count(*) FROM access_log")); }

    TestStore store{GetParam()};
    ReportDatabase& db = store.db();
    AccessLog log{db};
};

TEST_P(AccessLogOnStore, EachQueuedAccessIsWrittenOnceInOrderWithTheNumberOfItsReport)
{
    store.exec(QStringLiteral("INSERT INTO A (A1, A3) VALUES ('张三', ' Sc-1 ')"));
    const std::int64_t id = store.scalar(QStringLiteral("SELECT max(rowid) FROM A")).toLongLong();
    const QString ids = QString::number(id);

    log.searched(QStringLiteral("姓名=张*"), 1);
    log.viewed(id);
    log.printed(id);
    log.exported(id, QStringLiteral("Sc-1（张三）.doc"));
    log.printed(std::nullopt);
    log.searched({}, 0);
    ASSERT_TRUE(log.flush().ok());
    EXPECT_FALSE(log.pending());
    // A later flush goes on from the last row, with the number as the report holds it then.
    store.exec(QStringLiteral("UPDATE A SET A3 = 'SC-2'"));
    log.viewed(id);
    log.viewed(id + 1000);
    ASSERT_TRUE(log.flush().ok());
    ASSERT_TRUE(log.flush().ok()) << "nothing queued, nothing written";

    EXPECT_EQ(rows(),
              QStringList({QStringLiteral("查询|-|-|姓名=张*; 共 1 条"), u"查看|" + ids + u"| Sc-1 |-",
                           u"打印|" + ids + u"| Sc-1 |-", u"导出|" + ids + u"| Sc-1 |Sc-1（张三）.doc",
                           QStringLiteral("打印|-|-|-"), QStringLiteral("查询|-|-|共 0 条"),
                           u"查看|" + ids + u"|SC-2|-", u"查看|" + QString::number(id + 1000) + u"|-|-"}));
}

// A save holds its transaction open while the overwrite question is asked; a flush then must
// neither write into it nor end it.
TEST_P(AccessLogOnStore, AnOpenTransactionIsLeftAloneAndTheAccessesWaitForItsEnd)
{
    log.viewed(3);
    ASSERT_TRUE(db.begin().ok());
    ASSERT_TRUE(db.execute({QStringLiteral("INSERT INTO A (A1, A3) VALUES ('李四', 'T-1')"), {}}).ok());
    EXPECT_TRUE(log.flush().ok());
    EXPECT_TRUE(db.inTransaction());
    EXPECT_TRUE(log.pending());
    ASSERT_TRUE(db.rollback().ok());
    EXPECT_EQ(count(), u"0");
    EXPECT_EQ(store.scalar(QStringLiteral("SELECT count(*) FROM A")), u"0");

    ASSERT_TRUE(log.flush().ok());
    EXPECT_EQ(rows(), QStringList{QStringLiteral("查看|3|-|-")});
}

KORVELA_ON_BOTH_STORES(AccessLogOnStore);

} // namespace
