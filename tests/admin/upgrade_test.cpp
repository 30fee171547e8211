#include "admin/upgrade.h"
#include "core/failure_codes.h"
#include "records/report_store.h"
#include "store/postgres_database.h"
#include "store/sqlite_database.h"
#include "store/store_choice.h"
#include "support/test_server.h"
#include "support/test_store.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace korvela;
using namespace korvela::test;
using namespace korvela::admin;

namespace {

// A store as today's programs left it (table A alone), with two reports, on either engine.
class OldStore
{
public:
    explicit OldStore(StoreKind kind)
        : m_kind(kind)
    {
        if (kind == StoreKind::Server) {
            TestServer& server = TestServer::shared();
            server.exec(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE before_history"));
            QFile schema(QStringLiteral(KORVELA_SERVER_SCHEMA));
            EXPECT_TRUE(schema.open(QIODevice::ReadOnly));
            server.exec(QStringLiteral("before_history"), QString::fromUtf8(schema.readAll()));
            server.pointServiceAt(QStringLiteral("before_history"));
        } else {
            // No service: the folder's own file is the store.
            qputenv("PGSERVICEFILE", QFile::encodeName(m_folder.path() + u"/none.conf"));
        }
        exec(QStringLiteral("INSERT INTO A (A1, A3, A13) VALUES ('甲', 'U1', '2025-01-02'), ('乙', 'U2', NULL)"));
    }
    ~OldStore()
    {
        if (m_kind == StoreKind::Server)
            TestServer::shared().dropDatabase(QStringLiteral("before_history"));
    }
    void exec(const QString& sql) const
    {
        if (m_kind == StoreKind::Server)
            TestServer::shared().exec(QStringLiteral("before_history"), sql);
        else
            m_folder.exec(sql);
    }
    QString scalar(const QString& sql) const
    {
        return m_kind == StoreKind::Server ? TestServer::shared().scalar(QStringLiteral("before_history"), sql)
                                           : m_folder.scalar(sql);
    }
    Result<std::unique_ptr<ReportDatabase>> open() const
    {
        return openReportStore(m_folder.path(), std::chrono::seconds(1));
    }
    void openForUpgrade() const
    {
        Result<StoreChoice> choice = chooseStore(m_folder.path());
        EXPECT_TRUE(choice);
        Result<std::unique_ptr<AdminStore>> store =
            openAdminStore(*choice, std::chrono::seconds(1), StoreAccess::ReadWrite);
        EXPECT_TRUE(store) << store.failure().description.toStdString();
        m_admin = std::move(*store);
    }
    ReportDatabase& adminDb() const { return m_admin->reports(); }

private:
    StoreKind m_kind;
    TempProgramFolder m_folder{TempProgramFolder::Schema::BeforeHistory};
    mutable std::unique_ptr<AdminStore> m_admin;
};

class Upgrade : public ::testing::TestWithParam<StoreKind>
{
};

// The programs refuse a store not upgraded, naming the command; the upgrade keeps every report,
// starts the history empty, is done once, and from then on every change is recorded.
TEST_P(Upgrade, ARefusedStoreIsUpgradedOnceKeepingEveryReportAndThenRecordsChanges)
{
    const OldStore old(GetParam());
    Result<std::unique_ptr<ReportDatabase>> refused = old.open();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.failure().code, FailureCode::SchemaVersionOther);
    EXPECT_TRUE(refused.failure().description.contains(u"korvela-admin upgrade"));

    old.openForUpgrade();
    for (const int from : {0, kSchemaVersion}) {
        const Result<UpgradeOutcome> upgraded = upgradeStore(old.adminDb());
        ASSERT_TRUE(upgraded) << upgraded.failure().description.toStdString();
        EXPECT_EQ(upgraded->from, from);
        EXPECT_EQ(upgraded->to, kSchemaVersion);
    }
    EXPECT_EQ(old.scalar(QStringLiteral("SELECT count(*) FROM report_history")), u"0");

    Result<std::unique_ptr<ReportDatabase>> opened = old.open();
    ASSERT_TRUE(opened) << opened.failure().description.toStdString();
    ReportStore store(**opened);
    ReportRecord changed;
    changed[Field::ScreeningNumber] = QStringLiteral("U1");
    changed[Field::PatientName] = QStringLiteral("甲改");
    ASSERT_EQ(store.save(changed, [] { return true; }).kind, SaveResult::Saved);
    EXPECT_EQ(old.scalar(QStringLiteral("SELECT action || number FROM report_history")), u"修改U1");
    EXPECT_EQ(old.scalar(QStringLiteral("SELECT count(*) FROM A")), u"2");
    EXPECT_EQ(old.scalar(QStringLiteral("SELECT A1 FROM A WHERE A3 = 'U2'")), u"乙");
}

// A store made by a newer program is refused by the programs and left alone by the upgrade.
TEST_P(Upgrade, AStoreOfANewerVersionIsRefusedAndLeftAlone)
{
    const OldStore old(GetParam());
    old.openForUpgrade();
    ASSERT_TRUE(upgradeStore(old.adminDb()));
    old.exec(GetParam() == StoreKind::Server ? QStringLiteral("UPDATE korvela_schema SET version = version + 1")
                                             : QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion + 1));
    Result<std::unique_ptr<ReportDatabase>> refused = old.open();
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.failure().description.contains(u"更新的 Korvela"));
    EXPECT_FALSE(upgradeStore(old.adminDb()));
}

KORVELA_ON_BOTH_STORES(Upgrade);

} // namespace
