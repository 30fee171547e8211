// Saves reports into the database given on the command line, one after another, until killed.
// After each save that reported success it prints "saved <n>" and flushes, so the parent knows
// exactly which saves were promised to the user.

#include "records/report_store.h"
#include "store/sqlite_database.h"

#include <QCoreApplication>

#include <cstdio>

using namespace korvela;

namespace {
class YesPrompts final : public Prompts
{
public:
    PromptAnswer show(const Prompt& p) override
    {
        return p.buttons == PromptButtons::YesNo ? PromptAnswer::Yes : PromptAnswer::Ok;
    }
};
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    SqliteReportDatabase db;
    if (!db.open(QString::fromLocal8Bit(argv[1]), std::chrono::seconds(5)))
        return 1;
    const int first = std::atoi(argv[2]);
    YesPrompts prompts;
    auto saveResults = db.createResultSet(QStringLiteral("A"));
    for (int n = first;; ++n) {
        ReportRecord r;
        r.a1 = QStringLiteral("患者%1").arg(n);
        r.a3 = QStringLiteral("K%1").arg(n);
        r.a5 = QString(2000, QChar(u'超')) + QString::number(n); // large rows span pages
        r.a13 = QDate(2024, 1, 1).addDays(n % 365);
        r.a14 = QStringLiteral("医师%1").arg(n);
        for (std::size_t i = 0; i < 13; ++i)
            r.options[i] = int((n + int(i)) % 2);
        if (saveReport(db, *saveResults, prompts, r).kind != SaveResult::Saved)
            return 1;
        std::printf("saved %d\n", n);
        std::fflush(stdout);
    }
}
