// korvela-admin check of a long history: the file's history chain of a million changes (made by
// the store's own triggers, each row with its digest) recomputed row by row, the access log's, and
// every report held against its latest version; how long it takes and the memory it holds.
//
//   history_bench make <Data.Dat> [changes=1000000]   makes the file unless it exists
//   history_bench check <Data.Dat> [rounds=3]

#include "admin/history_check.h"
#include "records/history_schema.h"
#include "records/report_sql.h"
#include "store/history_store.h"
#include "store/sqlite_database.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace korvela;

namespace {

// Reports made first; the rest of the changes overwrite them in turn.
constexpr int kReports = 100000;

ReportRecord reportOf(std::int64_t n, int version)
{
    ReportRecord r;
    r[Field::PatientName] = QStringLiteral("患者%1").arg(n);
    r[Field::Age] = QString::number(20 + n % 70);
    r[Field::ScreeningNumber] = QStringLiteral("H%1").arg(n);
    r[Field::ClinicalExamination] = QStringLiteral("临床所见，第 %1 版。").arg(version);
    r[Field::UltrasoundFindings] = QStringLiteral("双乳腺体回声均匀，未见明显肿块。第 %1 版").arg(version);
    r[Field::MammographyFindings] = QStringLiteral("双乳腺体呈散在纤维腺体型。");
    r[Field::XRayGrade] = QString::number(version % 6);
    r[Field::Impression] = QStringLiteral("初步诊断 %1").arg(version);
    r.examDate = QDate(2020, 1, 1).addDays(int(n % 2000));
    r[Field::Physician] = QStringLiteral("医师%1").arg(n % 20);
    for (int i = 0; i < int(kOptionCount); ++i)
        r.checked(optionField(i)) = (n + version + i) % 3 == 0;
    return r;
}

int make(const QString& file, std::int64_t changes)
{
    if (QFile::exists(file))
        return 0;
    const QString partial = file + QStringLiteral(".partial");
    QFile::remove(partial);
    // Today's table A as setup makes it, then the history as upgrade adds it.
    QFile schema(QStringLiteral(KORVELA_SCHEMA));
    sqlite3* raw = nullptr;
    const bool made = schema.open(QIODevice::ReadOnly) &&
                      sqlite3_open(QFile::encodeName(partial).constData(), &raw) == SQLITE_OK &&
                      sqlite3_exec(raw, schema.readAll().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(raw);
    SqliteReportDatabase db;
    Status s = made ? db.open(partial, std::chrono::seconds(5))
                    : Status(Failure{0, QStringLiteral("data/schema.sql not applied")});
    for (const QString& statement : historySchema(SqlDialect::Sqlite))
        if (s)
            s = db.execute({statement, {}});
    // One transaction: the triggers write each history row as a save would, without a commit each.
    if (s)
        s = db.begin();
    for (std::int64_t c = 0; s && c < changes; ++c) {
        const std::int64_t n = c % kReports + 1;
        s = c < kReports ? db.execute(ReportSql::insertReport(reportOf(n, 0)))
                         : db.execute(ReportSql::overwriteReport(n, reportOf(n, int(c / kReports))));
    }
    if (s)
        s = db.commit();
    if (!s) {
        std::fprintf(stderr, "making the history failed: %s\n", qPrintable(s.failure().description));
        return 1;
    }
    db.close();
    return QFile::rename(partial, file) ? 0 : 1;
}

long peakKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    return 0;
}

int check(const QString& file, int rounds)
{
    std::vector<double> seconds;
    std::int64_t rows = 0;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        Result<std::unique_ptr<StoreReader>> store = readFile(file);
        if (!store) {
            std::fprintf(stderr, "cannot read %s: %s\n", qPrintable(file), qPrintable(store.failure().description));
            return 1;
        }
        const admin::HistoryFindings found = admin::checkHistory(**store);
        seconds.push_back(double(timer.nsecsElapsed()) / 1e9);
        if (!found.problems.isEmpty()) {
            std::fprintf(stderr, "the history does not check: %s\n", qPrintable(found.problems.join(u'\n')));
            return 1;
        }
        rows = found.historyRows;
    }
    std::sort(seconds.begin(), seconds.end());
    const QByteArray changes = QLocale(QLocale::English).toString(qlonglong(rows)).toUtf8();
    std::printf("history rows checked: %lld, median %.2f s of %d rounds\n", qlonglong(rows),
                seconds[seconds.size() / 2], rounds);
    std::printf("RESULT\tcheck of the history chain of %s changes in Data.Dat, with every report against its "
                "latest version (target: 10 s)\t%.2f\t0\ts\n",
                changes.constData(), seconds[seconds.size() / 2]);
    std::printf("RESULT\tpeak memory of that check, %s changes (the chain is read row by row)\t%.1f\t0\tMB\n",
                changes.constData(), double(peakKilobytes()) / 1024);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == u"make")
        return make(args[2], args.size() > 3 ? args[3].toLongLong() : 1000000);
    if (args.size() >= 3 && args[1] == u"check")
        return check(args[2], args.size() > 3 ? args[3].toInt() : 3);
    std::fprintf(stderr, "usage: history_bench make|check <Data.Dat> [changes|rounds]\n");
    return 2;
}
