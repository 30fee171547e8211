// import-legacy's speed: the old program's Data-20000.Dat (20,000 reports) into an empty Data.Dat
// by the real command, beside the same rows written by a bare SQLite program of this benchmark's
// own (one prepared INSERT, the values already read and already UTF-8, one transaction), and the
// peak memory of each (the command's together with its reading process).
//
//   import_bench [rounds=5]
//
// Needs the shared fixtures (../shared/fixtures/legacy beside the source tree); without them it
// says so and measures nothing.

#include "legacy/legacy_reader.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sqlite3.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace korvela;
using Clock = std::chrono::steady_clock;

namespace {

struct Cell
{
    bool null = true;
    bool integer = false;
    std::int64_t number = 0;
    std::string text;
};
using Row = std::vector<Cell>;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

bool makeStore(const QString& file)
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile::remove(file);
    QFile schema(QStringLiteral(KORVELA_SCHEMA));
    if (!schema.open(QIODevice::ReadOnly))
        return false;
    sqlite3* db = nullptr;
    const bool ok = sqlite3_open(QFile::encodeName(file).constData(), &db) == SQLITE_OK &&
                    sqlite3_exec(db, schema.readAll().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

// The reference: the rows into the empty file as the store writes them (WAL, a durable commit).
bool writeBare(const QString& file, const std::vector<Row>& rows)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(QFile::encodeName(file).constData(), &db) != SQLITE_OK)
        return false;
    sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    std::string sql = "INSERT INTO A (";
    for (int c = 1; c <= 27; ++c)
        sql += "A" + std::to_string(c) + (c < 27 ? ", " : ") VALUES (");
    for (int c = 1; c <= 27; ++c)
        sql += "?" + std::to_string(c) + (c < 27 ? ", " : ")");
    sqlite3_stmt* insert = nullptr;
    bool ok = sqlite3_prepare_v2(db, sql.c_str(), -1, &insert, nullptr) == SQLITE_OK;
    for (const Row& row : rows) {
        for (int c = 0; ok && c < 27; ++c) {
            const Cell& cell = row[std::size_t(c)];
            if (cell.null)
                sqlite3_bind_null(insert, c + 1);
            else if (cell.integer)
                sqlite3_bind_int64(insert, c + 1, cell.number);
            else
                sqlite3_bind_text(insert, c + 1, cell.text.data(), int(cell.text.size()), SQLITE_STATIC);
        }
        ok = ok && sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

struct Run
{
    double ms = 0;
    double peakMb = 0;
    bool ok = false;
};

// Runs `body` in a child process: its wall time, and its peak memory with that of any process it
// waited for.
template <typename Body>
Run inChild(Body body)
{
    std::fflush(nullptr);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body() ? 0 : 1);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Run r;
    r.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    r.peakMb = double(usage.ru_maxrss) / 1024.0;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const QString source = QStringLiteral(KORVELA_LEGACY_FIXTURES "/Data-20000.Dat");
    if (!QFile::exists(source)) {
        std::printf("import_bench: %s is missing (the shared fixtures are not beside the source tree); "
                    "nothing measured\n",
                    qPrintable(source));
        return 0;
    }

    // The values as the import reads them, for the bare program.
    std::vector<Row> rows;
    {
        legacy::LegacyReader reader;
        if (Status s = reader.open(source); !s) {
            std::fprintf(stderr, "%s\n", qPrintable(s.failure().description));
            return 1;
        }
        legacy::LegacyReport report;
        for (;;) {
            Result<bool> next = reader.next(report);
            if (!next) {
                std::fprintf(stderr, "%s\n", qPrintable(next.failure().description));
                return 1;
            }
            if (!*next)
                break;
            Row row(27);
            for (std::size_t c = 0; c < 27; ++c) {
                const Value& v = report.values[c];
                if (const auto* i = std::get_if<std::int64_t>(&v))
                    row[c] = {false, true, *i, {}};
                else if (const auto* t = std::get_if<QString>(&v))
                    row[c] = {false, false, 0, t->toStdString()};
            }
            rows.push_back(std::move(row));
        }
    }
    const double reports = double(rows.size());

    QTemporaryDir dir;
    const QString store = dir.path() + u"/Data/Data.Dat";
    const QByteArray home = QFile::encodeName(dir.path());
    std::vector<double> ours, reference, oursPeak, referencePeak;
    for (int round = 0; round < rounds; ++round) {
        if (!makeStore(store))
            return 1;
        const Run command = inChild([&] {
            setenv("KORVELA_HOME", home.constData(), 1);
            setenv("PGSERVICEFILE", "/nonexistent/korvela-bench/pg_service.conf", 1);
            setenv("PGSYSCONFDIR", "/nonexistent/korvela-bench", 1);
            if (!std::freopen("/dev/null", "w", stdout))
                return false;
            const QByteArray file = QFile::encodeName(source);
            execl(KORVELA_ADMIN, KORVELA_ADMIN, "import-legacy", file.constData(), static_cast<char*>(nullptr));
            return false;
        });
        if (!makeStore(store))
            return 1;
        const Run bare = inChild([&] { return writeBare(store, rows); });
        if (!command.ok || !bare.ok) {
            std::fprintf(stderr, "import_bench: %s failed\n", command.ok ? "the bare program" : "korvela-admin");
            return 1;
        }
        ours.push_back(command.ms);
        reference.push_back(bare.ms);
        oursPeak.push_back(command.peakMb);
        referencePeak.push_back(bare.peakMb);
    }
    const double oursMs = median(ours), referenceMs = median(reference);
    std::printf("RESULT\timport-legacy, Data-20000.Dat into an empty Data.Dat (reference: bare SQLite program "
                "writing the values already read; higher is better; target: ratio at least 0.33)\t%.0f\t%.0f\t"
                "reports/s\n",
                reports / oursMs * 1000.0, reports / referenceMs * 1000.0);
    std::printf("RESULT\tpeak memory of import-legacy, Data-20000.Dat, with its reading process (reference: the "
                "bare program holding the values read)\t%.1f\t%.1f\tMB\n",
                median(oursPeak), median(referencePeak));
    return 0;
}
