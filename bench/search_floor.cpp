// The least any program must do for a search: prepare the SELECT, bind its values, step every row
// and copy every column into memory of its own, through the SQLite C API and nothing else.
//
//   search_floor <Data.Dat> <rounds> <sql> [text values bound to ?1, ?2, ...]
//
// Prints one line per round: "<milliseconds> <rows>", then "peak_kb <VmHWM>".

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sqlite3.h>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <Data.Dat> <rounds> <sql> [values...]\n", argv[0]);
        return 2;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "open: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    const int rounds = std::atoi(argv[2]);
    for (int r = 0; r < rounds; ++r) {
        const auto started = std::chrono::steady_clock::now();
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, argv[3], -1, &stmt, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "prepare: %s\n", sqlite3_errmsg(db));
            return 1;
        }
        for (int i = 4; i < argc; ++i)
            sqlite3_bind_text(stmt, i - 3, argv[i], -1, SQLITE_STATIC);
        std::vector<char> copy;
        long rows = 0;
        const int columns = sqlite3_column_count(stmt);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            ++rows;
            for (int c = 0; c < columns; ++c) {
                if (sqlite3_column_type(stmt, c) == SQLITE_INTEGER) {
                    const sqlite3_int64 v = sqlite3_column_int64(stmt, c);
                    const char* p = reinterpret_cast<const char*>(&v);
                    copy.insert(copy.end(), p, p + sizeof v);
                } else {
                    const char* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
                    copy.insert(copy.end(), p, p + sqlite3_column_bytes(stmt, c));
                }
            }
        }
        sqlite3_finalize(stmt);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        std::printf("%.3f %ld\n", ms, rows);
    }
    sqlite3_close(db);

    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            std::printf("peak_kb %ld\n", std::atol(line.c_str() + 6));
    return 0;
}
