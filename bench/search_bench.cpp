// Search time from the click on "查 询" to the first found report drawn in the real window, beside
// the floor: a bare program running the same SELECT with the same values and reading every column
// of every row, through the SQLite C API (search_floor) for a report file, through libpq
// (server_search_floor) for the report server. Prints the query plans and the peak memory.
//
//   search_bench <Data.Dat> [rounds=5] [cases=abc]
//   search_bench --server [rounds=5] [cases=abc]
//
// --server searches the report database of the libpq service "korvela" (PGSERVICEFILE names the
// service file), opened as a workstation opens it. The cases: (a) all boxes empty, (b) a name
// prefix, (c) a one-month date range.

#include "app/report_window.h"
#include "records/access_log.h"
#include "search/search_statement.h"
#include "store/postgres_database.h"
#include "store/sqlite_database.h"
#include "store/store_choice.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <libpq-fe.h>
#include <memory>
#include <sqlite3.h>
#include <string>
#include <vector>

using namespace korvela;
using Clock = std::chrono::steady_clock;

namespace {

// No message may come up during a search; any that does is printed and counted.
class CountingPrompts final : public Prompts
{
public:
    PromptAnswer show(const Prompt& prompt) override
    {
        std::fprintf(stderr, "unexpected message: %s\n", qPrintable(prompt.text));
        ++shown;
        return PromptAnswer::No;
    }
    int shown = 0;
};

class BenchSystem final : public SystemServices
{
public:
    explicit BenchSystem(QString folder)
        : m_folder(std::move(folder))
    {
    }
    bool acquireSingleInstance() override { return true; }
    int screenWidth() const override { return 1280; }
    QString programFolder() const override { return m_folder; }
    bool fileExists(const QString& path) const override { return QFileInfo(path).isFile(); }
    bool folderExists(const QString& path) const override { return QFileInfo(path).isDir(); }
    bool makeFolder(const QString& path) override { return QDir().mkpath(path); }
    bool deleteFile(const QString& path) override { return QFile::remove(path); }
    bool copyFile(const QString& from, const QString& to) override { return QFile::copy(from, to); }
    void openUrl(const QString&) override {}
    void endProgram(int) override {}

private:
    QString m_folder;
};

long statusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// The window's control of that name, found the way the tests find it; the benchmark cannot go on
// without it.
template <typename W> W* control(QWidget& window, const char* name)
{
    W* found = window.findChild<W*>(QString::fromLatin1(name));
    if (!found) {
        std::fprintf(stderr, "the window has no control %s\n", name);
        std::exit(1);
    }
    return found;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Case
{
    const char* title;
    QString b3, b1, b14, b13, b113;
};

void printPlan(PGconn* conn, const Statement& statement)
{
    const QByteArray sql = "EXPLAIN " + serverParameters(statement.sql).toUtf8();
    std::vector<QByteArray> texts;
    std::vector<const char*> values;
    for (const Value& v : statement.args)
        texts.push_back(valueToText(v).toUtf8());
    for (const QByteArray& t : texts)
        values.push_back(t.constData());
    PGresult* plan = PQexecParams(conn, sql.constData(), int(values.size()), nullptr, values.data(), nullptr, nullptr, 0);
    if (PQresultStatus(plan) != PGRES_TUPLES_OK)
        std::printf("  plan: %s\n", PQresultErrorMessage(plan));
    for (int row = 0; row < PQntuples(plan); ++row)
        std::printf("  plan: %s\n", PQgetvalue(plan, row, 0));
    PQclear(plan);
}

void printPlan(const QString& file, const Statement& statement)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* plan = nullptr;
    const QByteArray sql = "EXPLAIN QUERY PLAN " + statement.sql.toUtf8();
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &plan, nullptr) != SQLITE_OK) {
        std::printf("  plan: %s\n", sqlite3_errmsg(db));
    } else {
        // Bound like the search binds them, so the plan is the one its values get.
        std::vector<QByteArray> texts;
        for (std::size_t i = 0; i < statement.args.size(); ++i) {
            texts.push_back(valueToText(statement.args[i]).toUtf8());
            sqlite3_bind_text(plan, int(i) + 1, texts.back().constData(), -1, SQLITE_TRANSIENT);
        }
        while (sqlite3_step(plan) == SQLITE_ROW)
            std::printf("  plan: %s\n", reinterpret_cast<const char*>(sqlite3_column_text(plan, 3)));
    }
    sqlite3_finalize(plan);
    sqlite3_close(db);
}

