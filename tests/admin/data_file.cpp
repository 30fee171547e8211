#include "admin/data_file.h"

#include "records/history_schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace korvela::test {

namespace {

sqlite3* openFile(const QString& path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK)
        ADD_FAILURE() << "cannot open " << path.toStdString();
    return db;
}

void exec(sqlite3* db, const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        ADD_FAILURE() << "SQL failed: " << (error ? error : "?");
        sqlite3_free(error);
    }
}

} // namespace

StoredRow ordinaryReport(std::int64_t i)
{
    StoredRow r;
    const std::string n = std::to_string(i);
    static const char* const texts[] = {"患者", "", "SC-", "临床所见 ", "B超所见 ", "钼靶所见 ", "",
                                        "",     "", "",    "初步诊断 ", "建议 ",    "",          "医师"};
    for (int c = 0; c < 14; ++c)
        r[std::size_t(c)] = std::string(texts[c]) + (c == 13 ? std::to_string(i % 20) : n);
    r[1] = std::to_string(20 + i % 70);
    for (int c = 6; c < 10; ++c)
        r[std::size_t(c)] = std::to_string(i % 6);
    if (i % 50 == 0)
        r[12] = std::monostate{};
    else {
        char date[16];
        std::snprintf(date, sizeof date, "%04d-%02d-%02d", int(2005 + i % 20), int(1 + i % 12),
                      int(1 + i % 28));
        r[12] = std::string(date);
    }
    if (i % 97 == 0)
        r[3] = std::monostate{};
    if (i % 89 == 0)
        r[13] = std::monostate{};
    for (int c = 14; c < 27; ++c)
        r[std::size_t(c)] = std::int64_t((i >> (c - 14)) & 1);
    return r;
}

void writeDataFile(const QString& path, std::int64_t count, const std::function<StoredRow(std::int64_t)>& row)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile schema(QStringLiteral(KORVELA_SCHEMA));
    ASSERT_TRUE(schema.open(QIODevice::ReadOnly));
    sqlite3* db = openFile(path);
    exec(db, schema.readAll().constData());
    exec(db, "BEGIN");
    sqlite3_stmt* insert = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(
            db,
            "INSERT INTO A VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16,"
            " ?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24, ?25, ?26, ?27)",
            -1, &insert, nullptr),
        SQLITE_OK);
    for (std::int64_t i = 1; i <= count; ++i) {
        const StoredRow r = row(i);
        for (int c = 0; c < 27; ++c) {
            const Cell& cell = r[std::size_t(c)];
            if (const auto* v = std::get_if<std::int64_t>(&cell))
                sqlite3_bind_int64(insert, c + 1, *v);
            else if (const auto* d = std::get_if<double>(&cell))
                sqlite3_bind_double(insert, c + 1, *d);
            else if (const auto* t = std::get_if<std::string>(&cell))
                sqlite3_bind_text64(insert, c + 1, t->data(), t->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
            else if (const auto* b = std::get_if<Blob>(&cell))
                sqlite3_bind_blob64(insert, c + 1, b->bytes.data(), b->bytes.size(), SQLITE_TRANSIENT);
            else
                sqlite3_bind_null(insert, c + 1);
        }
        if (sqlite3_step(insert) != SQLITE_DONE)
            ADD_FAILURE() << "insert failed: " << sqlite3_errmsg(db);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    exec(db, "COMMIT");
    sqlite3_close(db);
}

void upgradeDataFile(const QString& path)
{
    QString statements;
    for (const QString& statement : historySchema(SqlDialect::Sqlite))
        statements += statement + u";\n";
    execOnFile(path, u"BEGIN;\n" + statements + u"COMMIT");
}

void execOnFile(const QString& path, const QString& sql)
{
    sqlite3* db = openFile(path);
    exec(db, sql.toUtf8().constData());
    sqlite3_close(db);
}

} // namespace korvela::test
