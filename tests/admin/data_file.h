#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <variant>

struct sqlite3;

namespace korvela::test {

// A value exactly as SQLite may hold it: null, an integer, a real, a text's bytes (UTF-8 or not,
// U+0000 included) or a blob.
struct Blob
{
    std::string bytes;
};
using Cell = std::variant<std::monostate, std::int64_t, double, std::string, Blob>;
using StoredRow = std::array<Cell, 27>;

// An ordinary report: texts after its number, a date (none for every 50th), options 1/0.
StoredRow ordinaryReport(std::int64_t i);

// Makes a Data.Dat from data/schema.sql holding `count` reports, row(i) for i = 1..count,
// inserted in one transaction in that order.
void writeDataFile(const QString& path, std::int64_t count,
                   const std::function<StoredRow(std::int64_t)>& row);

// Brings a file made by writeDataFile() to the program's version as korvela-admin upgrade does:
// its reports then are those from before the history began.
void upgradeDataFile(const QString& path);

// Runs SQL on the file (several statements allowed); fails the test on error.
void execOnFile(const QString& path, const QString& sql);

} // namespace korvela::test