// The floor of one case, run round by round in turn with the window.
class Floor
{
public:
    // `file` empty: the report server's floor, with the statement as the server store sends it.
    Floor(const QString& file, const Statement& statement)
        : m_file(file)
        , m_statement(statement)
    {
        if (!m_file.isEmpty())
            return;
        // The server's floor keeps its connection open for the whole case, as the window keeps
        // its own; a new connection takes a few rounds before the server answers at its usual
        // speed, so those rounds are run first and not counted.
        QStringList args{serverParameters(statement.sql)};
        for (const Value& v : statement.args)
            args << valueToText(v);
        m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_server.start(QCoreApplication::applicationDirPath() + QStringLiteral("/server_search_floor"), args);
        for (int r = 0; r < 3; ++r)
            (void)serverRound();
    }

    // The time of one round in ms.
    double round() { return m_file.isEmpty() ? serverRound() : fileRound(); }

    // The rows of the last round and the floor's peak memory (the server's floor tells it when
    // it ends, so only after finish()).
    long rows() const { return m_rows; }
    long peakKb() const { return m_peakKb; }

    void finish()
    {
        if (!m_file.isEmpty())
            return;
        m_server.closeWriteChannel();
        m_server.waitForFinished(-1);
        read(m_server.readAllStandardOutput());
        if (m_server.exitCode() != 0)
            std::fprintf(stderr, "server_search_floor failed\n");
    }

private:
    // Reads "<ms> <rows> ..." and "peak_kb <kB>" lines; gives the time of the last round.
    double read(const QByteArray& output)
    {
        double last = 0;
        for (const QByteArray& line : output.split('\n')) {
            const QList<QByteArray> parts = line.trimmed().split(' ');
            if (parts.size() < 2)
                continue;
            if (parts[0] == "peak_kb") {
                m_peakKb = parts[1].toLong();
            } else {
                last = parts[0].toDouble();
                m_rows = parts[1].toLong();
            }
        }
        return last;
    }

    // Runs the file's floor program once; gives the time of its second round (the first reads the
    // schema and warms the connection, as the window's long-open connection already is).
    double fileRound()
    {
        QStringList args{m_file, QStringLiteral("2"), m_statement.sql};
        for (const Value& v : m_statement.args)
            args << valueToText(v);
        QProcess floor;
        floor.start(QCoreApplication::applicationDirPath() + QStringLiteral("/search_floor"), args);
        floor.waitForFinished(-1);
        const double last = read(floor.readAllStandardOutput());
        if (floor.exitCode() != 0)
            std::fprintf(stderr, "search_floor: %s\n", floor.readAllStandardError().constData());
        return last;
    }

    double serverRound()
    {
        m_server.write("\n");
        while (!m_server.canReadLine())
            if (!m_server.waitForReadyRead(-1)) {
                std::fprintf(stderr, "server_search_floor ended\n");
                std::exit(1);
            }
        return read(m_server.readLine());
    }

    QString m_file;
    Statement m_statement;
    QProcess m_server;
    long m_rows = 0;
    long m_peakKb = 0;
};

// The row ids of the first `n` reports.
std::vector<std::int64_t> rowids(ReportDatabase& database, int n)
{
    std::vector<std::int64_t> ids;
    const std::unique_ptr<ResultSet> rows = database.createResultSet();
    if (rows->open({QStringLiteral("SELECT rowid FROM A ORDER BY rowid LIMIT ?1"), {std::int64_t(n)}}))
        for (; rows->hasCurrentRow(); (void)rows->moveNext())
            ids.push_back(std::get<std::int64_t>(*rows->field(QStringLiteral("rowid"))));
    return ids;
}

