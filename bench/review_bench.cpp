// Korvela 随访与统计 on a large store: the time from opening a tab to its list or figures drawn in
// the real window, beside the floor: a bare program running the same statements with the same
// values and reading every value of every row, through the SQLite C API (search_floor) for a
// report file, through libpq (server_search_floor) for the report server. Also the peak memory
// of both, and the statements' query plans.
//
//   review_bench <Data.Dat> [rounds=5] [today=2024-12-20]
//   review_bench --server [rounds=5] [today=2024-12-20]
//   review_bench --history <Data.Dat> [rounds=5]
//
// `today` is the day the window counts from; the default falls within bench/make_reports' years,
// so the year's audit has a year of reports and the follow-ups are partly overdue, partly due.
// The cases: (f) the 随访 tab, the window's first, from the window's making (its worker thread and
// connection included) to the list drawn (逾期), (y) then the 统计 tab from its opening to its
// figures drawn (the year of today), (w) the 统计 tab changed to the whole store (2005-01-01 to
// 2024-12-31). Each round is a new window with a new worker and connection.
//
// --history: (h) the 修改记录 tab's list of one patient's history among 1,000,000 changes, from Enter
// in its 筛查编号 box to the list drawn, beside the same statement run by the bare SQLite program.
// A file with fewer changes gets them first: every report is overwritten (its values kept) in one
// statement per pass, through the same triggers as a save, until the history holds a million.

#include "records/change_log.h"
#include "review/follow_up.h"
#include "review/grade_audit.h"
#include "review/review_models.h"
#include "review/review_window.h"
#include "store/postgres_database.h"
#include "store/sqlite_database.h"
#include "store/store_choice.h"
#include "widgets/date_picker.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QProcess>
#include <QTabWidget>
#include <QTableView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace korvela;
using Clock = std::chrono::steady_clock;

namespace {

// No message and no file dialog may come up; any that does is printed.
class CountingPrompts final : public Prompts, public FileChooser
{
public:
    PromptAnswer show(const Prompt& prompt) override
    {
        std::fprintf(stderr, "unexpected message: %s\n", qPrintable(prompt.text));
        ++shown;
        return PromptAnswer::No;
    }
    QString saveFileName(const SaveFileQuestion& question) override
    {
        std::fprintf(stderr, "unexpected file dialog: %s\n", qPrintable(question.caption));
        ++shown;
        return {};
    }
    int shown = 0;
};

// A control of the window, found by its name as the tests find it.
template <typename W> W* control(QWidget& window, const char* name)
{
    return window.findChild<W*>(QString::fromLatin1(name));
}

// A tab's reading has ended when its busy bar is gone; a reading is asked for synchronously, so
// the bar is shown from the click (or the tab's opening) on.
bool readingEnded(QWidget& window, const char* progress)
{
    return control<QWidget>(window, progress)->isHidden();
}

long statusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Keeps the event loop turning until `done` holds; the bench cannot go on after a minute.
template <typename F> void waitFor(F done)
{
    const auto start = Clock::now();
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        if (msSince(start) > 60000) {
            std::fprintf(stderr, "nothing shown after a minute\n");
            std::exit(1);
        }
    }
}

// The floor of one case: its statements, each by a bare program of its own.
class Floor
{
public:
    Floor(QString file, std::vector<Statement> statements)
        : m_file(std::move(file))
        , m_statements(std::move(statements))
    {
        if (!m_file.isEmpty())
            return;
        // A server floor keeps its connection for the whole case, as the window's worker keeps
        // its own; the first rounds of a new connection are not counted.
        for (const Statement& s : m_statements) {
            QStringList args{serverParameters(s.sql)};
            for (const Value& v : s.args)
                args << valueToText(v);
            auto process = std::make_unique<QProcess>();
            process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            process->start(QCoreApplication::applicationDirPath() + QStringLiteral("/server_search_floor"),
                           args);
            m_servers.push_back(std::move(process));
        }
        for (int r = 0; r < 3; ++r)
            (void)round();
    }

