#include "support/test_store.h"

#include "store/postgres_database.h"
#include "store/sqlite_database.h"
#include "support/test_server.h"

namespace korvela::test {

TestStore::TestStore(StoreKind kind, const QString& serverDatabase)
    : m_kind(kind)
    , m_serverDatabase(serverDatabase)
    , m_ownDatabase(serverDatabase.isEmpty())
{
    Status opened;
    if (kind == StoreKind::Sqlite) {
        auto db = std::make_unique<SqliteReportDatabase>();
        opened = db->open(m_folder.databaseFile(), std::chrono::seconds(5));
        m_db = std::move(db);
    } else {
        TestServer& server = TestServer::shared();
        if (m_ownDatabase)
            m_serverDatabase = server.createReportDatabase();
        server.pointServiceAt(m_serverDatabase);
        auto db = std::make_unique<PostgresReportDatabase>();
        opened = db->open(QStringLiteral("service=korvela"), std::chrono::seconds(5));
        m_db = std::move(db);
    }
    EXPECT_TRUE(opened.ok()) << (opened ? "" : opened.failure().description.toStdString());
}

TestStore::~TestStore()
{
    m_db.reset();
    if (m_kind == StoreKind::Server && m_ownDatabase)
        TestServer::shared().dropDatabase(m_serverDatabase);
}

void TestStore::exec(const QString& sql) const
{
    if (m_kind == StoreKind::Sqlite)
        m_folder.exec(sql);
    else
        TestServer::shared().exec(m_serverDatabase, sql);
}

QString TestStore::scalar(const QString& sql) const
{
    return m_kind == StoreKind::Sqlite ? m_folder.scalar(sql) : TestServer::shared().scalar(m_serverDatabase, sql);
}

} // namespace korvela::test
