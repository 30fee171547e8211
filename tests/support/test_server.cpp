#include "support/test_server.h"

#include "records/history_schema.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <pwd.h>
#include <unistd.h>

namespace korvela::test {

namespace {

QString serverBinaries()
{
    QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(), [](const QString& a, const QString& b) { return a.toInt() > b.toInt(); });
    for (const QString& v : versions)
        if (QFile::exists(QStringLiteral("/usr/lib/postgresql/%1/bin/initdb").arg(v)))
            return QStringLiteral("/usr/lib/postgresql/%1/bin").arg(v);
    return {};
}

PGconn* connect(const QString& connection)
{
    PGconn* conn = PQconnectdb(connection.toUtf8().constData());
    if (PQstatus(conn) != CONNECTION_OK)
        ADD_FAILURE() << "test server: " << PQerrorMessage(conn);
    PQsetClientEncoding(conn, "UTF8");
    return conn;
}

} // namespace

TestServer& TestServer::shared()
{
    static TestServer server;
    if (!server.m_running)
        server.start();
    return server;
}

TestServer::TestServer()
    : m_dir(QStringLiteral("/tmp/korvela-pg-XXXXXX"))
    , m_bin(serverBinaries())
{
    if (const passwd* pw = getpwnam("postgres"); pw && geteuid() == 0) {
        EXPECT_EQ(chown(QFile::encodeName(m_dir.path()).constData(), pw->pw_uid, pw->pw_gid), 0);
    }
    const QString data = m_dir.path() + u"/data";
    if (m_bin.isEmpty() || !run(QStringLiteral("initdb"), {QStringLiteral("-D"), data, QStringLiteral("-U"),
                                                             QStringLiteral("postgres"), QStringLiteral("-A"),
                                                             QStringLiteral("trust"), QStringLiteral("-E"),
                                                             QStringLiteral("UTF8"), QStringLiteral("--locale=C.UTF-8"),
                                                             QStringLiteral("--no-sync")}))
        ADD_FAILURE() << "initdb failed (is the postgresql package installed?)";
}

TestServer::~TestServer()
{
    if (m_running)
        run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), m_dir.path() + u"/data", QStringLiteral("-m"),
                                       QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")});
}

bool TestServer::run(const QString& tool, const QStringList& args) const
{
    QProcess p;
    QStringList command{m_bin + u'/' + tool};
    command += args;
    if (geteuid() == 0)
        command = QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--")} + command;
    p.setStandardOutputFile(m_dir.path() + u"/tool.log", QIODevice::Append);
    p.setStandardErrorFile(m_dir.path() + u"/tool.log", QIODevice::Append);
    p.start(geteuid() == 0 ? QStringLiteral("runuser") : command.takeFirst(), command);
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void TestServer::start()
{
    if (m_running)
        return;
    // Durability is the server's own business and not under test: no waiting for the disk.
    const QString options = QStringLiteral("-c listen_addresses='' -k %1 -c fsync=off -c synchronous_commit=off "
                                           "-c full_page_writes=off -c max_connections=50")
                                .arg(m_dir.path());
    m_running = run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), m_dir.path() + u"/data", QStringLiteral("-l"),
                                               m_dir.path() + u"/server.log", QStringLiteral("-o"), options,
                                               QStringLiteral("-w"), QStringLiteral("start")});
    if (!m_running) {
        QFile log(m_dir.path() + u"/server.log");
        (void)log.open(QIODevice::ReadOnly);
        ADD_FAILURE() << "the test server did not start: " << log.readAll().toStdString();
        return;
    }
    // A test program that crashes or is killed does not leave its server behind: a watchdog
    // stops it once the program is gone.
    QString stop = QStringLiteral("%1/pg_ctl -D %2/data -m immediate stop").arg(m_bin, m_dir.path());
    if (geteuid() == 0)
        stop = u"runuser -u postgres -- " + stop;
    QProcess watchdog;
    watchdog.setProgram(QStringLiteral("sh"));
    watchdog.setArguments({QStringLiteral("-c"),
                           QStringLiteral("while kill -0 %1 2>/dev/null; do sleep 1; done; %2").arg(getpid()).arg(stop)});
    watchdog.setStandardInputFile(QProcess::nullDevice());
    watchdog.setStandardOutputFile(QProcess::nullDevice());
    watchdog.setStandardErrorFile(QProcess::nullDevice());
    watchdog.startDetached();
}

void TestServer::stop()
{
    if (!m_running)
        return;
    m_running = !run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), m_dir.path() + u"/data", QStringLiteral("-m"),
                                                QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")});
    if (m_running) {
        QFile log(m_dir.path() + u"/tool.log");
        (void)log.open(QIODevice::ReadOnly);
        ADD_FAILURE() << "the test server did not stop: " << log.readAll().right(2000).toStdString();
    }
}

QString TestServer::connection(const QString& database) const
{
    return QStringLiteral("host=%1 user=postgres dbname=%2").arg(m_dir.path(), database);
}

QString TestServer::createReportDatabase()
{
    static const QString schema = [] {
        QFile f(QStringLiteral(KORVELA_SERVER_SCHEMA));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << "server schema missing";
        return QString::fromUtf8(f.readAll());
    }();
    if (m_databases == 0) {
        exec(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE korvela_template"));
        exec(QStringLiteral("korvela_template"), schema);
        for (const QString& statement : historySchema(SqlDialect::Postgres))
            exec(QStringLiteral("korvela_template"), statement);
    }
    const QString name = QStringLiteral("reports%1").arg(++m_databases);
    exec(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE %1 TEMPLATE korvela_template").arg(name));
    return name;
}

void TestServer::dropDatabase(const QString& database)
{
    if (m_running)
        exec(QStringLiteral("postgres"), QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(database));
}

void TestServer::pointServiceAt(const QString& database) const
{
    QFile f(serviceFile());
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QStringLiteral("# the department's report server\n[korvela]\nhost=%1\nuser=postgres\ndbname=%2\n")
                .arg(m_dir.path(), database)
                .toUtf8());
    qputenv("PGSERVICEFILE", QFile::encodeName(serviceFile()));
}

QString TestServer::execError(const QString& database, const QString& sql) const
{
    PGconn* conn = connect(connection(database));
    PGresult* r = PQexec(conn, sql.toUtf8().constData());
    const ExecStatusType status = PQresultStatus(r);
    QString error;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        error = QString::fromUtf8(PQresultErrorMessage(r)).trimmed();
    PQclear(r);
    PQfinish(conn);
    return error;
}

void TestServer::exec(const QString& database, const QString& sql) const
{
    if (const QString error = execError(database, sql); !error.isEmpty())
        ADD_FAILURE() << "SQL failed: " << error.toStdString() << " in " << sql.left(200).toStdString();
}

QString TestServer::scalar(const QString& database, const QString& sql) const
{
    PGconn* conn = connect(connection(database));
    PGresult* r = PQexec(conn, sql.toUtf8().constData());
    QString out = QStringLiteral("<none>");
    if (PQresultStatus(r) != PGRES_TUPLES_OK)
        ADD_FAILURE() << "SQL failed: " << PQresultErrorMessage(r) << " in " << sql.toStdString();
    else if (PQntuples(r) > 0)
        out = PQgetisnull(r, 0, 0) ? QStringLiteral("<null>") : QString::fromUtf8(PQgetvalue(r, 0, 0));
    PQclear(r);
    PQfinish(conn);
    return out;
}

} // namespace korvela::test