    // One round of every statement, in ms.
    double round()
    {
        double total = 0;
        m_rows = 0;
        for (std::size_t i = 0; i < m_statements.size(); ++i)
            total += m_file.isEmpty() ? serverRound(*m_servers[i]) : fileRound(m_statements[i]);
        return total;
    }

    void finish()
    {
        for (auto& process : m_servers) {
            process->closeWriteChannel();
            process->waitForFinished(-1);
            read(process->readAllStandardOutput());
        }
    }

    long rows() const { return m_rows; }
    long peakKb() const { return m_peakKb; }

private:
    double read(const QByteArray& output)
    {
        double last = 0;
        for (const QByteArray& line : output.split('\n')) {
            const QList<QByteArray> parts = line.trimmed().split(' ');
            if (parts.size() < 2)
                continue;
            if (parts[0] == "peak_kb") {
                m_peakKb = std::max(m_peakKb, parts[1].toLong());
            } else {
                last = parts[0].toDouble();
                m_lastRows = parts[1].toLong();
            }
        }
        return last;
    }

    // Its second round: the first reads the schema, as the window's connection did before.
    double fileRound(const Statement& s)
    {
        QStringList args{m_file, QStringLiteral("2"), s.sql};
        for (const Value& v : s.args)
            args << valueToText(v);
        QProcess floor;
        floor.start(QCoreApplication::applicationDirPath() + QStringLiteral("/search_floor"), args);
        floor.waitForFinished(-1);
        const double ms = read(floor.readAllStandardOutput());
        if (floor.exitCode() != 0)
            std::fprintf(stderr, "search_floor: %s\n", floor.readAllStandardError().constData());
        m_rows += m_lastRows;
        return ms;
    }

    double serverRound(QProcess& process)
    {
        process.write("\n");
        while (!process.canReadLine())
            if (!process.waitForReadyRead(-1)) {
                std::fprintf(stderr, "server_search_floor ended\n");
                std::exit(1);
            }
        const double ms = read(process.readLine());
        m_rows += m_lastRows;
        return ms;
    }

    QString m_file;
    std::vector<Statement> m_statements;
    std::vector<std::unique_ptr<QProcess>> m_servers;
    long m_rows = 0;
    long m_lastRows = 0;
    long m_peakKb = 0;
};

void printPlans(ReportDatabase& db, const QString& file, const std::vector<Statement>& statements)
{
    for (const Statement& s : statements) {
        std::unique_ptr<ResultSet> plan = db.createResultSet();
        const QString prefix =
            file.isEmpty() ? QStringLiteral("EXPLAIN ") : QStringLiteral("EXPLAIN QUERY PLAN ");
        if (!plan->open({prefix + s.sql, s.args})) {
            std::printf("  plan: (none)\n");
            continue;
        }
        for (; plan->hasCurrentRow(); (void)plan->moveNext()) {
            const Result<Value> line =
                plan->field(file.isEmpty() ? QStringLiteral("query plan") : QStringLiteral("detail"));
            std::printf("  plan: %s\n", line ? qPrintable(valueToText(*line)) : "?");
        }
    }
}

struct Figures
{
    std::vector<double> ours, floor;
};

void result(const QString& measure, double ours, double reference, const char* unit)
{
    std::printf("RESULT\t%s\t%.3f\t%.3f\t%s\n", qPrintable(measure), ours, reference, unit);
}

// One value of the first row of a query, 0 when there is none.
std::int64_t scalar(ReportDatabase& db, const QString& sql)
{
    std::unique_ptr<ResultSet> rows = db.createResultSet();
    if (!rows->open({sql, {}}) || !rows->hasCurrentRow())
        return 0;
    const Result<Value> v = rows->field(QStringLiteral("n"));
    const auto* n = v ? std::get_if<std::int64_t>(&*v) : nullptr;
    return n ? *n : 0;
}

constexpr std::int64_t kHistoryRows = 1000000;

