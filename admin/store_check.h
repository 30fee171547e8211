#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace korvela::admin {

struct CheckReport
{
    // The file's path, or "服务器 host:port/database"; checked as configured, the store choice's
    // description ("文件 <path>", "服务器 ...（连接服务 korvela，<service file>）").
    QString store;
    std::int64_t reports = -1; // -1 when the reports could not be counted
    QStringList problems;      // one sentence each; none when the store is sound
    QStringList warnings;      // what the administrator should know of a sound store too
    // The rows of the history and of the access log, -1 when their chains were not read.
    std::int64_t historyRows = -1;
    std::int64_t accessRows = -1;

    bool ok() const { return problems.isEmpty(); }
};

// A Data.Dat, read only: on a local disk, a database by SQLite's full integrity check (pages,
// free list, every index against its table), with the report table and its 27 columns, and its
// history as checkHistory() (history_check.h) finds it.
CheckReport checkSqliteStore(const QString& file);

// The server of `connection`: open as the program opens it (UTF8, table a present and writable),
// the columns of the types the program reads, every index present and valid, each index read by
// the server itself giving as many rows as the table (all counts in one snapshot, so saves under
// way do not disturb them), and the rowid sequence ahead of every stored rowid (else the next
// save fails), and its history as checkHistory() finds it.
CheckReport checkServerStore(const QString& connection);

// The store chooseStore() takes for `programFolder`, named as it describes it; its refusal as the
// one problem when it takes none.
CheckReport checkConfiguredStore(const QString& programFolder);

} // namespace korvela::admin
