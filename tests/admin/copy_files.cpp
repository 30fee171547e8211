#include "copy_files.h"

#include "store/change_functions.h"

#include <QFile>

#include <sqlite3.h>

namespace korvela::test {

FileState readFile(const QString& path)
{
    FileState state;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
            state.whole = qstrcmp(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "ok") == 0;
        sqlite3_finalize(s);
        if (sqlite3_prepare_v2(db, "SELECT A3, coalesce(length(A5), 0) FROM A ORDER BY rowid", -1, &s, nullptr) ==
            SQLITE_OK)
            while (sqlite3_step(s) == SQLITE_ROW) {
                state.numbers << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
                state.withoutTheirLongText += sqlite3_column_int(s, 1) <= 2000;
            }
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return state;
}

void addReports(const TempProgramFolder& folder, const QStringList& numbers)
{
    for (const QString& n : numbers)
        folder.exec(QStringLiteral("INSERT INTO A (A1, A3, A13, A15) VALUES ('患者', '%1', '2024-01-01', 1)").arg(n));
}

bool execOn(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    const bool ran = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE,
                                     nullptr) == SQLITE_OK &&
                     registerChangeFunctions(db) == SQLITE_OK &&
                     sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ran;
}

} // namespace korvela::test
