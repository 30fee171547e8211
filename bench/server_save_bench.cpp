// Save and delete latency on the report server, each a durable commit, beside psql running the
// same single-row transactions on the same server.
//
//   server_save_bench [rounds=1000] [database without the history]
//
// With a second database (the same reports, made without the history tables, as stores were before
// they kept one), Korvela's saves there take turns with the others too: what keeping every change
// costs.
//
// Both sides reach the database of the libpq service "korvela" (PGSERVICEFILE names the service
// file). Korvela opens it as a workstation does and saves through ReportStore::save()/remove().
//
// The reference is one psql process, started once and fed the same transactions over its standard
// input: BEGIN; the key's advisory lock; the lookup by key; the INSERT or the UPDATE of the row
// found; COMMIT (a delete: BEGIN; lock; DELETE; COMMIT), statement by statement, with the same
// statement texts and the values written in as literals. Its time per transaction is the sum of
// the times psql's \timing gives for those statements: psql takes each from sending the statement
// to the server's answer, which leaves out psql's reading of its input and printing of the rows,
// so the reference is the bare server round trips and Korvela's own work between its statements
// counts against it. psql sends each statement as plain text with the values written in; Korvela
// sends the values as parameters, which the server takes a little longer to bind (most for the 27
// of an INSERT or UPDATE): that, too, counts against Korvela. A psql per transaction would add a process start and a connection to every
// round; pgbench has no counter to give each transaction a key of its own without one more
// statement, so a new-row save would either collide with an earlier one or pay an extra round trip.
// The two sides take turns transaction by transaction, so both meet the same load on a shared
// machine and the same state of the server's disk.

#include "records/report_fields.h"
#include "records/report_store.h"
#include "store/postgres_database.h"
#include "store/store_choice.h"

#include <libpq-fe.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
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

// The p-th of 100 parts (p = 50: the median).
double percentile(std::vector<double> v, int p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, v.size() * std::size_t(p) / 100)];
}

double mean(const std::vector<double>& v)
{
    double sum = 0;
    for (double x : v)
        sum += x;
    return v.empty() ? 0 : sum / double(v.size());
}

ReportRecord record(const QString& prefix, int i)
{
    ReportRecord r;
    r[Field::PatientName] = QStringLiteral("测试患者%1").arg(i);
    r[Field::Age] = QStringLiteral("45");
    r[Field::ScreeningNumber] = prefix + QString::number(i);
    r[Field::ClinicalExamination] = QStringLiteral("双乳对称");
    r[Field::UltrasoundFindings] = QStringLiteral("未见异常");
    r[Field::Impression] = QStringLiteral("乳腺增生");
    r.examDate = QDate(2024, 5, 1);
    r[Field::Physician] = QStringLiteral("王医生");
    r.checked(Field::NoHandling) = true;
    return r;
}

QString literal(const Value& v)
{
    if (isNull(v))
        return QStringLiteral("NULL");
    if (const auto* s = std::get_if<QString>(&v))
        return u'\'' + QString(*s).replace(u'\'', QStringLiteral("''")) + u'\'';
    return valueToText(v);
}

// The statement with its ?N markers (outside quotes) replaced by its values as literals.
QString inlined(const Statement& statement)
{
    QString out;
    QChar quote;
    for (qsizetype i = 0; i < statement.sql.size(); ++i) {
        const QChar c = statement.sql[i];
        if (quote.isNull() && c == u'?' && i + 1 < statement.sql.size() && statement.sql[i + 1].isDigit()) {
            qsizetype end = i + 1;
            while (end < statement.sql.size() && statement.sql[end].isDigit())
                ++end;
            out += literal(statement.args[std::size_t(statement.sql.mid(i + 1, end - i - 1).toInt() - 1)]);
            i = end - 1;
            continue;
        }
        if (!quote.isNull() && c == quote)
            quote = QChar();
        else if (quote.isNull() && (c == u'\'' || c == u'"'))
            quote = c;
        out += c;
    }
    return out;
}

// The statements of one save: the lock, the lookup and the write of ReportStore::save().
QByteArray psqlSave(const ReportRecord& r, bool overwrite)
{
    const ReportSql sql(SqlDialect::Postgres);
    const QString key = r[Field::ScreeningNumber];
    QString write = inlined(overwrite ? ReportSql::overwriteReport(0, r) : ReportSql::insertReport(r));
    // The row found by the lookup, which \gset put into the variable rowid.
    if (overwrite)
        write = write.left(write.lastIndexOf(u'=') + 1) + u" :rowid";
    const QString lookup =
        inlined(sql.rowsWithNumber(key)) + (overwrite ? QStringLiteral(" \\gset\n") : QStringLiteral(";\n"));
    return (u"BEGIN;\n" + inlined(*sql.lockNumber(key)) + u";\n" + lookup + write +
            u";\nCOMMIT;\n\\echo TX\n")
        .toUtf8();
}

QByteArray psqlDelete(const QString& key)
{
    const ReportSql sql(SqlDialect::Postgres);
    return (u"BEGIN;\n" + inlined(*sql.lockNumber(key)) + u";\n" + inlined(sql.deleteNumber(key)) +
            u";\nCOMMIT;\n\\echo TX\n")
        .toUtf8();
}

