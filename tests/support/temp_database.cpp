#include "support/temp_database.h"

#include "records/history_schema.h"
#include "store/change_functions.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace korvela::test {

namespace {
sqlite3* openRaw(const QString& path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK)
        ADD_FAILURE() << "cannot open " << path.toStdString();
    sqlite3_busy_timeout(db, 5000);
    registerChangeFunctions(db); // as every connection of the program's, so changes keep their history
    return db;
}
} // namespace

TempProgramFolder::TempProgramFolder(Schema schema)
{
    QDir(m_dir.path()).mkdir(QStringLiteral("Data"));
    QFile today(QStringLiteral(KORVELA_SCHEMA));
    if (!today.open(QIODevice::ReadOnly))
        ADD_FAILURE() << "schema missing";
    exec(QString::fromUtf8(today.readAll()));
    if (schema == Schema::Current)
        for (const QString& statement : historySchema(SqlDialect::Sqlite))
            exec(statement);
}

void TempProgramFolder::exec(const QString& sql) const
{
    sqlite3* db = openRaw(databaseFile());
    char* error = nullptr;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
        ADD_FAILURE() << "SQL failed: " << (error ? error : "?") << " in " << sql.toStdString();
        sqlite3_free(error);
    }
    sqlite3_close(db);
}

QString TempProgramFolder::scalar(const QString& sql) const
{
    sqlite3* db = openRaw(databaseFile());
    sqlite3_stmt* stmt = nullptr;
    QString out = QStringLiteral("<none>");
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
        out = sqlite3_column_type(stmt, 0) == SQLITE_NULL
                  ? QStringLiteral("<null>")
                  : QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return out;
}

} // namespace korvela::test
