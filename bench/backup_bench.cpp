// The daily backup of a large Data.Dat while a workstation saves reports: how long the checked
// copy takes (beside the sqlite3 program's own .backup of the same file, which neither checks
// nor rotates), and the longest wait a save saw during it (beside the longest before it).
//   backup_bench <Data.Dat to copy> <work folder>

#include "admin/backup.h"
#include "records/report_store.h"
#include "store/sqlite_database.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
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

// Saves new reports one after another and notes when each began and how long it took.
class Writer
{
public:
    explicit Writer(const QString& file)
        : m_thread([this, file] { run(file); })
    {}
    ~Writer()
    {
        m_stop = true;
        m_thread.join();
    }
    // The longest save that began within [from, to).
    double longestMs(Clock::time_point from, Clock::time_point to)
    {
        std::lock_guard lock(m_mutex);
        double longest = 0;
        for (const auto& [began, ms] : m_saves)
            if (began >= from && began < to)
                longest = std::max(longest, ms);
        return longest;
    }
    std::size_t saves()
    {
        std::lock_guard lock(m_mutex);
        return m_saves.size();
    }
    bool failed() const { return m_failed; }

private:
    void run(const QString& file)
    {
        SqliteReportDatabase db;
        if (!db.open(file, std::chrono::seconds(5))) {
            m_failed = true;
            return;
        }
        YesPrompts prompts;
        ReportStore store(db);
        for (int n = 0; !m_stop; ++n) {
            ReportRecord r;
            r[Field::PatientName] = QStringLiteral("备份中%1").arg(n);
            r[Field::ScreeningNumber] = QStringLiteral("BK%1").arg(n);
            r[Field::ClinicalExamination] = QStringLiteral("备份时保存的报告");
            r.examDate = QDate(2026, 12, 10);
            const auto began = Clock::now();
            if (store.save(r, [&] { return askToOverwrite(prompts, r); }).kind != SaveResult::Saved)
                m_failed = true;
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
            {
                std::lock_guard lock(m_mutex);
                m_saves.emplace_back(began, ms);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5)); // a busy department, not a flood
        }
    }

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_failed{false};
    std::mutex m_mutex;
    std::vector<std::pair<Clock::time_point, double>> m_saves;
    std::thread m_thread;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <Data.Dat> <work folder>\n", argv[0]);
        return 2;
    }
    const QString work = QString::fromLocal8Bit(argv[2]);
    QDir(work).removeRecursively();
    QDir().mkpath(work);
    const QString file = work + u"/Data.Dat";
    if (!QFile::copy(QString::fromLocal8Bit(argv[1]), file))
        return 1;

    // The reference: the sqlite3 program's online backup of the same file, no writer, no checks.
    QElapsedTimer reference;
    reference.start();
    if (QProcess::execute(QStringLiteral("sqlite3"), {file, QStringLiteral(".backup '%1/reference.Dat'").arg(work)}) != 0)
        return 1;
    const double referenceMs = double(reference.nsecsElapsed()) / 1e6;
    QFile::remove(work + u"/reference.Dat");

    Writer writer(file);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const auto before = Clock::now();
    const auto started = Clock::now();
    const Result<admin::BackupSummary> made =
        admin::backupDataFile(file, work + u"/backup", QDateTime::currentDateTime());
    const auto ended = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (!made) {
        std::fprintf(stderr, "backup failed: %s\n", qPrintable(made.failure().description));
        return 1;
    }
    const double backupMs = std::chrono::duration<double, std::milli>(ended - started).count();
    const double longestDuring = writer.longestMs(started, ended);
    const double longestBefore = writer.longestMs(before - std::chrono::seconds(3), before);
    std::printf("copy: %s, %llu reports, checked, in %.0f ms (sqlite3 .backup alone: %.0f ms)\n",
                qPrintable(made->made.file), static_cast<unsigned long long>(made->made.reports.count), backupMs,
                referenceMs);
    std::printf("saves: %zu in all; longest during the backup %.1f ms, in the 3 s before it %.1f ms\n",
                writer.saves(), longestDuring, longestBefore);
    const QString size = QString::number(made->made.reports.count);
    std::printf("RESULT\tbackup (checked copy) of Data.Dat, %s reports, while a writer saves (target: 5x the "
                "reference; reference: sqlite3 .backup, no writer)\t%.1f\t%.1f\tms\n",
                qPrintable(size), backupMs, referenceMs);
    std::printf("RESULT\tlongest save during that backup (target: 100 ms; reference: longest in the 3 s "
                "before)\t%.1f\t%.1f\tms\n",
                longestDuring, longestBefore);
    return writer.failed() ? 1 : 0;
}
