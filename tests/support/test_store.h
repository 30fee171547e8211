#pragma once

#include "core/database.h"
#include "support/temp_database.h"

#include <gtest/gtest.h>

#include <memory>

namespace korvela::test {

// The two stores the program keeps its reports in; suites that hold for both are instantiated
// once for each ("Sqlite/..." and "Server/...": ctest runs the second under the label server).
enum class StoreKind { Sqlite, Server };

// A program folder and a fresh, empty report store of either kind, open: Data/Data.Dat in the
// folder, or a new database on the test server reached through the service "korvela".
class TestStore
{
public:
    // `serverDatabase`: another workstation on a database that exists already (server stores only).
    explicit TestStore(StoreKind kind, const QString& serverDatabase = {});
    ~TestStore();

    StoreKind kind() const { return m_kind; }
    ReportDatabase& db() { return *m_db; }
    const TempProgramFolder& folder() const { return m_folder; }
    // The server database's name (server stores only).
    const QString& serverDatabase() const { return m_serverDatabase; }

    // Runs SQL through a connection of its own.
    void exec(const QString& sql) const;
    // One value of the first row a query gives, as text ("<null>" for null).
    QString scalar(const QString& sql) const;

private:
    StoreKind m_kind;
    TempProgramFolder m_folder;
    QString m_serverDatabase;
    bool m_ownDatabase = true;
    std::unique_ptr<ReportDatabase> m_db;
};

// Instantiates a TEST_P suite whose parameter is a StoreKind for both stores.
#define KORVELA_ON_BOTH_STORES(Suite)                                                                                  \
    INSTANTIATE_TEST_SUITE_P(Sqlite, Suite, ::testing::Values(::korvela::test::StoreKind::Sqlite));                    \
    INSTANTIATE_TEST_SUITE_P(Server, Suite, ::testing::Values(::korvela::test::StoreKind::Server))

} // namespace korvela::test
