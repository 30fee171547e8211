// The search statement from five boxes: never crashes; the SQL text never carries typed text
// (only the fixed ASCII vocabulary), every argument is bound, and SQLite accepts the statement.
#include "fuzz/fuzz_support.h"
#include "search/search_statement.h"

#include <sqlite3.h>

namespace {
sqlite3* database()
{
    static sqlite3* db = [] {
        sqlite3* d = nullptr;
        sqlite3_open(":memory:", &d);
        sqlite3_exec(d,
                     "CREATE TABLE A (A1 TEXT COLLATE NOCASE, A2, A3 TEXT COLLATE NOCASE, A4, A5, A6, A7, A8, A9, "
                     "A10, A11, A12, A13 TEXT, A14 TEXT COLLATE NOCASE, A15, A16, A17, A18, A19, A20, A21, A22, "
                     "A23, A24, A25, A26, A27)",
                     nullptr, nullptr, nullptr);
        return d;
    }();
    return db;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto boxes = fuzzTexts(data, size, 5);
    const auto statement = korvela::BuildSearchStatement(korvela::SqlDialect::Sqlite, boxes[0], boxes[1], boxes[2], boxes[3], boxes[4]);
    if (!statement)
        return 0;
    const QString& sql = statement->sql;
    for (QChar c : sql)
        FUZZ_CHECK(c.unicode() < 128);
    for (const QString& box : boxes) {
        const QString t = box.trimmed();
        if (t.size() > 3 && !t.contains(u'\\'))
            FUZZ_CHECK(!sql.contains(t));
    }
    sqlite3_stmt* stmt = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    FUZZ_CHECK(sqlite3_prepare_v2(database(), utf8.constData(), -1, &stmt, nullptr) == SQLITE_OK);
    FUZZ_CHECK(sqlite3_bind_parameter_count(stmt) == int(statement->args.size()));
    sqlite3_finalize(stmt);
    return 0;
}
