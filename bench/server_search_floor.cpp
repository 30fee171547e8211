// The least any program must do for a search on the report server: send the SELECT with its
// values as parameters (PQexecParams, as text, types left to the server), keep the rows libpq
// received and read every value of every row (its null flag, first byte and length), through libpq
// and nothing else. The result libpq fills is already memory of the program's own, so nothing is
// copied again. Connects with the libpq service "korvela", as the workstation does.
//
//   server_search_floor <sql with $1, $2 ...> [text values bound to $1, $2, ...]
//
// Runs one round for every line read from the standard input, on one connection, and answers it
// with the line "<milliseconds> <rows> <checksum of the values>"; at the end of the input prints
// "peak_kb <VmHWM>".

#include <libpq-fe.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <sql> [values...]\n", argv[0]);
        return 2;
    }
    PGconn* conn = PQconnectdb("service=korvela");
    if (PQstatus(conn) != CONNECTION_OK) {
        std::fprintf(stderr, "connect: %s\n", PQerrorMessage(conn));
        return 1;
    }
    PQsetClientEncoding(conn, "UTF8");
    const std::vector<const char*> values(argv + 2, argv + argc);
    for (std::string line; std::getline(std::cin, line);) {
        const auto started = std::chrono::steady_clock::now();
        PGresult* result =
            PQexecParams(conn, argv[1], int(values.size()), nullptr, values.data(), nullptr, nullptr, 0);
        if (PQresultStatus(result) != PGRES_TUPLES_OK) {
            std::fprintf(stderr, "query: %s\n", PQresultErrorMessage(result));
            return 1;
        }
        // Printed, so the reading cannot be left out by the compiler.
        unsigned long checksum = 0;
        const int rows = PQntuples(result);
        const int columns = PQnfields(result);
        for (int row = 0; row < rows; ++row) {
            for (int c = 0; c < columns; ++c) {
                if (PQgetisnull(result, row, c))
                    continue;
                const char* p = PQgetvalue(result, row, c);
                checksum += static_cast<unsigned char>(p[0]) + unsigned(PQgetlength(result, row, c));
            }
        }
        // Freed within the round, as the window frees the rows of the search before.
        PQclear(result);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        std::printf("%.3f %d %lu\n", ms, rows, checksum);
        std::fflush(stdout);
    }
    PQfinish(conn);

    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            std::printf("peak_kb %ld\n", std::atol(line.c_str() + 6));
    return 0;
}
