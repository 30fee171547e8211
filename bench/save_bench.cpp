// Save and delete latency on a database of many reports, each a durable commit, beside the same
// single-row transactions run by the sqlite3 command-line program on a copy of the same file, and
// beside the same saves on a copy without the history (the store as it was before it kept one:
// what keeping every change costs).
//
//   save_bench [reports=100000] [rounds=200]

#include "records/report_sql.h"
#include "records/history_schema.h"
#include "records/report_store.h"
#include "store/sqlite_database.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace korvela;
using Clock = std::chrono::steady_clock;

namespace {

class YesPrompts final : public Prompts
{
public:
    PromptAnswer show(const Prompt& p) override
    {
        return p.buttons == PromptButtons::YesNo ? PromptAnswer::Yes : PromptAnswer::Ok;
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

bool run(const QString& program, const QStringList& args, const QByteArray& input, QByteArray* out = nullptr)
{
    QProcess p;
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(-1);
    if (out)
        *out = p.readAllStandardOutput();
    if (p.exitCode() != 0)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
    return p.exitCode() == 0;
}

// Fills the database with `count` reports through SQL, in one transaction.
bool generate(const QString& file, int count)
{
    QFile schema(QStringLiteral(KORVELA_SCHEMA));
    schema.open(QIODevice::ReadOnly);
    const QByteArray sql = schema.readAll() + QByteArrayLiteral(
        "BEGIN;"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ") + QByteArray::number(count) +
        QByteArrayLiteral(")"
        "INSERT INTO A SELECT '患者' || i, '' || (20 + i % 60), printf('S%07d', i), '双乳对称，未触及明显肿块',"
        " '右乳外上象限见低回声结节，边界清', 'HU分型：左侧IA；', '' || i % 7, '' || i % 7, '' || i % 7, '' || i % 7,"
        " '乳腺增生', '三个月后复查', date('2015-01-01', '+' || (i % 3650) || ' days'), '医师' || (i % 40),"
        " i % 2, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1 FROM n;"
        "COMMIT;");
    return run(QStringLiteral("sqlite3"), {file}, sql);
}

ReportRecord record(int i)
{
    ReportRecord r;
    r[Field::PatientName] = QStringLiteral("测试患者%1").arg(i);
    r[Field::Age] = QStringLiteral("45");
    r[Field::ScreeningNumber] = QStringLiteral("BENCH%1").arg(i);
    r[Field::ClinicalExamination] = QStringLiteral("双乳对称");
    r[Field::UltrasoundFindings] = QStringLiteral("未见异常");
    r[Field::Impression] = QStringLiteral("乳腺增生");
    r.examDate = QDate(2024, 5, 1);
    r[Field::Physician] = QStringLiteral("王医生");
    r.checked(Field::NoHandling) = true;
    return r;
}

// Mean time of one transaction run by the sqlite3 program: a script of all of them, timed whole,
// less the time of the same program start on an empty script. (Its `.timer` prints whole
// milliseconds only, too coarse for single statements.)
double cliPerTransaction(const QString& file, const QByteArray& script, int transactions)
{
    const auto wall = [&](const QByteArray& input) {
        const auto t0 = Clock::now();
        run(QStringLiteral("sqlite3"), {file}, "PRAGMA synchronous=FULL;\n" + input);
        return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    };
    std::vector<double> empty;
    for (int i = 0; i < 5; ++i)
        empty.push_back(wall({}));
    return (wall(script) - median(empty)) / transactions;
}

QByteArray cliRow(int i)
{
    return QStringLiteral("'测试患者%1','45','BENCH%1','双乳对称','未见异常','','','','','','乳腺增生','','2024-05-01',"
                          "'王医生',1,0,0,0,0,0,0,0,0,0,0,0,0")
        .arg(i)
        .toUtf8();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int reports = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 200;

    QTemporaryDir dir;
    const QString ours = dir.path() + u"/ours.Dat";
    const QString plain = dir.path() + u"/plain.Dat";
    const QString theirs = dir.path() + u"/cli.Dat";
    if (!generate(plain, reports))
        return 1;
    QFile::copy(plain, theirs);
    QFile::copy(plain, ours);

    // Korvela's store keeps the history; the plain copy is the store as it was before.
    SqliteReportDatabase db, plainDb;
    for (auto [database, file] : {std::pair{&db, ours}, std::pair{&plainDb, plain}})
        if (Status s = database->open(file, std::chrono::seconds(5)); !s) {
            std::fprintf(stderr, "%s\n", qPrintable(s.failure().description));
            return 1;
        }
    for (const QString& statement : historySchema(SqlDialect::Sqlite))
        if (Status s = db.execute({statement, {}}); !s) {
            std::fprintf(stderr, "%s\n", qPrintable(s.failure().description));
            return 1;
        }
    YesPrompts prompts;
    ReportStore store(db), plainStore(plainDb);
    const auto timed = [](auto&& work) {
        const auto t0 = Clock::now();
        work();
        return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    };
    // Both stores take turns save by save, so both meet the same state of the machine.
    std::vector<double> saveNew, saveOver, del, plainNew, plainOver, plainDel;
    const auto saveBoth = [&](int i, std::vector<double>& withHistory, std::vector<double>& without) {
        const ReportRecord r = record(i);
        const auto ask = [&] { return askToOverwrite(prompts, r); };
        withHistory.push_back(timed([&] { store.save(r, ask); }));
        without.push_back(timed([&] { plainStore.save(r, ask); }));
    };
    for (int i = 0; i < rounds; ++i)
        saveBoth(i, saveNew, plainNew);
    for (int i = 0; i < rounds; ++i)
        saveBoth(i, saveOver, plainOver);
    for (int i = 0; i < rounds; ++i) {
        const QString number = record(i)[Field::ScreeningNumber];
        del.push_back(timed([&] { (void)store.remove(number); }));
        plainDel.push_back(timed([&] { (void)plainStore.remove(number); }));
    }
    const QString kept = QString::number(rounds * 3);
    if (const std::unique_ptr<ResultSet> h = db.createResultSet();
        !h->open({QStringLiteral("SELECT count(*) AS n FROM report_history"), {}}) ||
        valueToText(*h->field(QStringLiteral("n"))) != kept) {
        std::fprintf(stderr, "the history does not hold one row per change\n");
        return 1;
    }
    db.close();
    plainDb.close();

    // The same transactions by the sqlite3 program: look the key up, then write.
    QByteArray newScript, overScript, delScript;
    const QByteArray keyIs = ReportSql(SqlDialect::Sqlite).key().toUtf8() + " = ";
    for (int i = 0; i < rounds; ++i) {
        const QByteArray key = "'BENCH" + QByteArray::number(i) + "'";
        const QByteArray lookup = "SELECT rowid, * FROM A WHERE " + keyIs + key + ";\n";
        newScript += "BEGIN IMMEDIATE;\n" + lookup + "INSERT INTO A VALUES (" + cliRow(i) + ");\nCOMMIT;\n";
        overScript += "BEGIN IMMEDIATE;\n" + lookup +
                      "UPDATE A SET A1='x',A2='45',A4='双乳对称',A5='未见异常',A6='',A7='',A8='',A9='',A10='',"
                      "A11='乳腺增生',A12='',A13='2024-05-01',A14='王医生',A15=1,A16=0,A17=0,A18=0,A19=0,A20=0,"
                      "A21=0,A22=0,A23=0,A24=0,A25=0,A26=0,A27=0 WHERE rowid = (SELECT rowid FROM A WHERE " +
                      keyIs + key + " ORDER BY rowid LIMIT 1);\nCOMMIT;\n";
        delScript += "BEGIN IMMEDIATE;\nDELETE FROM A WHERE " + keyIs + key + ";\nCOMMIT;\n";
    }
    const double cliNew = cliPerTransaction(theirs, newScript, rounds);
    const double cliOver = cliPerTransaction(theirs, overScript, rounds);
    const double cliDel = cliPerTransaction(theirs, delScript, rounds);

    std::printf("reports: %d, rounds: %d; ms per durable transaction (korvela: median and mean; sqlite3: mean)\n",
                reports, rounds);
    std::printf("%-18s %10s %10s %10s %8s\n", "operation", "median", "mean", "sqlite3", "ratio");
    QStringList results;
    const auto row = [&results, reports](const char* name, const std::vector<double>& a, double cli) {
        double mean = 0;
        for (double x : a)
            mean += x / double(a.size());
        std::printf("%-18s %10.3f %10.3f %10.3f %8.2f\n", name, median(a), mean, cli, cli > 0 ? median(a) / cli : 0);
        results << QStringLiteral("RESULT\t%1, %2 reports (reference: sqlite3)\t%3\t%4\tms")
                       .arg(QString::fromUtf8(name))
                       .arg(reports)
                       .arg(median(a))
                       .arg(cli);
    };
    row("save (new row)", saveNew, cliNew);
    row("save (overwrite)", saveOver, cliOver);
    row("delete", del, cliDel);
    const auto historyRow = [&results, reports](const char* name, const std::vector<double>& a,
                                                const std::vector<double>& b) {
        std::printf("%-18s %10.3f with the history, %10.3f without: %6.2f\n", name, median(a), median(b),
                    median(b) > 0 ? median(a) / median(b) : 0);
        results << QStringLiteral("RESULT\t%1 keeping its history, %2 reports (reference: the same without it)\t%3\t%4\tms")
                       .arg(QString::fromUtf8(name))
                       .arg(reports)
                       .arg(median(a))
                       .arg(median(b));
    };
    historyRow("save (new row)", saveNew, plainNew);
    historyRow("save (overwrite)", saveOver, plainOver);
    historyRow("delete", del, plainDel);
    for (const QString& line : results)
        std::printf("%s\n", qPrintable(line));
    return 0;
}