// What the access log's timer writes every two seconds while a user browses: one transaction with
// the views of that time (10: five clicks a second).
void accessLogWrites(ReportDatabase& database, const std::vector<std::int64_t>& viewed)
{
    AccessLog log(database);
    std::vector<double> writes;
    for (int round = 0; round < 50; ++round) {
        for (const std::int64_t id : viewed)
            log.viewed(id);
        const auto started = Clock::now();
        if (const Status written = log.flush(); !written) {
            std::fprintf(stderr, "access log not written: %s\n", qPrintable(written.failure().description));
            std::exit(1);
        }
        writes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
    }
    std::printf("  access log: %zu views written in one transaction: median %.3f ms, slowest %.2f ms (50 writes)\n",
                viewed.size(), median(writes), *std::max_element(writes.begin(), writes.end()));
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <Data.Dat> | --server [rounds=5] [cases=abc]\n", argv[0]);
        return 2;
    }
    const bool server = qstrcmp(argv[1], "--server") == 0;
    const QString file = server ? QString() : QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const QByteArray only = argc > 3 ? QByteArray(argv[3]) : QByteArrayLiteral("abc");

    QTemporaryDir programFolder;
    BenchSystem system(programFolder.path());
    CountingPrompts prompts;
    std::unique_ptr<ReportDatabase> store;
    PGconn* serverConnection = nullptr;
    Status opened;
    if (server) {
        auto db = std::make_unique<PostgresReportDatabase>();
        opened = db->open(serviceConnection(), std::chrono::seconds(5));
        serverConnection = db->handle();
        store = std::move(db);
    } else {
        auto db = std::make_unique<SqliteReportDatabase>();
        opened = db->open(file, std::chrono::seconds(5));
        store = std::move(db);
    }
    if (!opened) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.failure().description));
        return 1;
    }
    ReportDatabase& database = *store;
    ReportWindow form(ReportWindow::Services{database, prompts, system, {}});
    if (!form.load()) {
        std::fprintf(stderr, "load failed\n");
        return 1;
    }
    form.show();
    QApplication::processEvents();
    QLineEdit* const b3 = control<QLineEdit>(form, "b3");
    QLineEdit* const b1 = control<QLineEdit>(form, "b1");
    QLineEdit* const b14 = control<QLineEdit>(form, "b14");
    QLineEdit* const b13 = control<QLineEdit>(form, "b13");
    QLineEdit* const b113 = control<QLineEdit>(form, "b113");
    QLineEdit* const screeningNumber = control<QLineEdit>(form, "a3");
    QLineEdit* const patientName = control<QLineEdit>(form, "a1");
    QPushButton* const search = control<QPushButton>(form, "Command1");
    QLabel* const found = control<QLabel>(form, "Label1");
    if (server) {
        PGresult* size = PQexec(serverConnection, "SELECT pg_database_size(current_database())");
        std::printf("server database %s, %.0f MB", qPrintable(describeServer(serverConnection)),
                    PQresultStatus(size) == PGRES_TUPLES_OK ? std::atof(PQgetvalue(size, 0, 0)) / 1e6 : 0.0);
        PQclear(size);
    } else {
        std::printf("database %s, %.0f MB", qPrintable(file), double(QFileInfo(file).size()) / 1e6);
    }
    std::printf("; before any search: rss %ld kB, peak %ld kB\n", statusKb("VmRSS:"), statusKb("VmHWM:"));

    const Case cases[] = {
        {"(b) name prefix 王秀", {}, QStringLiteral("王秀"), {}, {}, {}},
        {"(b) whole name 王秀英", {}, QStringLiteral("王秀英"), {}, {}, {}},
        {"(c) one month 2024-03-01 .. 2024-03-31",
         {},
         {},
         {},
         QStringLiteral("2024-03-01"),
         QStringLiteral("2024-03-31")},
        {"(a) all boxes empty", {}, {}, {}, {}, {}},
    };
    for (const Case& c : cases) {
        if (!only.contains(c.title[1]))
            continue;
        const Result<Statement> statement =
            BuildSearchStatement(database.dialect(), c.b3, c.b1, c.b14, c.b13, c.b113);
        if (!statement)
            return 1;
        std::printf("\n%s\n  sql: %s\n", c.title, qPrintable(statement->sql));
        for (const Value& v : statement->args)
            std::printf("  value: %s\n", qPrintable(valueToText(v)));
        if (server)
            printPlan(serverConnection, *statement);
        else
            printPlan(file, *statement);

        b3->setText(c.b3);
        b1->setText(c.b1);
        b14->setText(c.b14);
        b13->setText(c.b13);
        b113->setText(c.b113);
        // The floor and the window take turns, so both meet the same load on a shared machine.
        Floor floorProgram(file, *statement);
        std::vector<double> floor, handler, shown;
        const long rssBefore = statusKb("VmRSS:");
        // Quick searches get more rounds, so their medians stand out of a shared machine's noise.
        int caseRounds = rounds;
        for (int r = 0; r < caseRounds; ++r) {
            if (r == 1 && shown[0] < 20)
                caseRounds = rounds * 5;
            floor.push_back(floorProgram.round());

            screeningNumber->clear();
            const auto started = Clock::now();
            search->click();
            const auto handled = Clock::now();
            form.repaint(); // the found report drawn
            const auto drawn = Clock::now();
            handler.push_back(std::chrono::duration<double, std::milli>(handled - started).count());
            shown.push_back(std::chrono::duration<double, std::milli>(drawn - started).count());
        }
        floorProgram.finish();
        const long floorRows = floorProgram.rows();
        std::printf("  found: %s (floor stepped %ld rows); first shown: %s %s\n", qPrintable(found->text()),
                    floorRows, qPrintable(screeningNumber->text()), qPrintable(patientName->text()));
        const double f = median(floor);
        const double s = median(shown);
        std::printf("  click to first report shown: median %.2f ms (handler alone %.2f ms), best %.2f ms\n",
                    s, median(handler), *std::min_element(shown.begin(), shown.end()));
        std::printf("  floor, same SELECT on %s:  median %.2f ms, best %.2f ms; ratio %.2f\n",
                    server ? "libpq" : "the C API", f,
                    *std::min_element(floor.begin(), floor.end()), f > 0 ? s / f : 0.0);
        std::printf("  memory: rss %ld kB, peak %ld kB (floor peak %ld kB)\n", statusKb("VmRSS:"),
                    statusKb("VmHWM:"), floorProgram.peakKb());
        std::printf("  memory above the process before the search: %ld kB (peak after, over rss %ld kB before)\n",
                    statusKb("VmHWM:") - rssBefore, rssBefore);

        // Browsing the found reports as a user does, ">" over many pages and back with "<", each
        // click with the report drawn. The window's timers run between the clicks, so the access
        // log is written every two seconds as in use; those writes hold far more views than a
        // user's two seconds of clicks, and the write of a user's is measured apart below.
        if (found->text() != QStringLiteral("共查询到 0 条符合条件的记录")) {
            QPushButton* const next = control<QPushButton>(form, "Command4");
            QPushButton* const previous = control<QPushButton>(form, "Command3");
            const auto clicks = [&](QPushButton* button, int n) {
                std::vector<double> steps;
                for (int i = 0; i < n; ++i) {
                    const auto started = Clock::now();
                    button->click();
                    form.repaint();
                    steps.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
                    QApplication::processEvents();
                }
                return steps;
            };
            const std::vector<double> forward = clicks(next, 2000);
            const std::vector<double> back = clicks(previous, 500);
            std::printf("  browse step: > median %.3f ms, slowest %.2f ms; < median %.3f ms, slowest %.2f ms "
                        "(2000 and 500 clicks, drawn)\n",
                        median(forward), *std::max_element(forward.begin(), forward.end()), median(back),
                        *std::max_element(back.begin(), back.end()));
            accessLogWrites(database, rowids(database, 10));
        }

        // The store's part of the search alone: the statement built and a result set of its own
        // opened on it (closing its rows of the round before, as the window's search does),
        // without the window, in turn with the floor again. After the memory is taken, since the
        // window still holds its found rows.
        Floor again(file, *statement);
        std::vector<double> floorAgain, alone;
        const std::unique_ptr<ResultSet> results = database.createResultSet();
        for (int r = 0; r < caseRounds; ++r) {
            floorAgain.push_back(again.round());
            const auto started = Clock::now();
            const Result<Statement> built = BuildSearchStatement(database.dialect(), c.b3, c.b1, c.b14, c.b13, c.b113);
            if (!built || !results->open(*built) || results->recordCount() != int(floorRows)) {
                std::fprintf(stderr, "the result set did not open on the %ld rows\n", floorRows);
                return 1;
            }
            alone.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
        }
        again.finish();
        const double o = median(alone);
        const double f2 = median(floorAgain);
        std::printf("  statement built and result set opened alone: median %.2f ms, best %.2f ms; floor in turn "
                    "with it: median %.2f ms; ratio %.2f\n",
                    o, *std::min_element(alone.begin(), alone.end()), f2, f2 > 0 ? o / f2 : 0.0);
    }
    return prompts.shown == 0 ? 0 : 1;
}