// One psql for the whole run.
class Psql
{
public:
    bool start()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PGCLIENTENCODING"), QStringLiteral("UTF8"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("psql"), {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"),
                                                 QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"),
                                                 serviceConnection()});
        if (!m_process.waitForStarted())
            return false;
        // The session as Korvela sets up its own.
        return run("\\timing on\nSET DateStyle = ISO;\nSET lock_timeout = 5000;\n").has_value();
    }

    // Runs a script of transactions, each ended by "\echo TX", and waits for its end; gives each
    // one's time in ms.
    std::optional<std::vector<double>> run(const QByteArray& script)
    {
        m_process.write(script + "\\echo BLOCK_END\n");
        std::vector<double> transactions;
        double current = 0;
        for (;;) {
            while (!m_process.canReadLine()) {
                if (!m_process.waitForReadyRead(60000)) {
                    std::fprintf(stderr, "psql stopped answering\n");
                    return std::nullopt;
                }
            }
            const QByteArray line = m_process.readLine().trimmed();
            if (line == "BLOCK_END")
                return transactions;
            if (line == "TX") {
                transactions.push_back(current);
                current = 0;
            } else if (line.startsWith("Time: ")) {
                current += line.mid(6, line.indexOf(' ', 6) - 6).toDouble();
            }
        }
    }

    void finish()
    {
        m_process.write("\\q\n");
        m_process.closeWriteChannel();
        m_process.waitForFinished(-1);
    }

private:
    QProcess m_process;
};

long long count(PGconn* conn, const char* sql)
{
    PGresult* r = PQexec(conn, sql);
    const long long n = PQresultStatus(r) == PGRES_TUPLES_OK ? std::atoll(PQgetvalue(r, 0, 0)) : -1;
    PQclear(r);
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 1000;

    PostgresReportDatabase db;
    if (Status s = db.open(serviceConnection(), std::chrono::seconds(5)); !s) {
        std::fprintf(stderr, "%s\n", qPrintable(s.failure().description));
        return 1;
    }
    const long long reports = count(db.handle(), "SELECT count(*) FROM a");
    PostgresReportDatabase plainDb;
    const bool comparePlain = argc > 2;
    if (comparePlain)
        if (Status s = plainDb.open(serviceConnection() + u" dbname=" + QString::fromLocal8Bit(argv[2]),
                                    std::chrono::seconds(5));
            !s) {
            std::fprintf(stderr, "%s\n", qPrintable(s.failure().description));
            return 1;
        }
    ReportStore plainStore(plainDb);
    Psql psql;
    if (!psql.start()) {
        std::fprintf(stderr, "psql did not start\n");
        return 1;
    }

    YesPrompts prompts;
    ReportStore store(db);
    const auto timed = [](auto&& work) {
        const auto t0 = Clock::now();
        const bool done = work();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        if (!done) {
            std::fprintf(stderr, "a save or delete failed\n");
            std::exit(1);
        }
        return ms;
    };
    const QString ours = QStringLiteral("BENCH");
    const QString theirs = QStringLiteral("PSQL");
    // Every block is checked by the rows it leaves: its own numbers, all there or all gone.
    const auto check = [&](const QString& prefix, long long expected) {
        const QByteArray sql = "SELECT count(*) FROM a WHERE a3 LIKE '" + prefix.toUtf8() + "%'";
        if (const long long n = count(db.handle(), sql.constData()); n != expected) {
            std::fprintf(stderr, "%s: %lld rows, %lld expected\n", qPrintable(prefix), n, expected);
            std::exit(1);
        }
    };

    struct Operation
    {
        const char* name;
        std::vector<double> ours, theirs, plain;
    };
    Operation operations[] = {{"save (new row)", {}, {}, {}}, {"save (overwrite)", {}, {}, {}}, {"delete", {}, {}, {}}};
    for (int op = 0; op < 3; ++op) {
        Operation& o = operations[op];
        for (int i = 0; i < rounds; ++i) {
            QByteArray script;
            const auto change = [&](ReportStore& on) {
                if (op == 2)
                    return bool(on.remove(ours + QString::number(i)));
                const ReportRecord r = record(ours, i);
                return on.save(r, [&] { return askToOverwrite(prompts, r); }).kind == SaveResult::Saved;
            };
            o.ours.push_back(timed([&] { return change(store); }));
            if (comparePlain)
                o.plain.push_back(timed([&] { return change(plainStore); }));
            script = op == 2 ? psqlDelete(theirs + QString::number(i)) : psqlSave(record(theirs, i), op == 1);
            const std::optional<std::vector<double>> times = psql.run(script);
            if (!times || times->size() != 1) {
                std::fprintf(stderr, "psql did not run the transaction\n");
                return 1;
            }
            o.theirs.push_back(times->front());
        }
        check(ours, op == 2 ? 0 : rounds);
        check(theirs, op == 2 ? 0 : rounds);
    }
    psql.finish();

    std::printf("reports: %lld, rounds: %d; ms per durable transaction (10th, 50th, 90th percentile and mean of "
                "each side)\n",
                reports, rounds);
    std::printf("%-18s %24s %6s   %24s %6s %7s\n", "operation", "korvela p10 p50 p90", "mean", "psql p10 p50 p90",
                "mean", "ratio");
    for (const Operation& o : operations) {
        const double a = median(o.ours), b = median(o.theirs);
        std::printf("%-18s %8.3f %7.3f %7.3f %7.3f   %8.3f %7.3f %7.3f %7.3f %6.2f\n", o.name, percentile(o.ours, 10),
                    a, percentile(o.ours, 90), mean(o.ours), percentile(o.theirs, 10), b, percentile(o.theirs, 90),
                    mean(o.theirs), b > 0 ? a / b : 0);
    }
    for (const Operation& o : operations)
        std::printf("RESULT\t%s, %lld reports on the server (reference: psql)\t%f\t%f\tms\n", o.name, reports,
                    median(o.ours), median(o.theirs));
    if (comparePlain)
        for (const Operation& o : operations)
            std::printf("RESULT\t%s keeping its history, %lld reports on the server (reference: the same without it)"
                        "\t%f\t%f\tms\n",
                        o.name, reports, median(o.ours), median(o.plain));
    return 0;
}
