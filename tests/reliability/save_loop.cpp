// Saves reports into the database given on the command line, one after another, until killed.
// After each save that reported success it prints "saved <n>" and flushes, so the parent knows
// exactly which saves were promised to the user.

#include "records/report_store.h"
#include "store/sqlite_database.h"

#include <QCoreApplication>

#include <cstdio>

using namespace korvela;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    SqliteReportDatabase db;
    if (!db.open(QString::fromLocal8Bit(argv[1]), std::chrono::seconds(5)))
        return 1;
    const int first = std::atoi(argv[2]);
    ReportStore store(db);
    for (int n = first;; ++n) {
        ReportRecord r;
        r[Field::PatientName] = QStringLiteral("患者%1").arg(n);
        r[Field::ScreeningNumber] = QStringLiteral("K%1").arg(n);
        r[Field::UltrasoundFindings] =
            QString(2000, QChar(u'超')) + QString::number(n); // large rows span pages
        r.examDate = QDate(2024, 1, 1).addDays(n % 365);
        r[Field::Physician] = QStringLiteral("医师%1").arg(n);
        for (int i = 0; i < int(kOptionCount); ++i)
            r.checked(optionField(i)) = (n + i) % 2 != 0;
        if (store.save(r, [] { return true; }).kind != SaveResult::Saved)
            return 1;
        std::printf("saved %d\n", n);
        std::fflush(stdout);
    }
}