// Overwrites the reports, values kept, until the history holds a million changes.
bool fillHistory(ReportDatabase& db)
{
    const auto start = Clock::now();
    std::int64_t rows = scalar(db, QStringLiteral("SELECT count(*) AS n FROM report_history"));
    const std::int64_t reports = scalar(db, QStringLiteral("SELECT count(*) AS n FROM A"));
    while (rows < kHistoryRows && reports > 0) {
        const std::int64_t pass = std::min(reports, kHistoryRows - rows);
        Status s = db.begin();
        if (s)
            s = db.execute({QStringLiteral("UPDATE A SET A2 = A2 WHERE rowid IN (SELECT rowid FROM A ORDER BY rowid"
                                           " LIMIT ?1)"),
                            {pass}});
        if (s)
            s = db.commit();
        if (!s) {
            std::fprintf(stderr, "the history could not be filled: %s\n", qPrintable(s.failure().description));
            (void)db.rollback();
            return false;
        }
        rows += pass;
        std::printf("history: %lld changes\n", static_cast<long long>(rows));
        std::fflush(stdout);
    }
    std::printf("history: %lld changes, filled in %.0f s\n", static_cast<long long>(rows), msSince(start) / 1000);
    return true;
}

int historyBench(const QString& file, int rounds)
{
    const StoreOpener open = [file]() -> Result<std::unique_ptr<ReportDatabase>> {
        auto db = std::make_unique<SqliteReportDatabase>();
        if (Status s = db->open(file, std::chrono::seconds(5), StoreAccess::ReadOnly); !s)
            return s.failure();
        return std::unique_ptr<ReportDatabase>(std::move(db));
    };
    ChangeFilter patient;
    {
        SqliteReportDatabase db;
        if (Status s = db.open(file, std::chrono::seconds(5)); !s || !fillHistory(db)) {
            std::fprintf(stderr, "%s\n", s ? "" : qPrintable(s.failure().description));
            return 1;
        }
        // The patient of the report in the middle of the table.
        std::unique_ptr<ResultSet> middle = db.createResultSet();
        if (middle->open({QStringLiteral("SELECT A3 AS n FROM A WHERE rowid >= (SELECT max(rowid) / 2 FROM A)"
                                         " ORDER BY rowid LIMIT 1"),
                          {}}))
            if (const Result<Value> n = middle->field(QStringLiteral("n")))
                patient.number = valueToText(*n);
        std::printf("(h) the history of %s:\n", qPrintable(patient.number));
        printPlans(db, file, {ChangeLog::changesStatement(SqlDialect::Sqlite, patient)});
    }
    CountingPrompts prompts;
    Floor floor(file, {ChangeLog::changesStatement(SqlDialect::Sqlite, patient)});
    Figures figures;
    int listed = 0;
    for (int r = 0; r < rounds; ++r) {
        figures.floor.push_back(floor.round());
        ReviewWindow window(ReviewServices{open, open, prompts, prompts, [] { return QDate::currentDate(); }});
        control<QTabWidget>(window, "reviewTabs")->setCurrentIndex(2);
        window.show();
        waitFor([&] { return readingEnded(window, "historyProgress"); });
        // The newest change's versions are read and shown as the list is: the window is left to
        // settle after them, so the figure is of the patient's list alone.
        const QAbstractItemModel* versions = control<QTableView>(window, "historyVersions")->model();
        waitFor([&] { return versions->rowCount() > 0; });
        QCoreApplication::processEvents();
        auto* number = control<QLineEdit>(window, "historyNumber");
        number->setText(patient.number);
        const auto start = Clock::now();
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(number, &enter);
        waitFor([&] { return readingEnded(window, "historyProgress"); });
        QCoreApplication::processEvents(); // the list drawn
        figures.ours.push_back(msSince(start));
        listed = control<QTableView>(window, "historyTable")->model()->rowCount();
    }
    floor.finish();
    std::printf("(h) %d changes listed, the floor stepped %ld rows: median %.1f ms, floor %.1f ms\n", listed,
                floor.rows(), median(figures.ours), median(figures.floor));
    result(QStringLiteral("review: 修改记录 list of one patient's history (%1 changes) among 1,000,000 changes "
                          "(target: 50 ms; reference: bare SQLite program, same statement)")
               .arg(listed),
           median(figures.ours), median(figures.floor), "ms");
    return prompts.shown == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2 || (qstrcmp(argv[1], "--history") == 0 && argc < 3)) {
        std::fprintf(stderr, "usage: %s <Data.Dat> | --server [rounds=5] [today=2024-12-20]\n"
                             "       %s --history <Data.Dat> [rounds=5]\n", argv[0], argv[0]);
        return 2;
    }
    if (qstrcmp(argv[1], "--history") == 0)
        return historyBench(QString::fromLocal8Bit(argv[2]), argc > 3 ? std::atoi(argv[3]) : 5);
    const bool server = qstrcmp(argv[1], "--server") == 0;
    const QString file = server ? QString() : QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const QDate today =
        QDate::fromString(QString::fromLatin1(argc > 3 ? argv[3] : "2024-12-20"), Qt::ISODate);
    const SqlDialect dialect = server ? SqlDialect::Postgres : SqlDialect::Sqlite;

    const StoreOpener open = [file, server]() -> Result<std::unique_ptr<ReportDatabase>> {
        if (server) {
            auto db = std::make_unique<PostgresReportDatabase>();
            if (Status s = db->open(serviceConnection(), std::chrono::seconds(5), StoreAccess::ReadOnly); !s)
                return s.failure();
            return std::unique_ptr<ReportDatabase>(std::move(db));
        }
        auto db = std::make_unique<SqliteReportDatabase>();
        if (Status s = db->open(file, std::chrono::seconds(5), StoreAccess::ReadOnly); !s)
            return s.failure();
        return std::unique_ptr<ReportDatabase>(std::move(db));
    };
    Result<std::unique_ptr<ReportDatabase>> probe = open();
    if (!probe) {
        std::fprintf(stderr, "%s\n", qPrintable(probe.failure().description));
        return 1;
    }
    long reports = 0;
    {
        std::unique_ptr<ResultSet> count = (*probe)->createResultSet();
        if (count->open({QStringLiteral("SELECT count(*) AS n FROM A"), {}}))
            if (const Result<Value> n = count->field(QStringLiteral("n")))
                reports = long(std::get<std::int64_t>(*n));
    }
    const QString where = server ? QStringLiteral(" on the server") : QString();
    const QString size = QLocale::c().toString(qlonglong(reports));
    const QString reference = server ? QStringLiteral("bare libpq program, same statements")
                                     : QStringLiteral("bare SQLite program, same statements");
    const AuditPeriod year = yearPeriod(today.year());
    const AuditPeriod whole{QDate(2005, 1, 1), QDate(2024, 12, 31)};
    const std::vector<Statement> listStatements{FollowUpList::statement(dialect)};
    std::printf("review_bench: %ld reports%s, today %s, %d rounds\n", reports, qPrintable(where),
                qPrintable(today.toString(Qt::ISODate)), rounds);
    std::printf("(f) follow-up list:\n");
    printPlans(**probe, file, listStatements);
    std::printf("(y) audit of %d:\n", today.year());
    printPlans(**probe, file, GradeAudit::statements(dialect, year));
    probe.value().reset();
    const long rssBefore = statusKb("VmRSS:");

    CountingPrompts prompts;
    Floor listFloor(file, listStatements);
    Floor yearFloor(file, GradeAudit::statements(dialect, year));
    Figures list, audit;
    int listed = 0, overdue = 0, yearReports = 0;
    // The peak of one window that opened both tabs: later rounds make a new worker thread each, whose
    // memory the allocator keeps apart from the last one's.
    long peak = 0;
    for (int r = 0; r < rounds; ++r) {
        list.floor.push_back(listFloor.round());
        audit.floor.push_back(yearFloor.round());

        // The 随访 tab is opened with the window: from the window's making to its list drawn.
        auto start = Clock::now();
        ReviewWindow window(ReviewServices{open, open, prompts, prompts, [today] { return today; }});
        window.show();
        waitFor([&] { return readingEnded(window, "followUpProgress"); });
        QCoreApplication::processEvents(); // the list drawn
        list.ours.push_back(msSince(start));
        const auto* shown =
            qobject_cast<const FollowUpModel*>(control<QTableView>(window, "followUpTable")->model());
        listed = shown->shownCount();
        overdue = shown->overdueCount();

        start = Clock::now();
        control<QTabWidget>(window, "reviewTabs")->setCurrentIndex(1);
        waitFor([&] { return readingEnded(window, "auditProgress"); });
        QCoreApplication::processEvents(); // the table and the charts drawn
        audit.ours.push_back(msSince(start));
        const GradeAudit* figures =
            qobject_cast<const AuditModel*>(control<QTableView>(window, "auditTable")->model())->audit();
        yearReports = figures ? figures->total.reports : 0;
        if (r == 0)
            peak = statusKb("VmHWM:");
    }
    listFloor.finish();
    yearFloor.finish();
    std::printf(
        "(f) %d follow-ups listed (%d overdue), the floor stepped %ld rows: median %.1f ms, floor %.1f ms\n",
        listed, overdue, listFloor.rows(), median(list.ours), median(list.floor));
    std::printf("(y) %d reports in %d, the floor stepped %ld rows: median %.1f ms, floor %.1f ms\n",
                yearReports, today.year(), yearFloor.rows(), median(audit.ours), median(audit.floor));
    std::printf("memory: peak %ld kB after the first window (rss %ld kB before it), %ld kB after all rounds;"
                " floor peaks %ld kB, %ld kB\n",
                peak, rssBefore, statusKb("VmHWM:"), listFloor.peakKb(), yearFloor.peakKb());

    // (w) The whole store, chosen in an open window.
    std::printf("(w) audit of 2005-01-01 to 2024-12-31:\n");
    Floor wholeFloor(file, GradeAudit::statements(dialect, whole));
    Figures all;
    for (int r = 0; r < rounds; ++r) {
        all.floor.push_back(wholeFloor.round());
        ReviewWindow window(ReviewServices{open, open, prompts, prompts, [today] { return today; }});
        control<QTabWidget>(window, "reviewTabs")->setCurrentIndex(1);
        window.show();
        const auto audited = [&] { return readingEnded(window, "auditProgress"); };
        waitFor(audited);
        auto* from = control<DatePicker>(window, "auditFrom");
        auto* to = control<DatePicker>(window, "auditTo");
        if (to->value() != whole.to) {
            to->setValue(whole.to);
            waitFor(audited);
        }
        const auto start = Clock::now();
        from->setValue(whole.from);
        waitFor(audited);
        QCoreApplication::processEvents();
        all.ours.push_back(msSince(start));
    }
    wholeFloor.finish();
    std::printf("(w) the floor stepped %ld rows: median %.1f ms, floor %.1f ms; peak %ld kB\n",
                wholeFloor.rows(), median(all.ours), median(all.floor), statusKb("VmHWM:"));

    result(QStringLiteral(
               "review: 随访 tab opened to list shown (逾期, %1 listed), %2 reports%3 (reference: %4)")
               .arg(listed)
               .arg(size, where, reference),
           median(list.ours), median(list.floor), "ms");
    result(QStringLiteral("review: 统计 tab opened to figures shown (year %1), %2 reports%3 (reference: %4)")
               .arg(today.year())
               .arg(size, where, reference),
           median(audit.ours), median(audit.floor), "ms");
    result(QStringLiteral("review: 统计 changed to the whole store (20 years), %1 reports%2 (reference: %3)")
               .arg(size, where, reference),
           median(all.ours), median(all.floor), "ms");
    result(
        QStringLiteral("review: peak memory of a window that opened both tabs, %1 reports%2 (reference: the "
                       "floors' peak)")
            .arg(size, where),
        double(peak) / 1024, double(std::max(listFloor.peakKb(), yearFloor.peakKb())) / 1024, "MB");
    return prompts.shown == 0 ? 0 : 1;
}
