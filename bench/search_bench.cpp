// Search time from the click on "查 询" to the first found report drawn in the real window, beside
// the floor: a bare SQLite C API program (search_floor) running the same SELECT with the same
// values and copying every column of every row. Prints the query plans and the peak memory.
//
//   search_bench <Data.Dat> [rounds=5] [cases=abc]
//
// The cases: (a) all boxes empty, (b) a name prefix, (c) a one-month date range.

#include "app/report_window.h"
#include "search/search_statement.h"
#include "store/sqlite_database.h"

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

// Runs the floor program once; gives the time of its second round (the first reads the schema
// and warms the connection, as the window's long-open connection already is) and its peak memory.
double runFloor(const QString& file, const Statement& statement, long* peakKb, long* rows)
{
    QStringList args{file, QStringLiteral("2"), statement.sql};
    for (const Value& v : statement.args)
        args << valueToText(v);
    QProcess floor;
    floor.start(QCoreApplication::applicationDirPath() + QStringLiteral("/search_floor"), args);
    floor.waitForFinished(-1);
    double last = 0;
    for (const QByteArray& line : floor.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() != 2)
            continue;
        if (parts[0] == "peak_kb") {
            *peakKb = parts[1].toLong();
        } else {
            last = parts[0].toDouble();
            *rows = parts[1].toLong();
        }
    }
    if (floor.exitCode() != 0)
        std::fprintf(stderr, "search_floor: %s\n", floor.readAllStandardError().constData());
    return last;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <Data.Dat> [rounds=5] [cases=abc]\n", argv[0]);
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const QByteArray only = argc > 3 ? QByteArray(argv[3]) : QByteArrayLiteral("abc");

    QTemporaryDir programFolder;
    BenchSystem system(programFolder.path());
    CountingPrompts prompts;
    SqliteReportDatabase database;
    if (const Status opened = database.open(file, std::chrono::seconds(5)); !opened) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.failure().description));
        return 1;
    }
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
    std::printf("database %s, %.0f MB; before any search: rss %ld kB, peak %ld kB\n", qPrintable(file),
                double(QFileInfo(file).size()) / 1e6, statusKb("VmRSS:"), statusKb("VmHWM:"));

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
        const Result<Statement> statement = BuildSearchStatement(SqlDialect::Sqlite, c.b3, c.b1, c.b14, c.b13, c.b113);
        if (!statement)
            return 1;
        std::printf("\n%s\n  sql: %s\n", c.title, qPrintable(statement->sql));
        for (const Value& v : statement->args)
            std::printf("  value: %s\n", qPrintable(valueToText(v)));
        printPlan(file, *statement);

        b3->setText(c.b3);
        b1->setText(c.b1);
        b14->setText(c.b14);
        b13->setText(c.b13);
        b113->setText(c.b113);
        // The floor and the window take turns, so both meet the same load on a shared machine.
        long floorPeak = 0, floorRows = 0;
        std::vector<double> floor, handler, shown;
        for (int r = 0; r < rounds; ++r) {
            floor.push_back(runFloor(file, *statement, &floorPeak, &floorRows));

            screeningNumber->clear();
            const auto started = Clock::now();
            search->click();
            const auto handled = Clock::now();
            form.repaint(); // the found report drawn
            const auto drawn = Clock::now();
            handler.push_back(std::chrono::duration<double, std::milli>(handled - started).count());
            shown.push_back(std::chrono::duration<double, std::milli>(drawn - started).count());
        }
        std::printf("  found: %s (floor stepped %ld rows); first shown: %s %s\n", qPrintable(found->text()),
                    floorRows, qPrintable(screeningNumber->text()), qPrintable(patientName->text()));
        const double f = median(floor);
        const double s = median(shown);
        std::printf("  click to first report shown: median %.1f ms (handler alone %.1f ms), best %.1f ms\n",
                    s, median(handler), *std::min_element(shown.begin(), shown.end()));
        std::printf("  floor, same SELECT on the C API:  median %.1f ms, best %.1f ms; ratio %.2f\n", f,
                    *std::min_element(floor.begin(), floor.end()), f > 0 ? s / f : 0.0);
        std::printf("  memory: rss %ld kB, peak %ld kB (floor peak %ld kB)\n", statusKb("VmRSS:"),
                    statusKb("VmHWM:"), floorPeak);
    }
    return prompts.shown == 0 ? 0 : 1;
}
