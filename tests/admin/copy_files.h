#pragma once

#include "support/temp_database.h"

#include <QDateTime>
#include <QStringList>

namespace korvela::test {

inline const QDateTime kBackupTime(QDate(2026, 12, 10), QTime(3, 15));

// The screening numbers in a database file, and whether it is whole.
struct FileState
{
    bool whole = false;
    QStringList numbers;
    int withoutTheirLongText = 0; // the writer's reports all carry one
};
FileState readFile(const QString& path);

void addReports(const TempProgramFolder& folder, const QStringList& numbers);

// Runs SQL on a database file as another program would; whether it ran.
bool execOn(const QString& path, const char* sql);

} // namespace korvela::test
