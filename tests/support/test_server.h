#pragma once

#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace korvela::test {

// A PostgreSQL server of the test program's own: a cluster made by initdb in a temporary folder,
// listening only on a Unix socket there, run by pg_ctl (as the user postgres when the tests run
// as root, since the server refuses to run as root). Stopped when the test program ends.
class TestServer
{
public:
    // The one server of this test program, started at the first call. Fails the calling test
    // when it cannot be started.
    static TestServer& shared();

    ~TestServer();
    bool running() const { return m_running; }
    void stop();
    void start();

    // "host=<socket folder> user=postgres dbname=<database>"
    QString connection(const QString& database = QStringLiteral("postgres")) const;
    // A new empty report database made from data/schema-postgresql.sql; gives its name.
    QString createReportDatabase();
    void dropDatabase(const QString& database);
    // Points the libpq service "korvela" at `database` (a service file of this server's, named
    // by PGSERVICEFILE), as a department's administrator does.
    void pointServiceAt(const QString& database) const;
    QString serviceFile() const { return m_dir.path() + u"/pg_service.conf"; }

    // Runs SQL (several statements allowed) on a connection of its own; fails the test on error.
    void exec(const QString& database, const QString& sql) const;
    // The same, giving the server's error message (empty when the SQL ran).
    QString execError(const QString& database, const QString& sql) const;
    // The first value of the first row, as text ("<null>" for null, "<none>" without a row).
    QString scalar(const QString& database, const QString& sql) const;

private:
    TestServer();
    bool run(const QString& tool, const QStringList& args) const;

    QTemporaryDir m_dir;
    QString m_bin;
    bool m_running = false;
    int m_databases = 0;
};

} // namespace korvela::test
