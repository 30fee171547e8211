#pragma once

#include "core/database.h"
#include "records/report_record.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <cstdint>
#include <optional>
#include <vector>

namespace korvela {

// One row of the report history: who changed which report how, when and from where.
struct Change
{
    std::int64_t seq = 0;
    // 新建, 修改, 删除, 恢复, or the name of the admin command that wrote the row.
    QString action;
    QDateTime at; // UTC
    QString who;
    QString host;
    std::int64_t reportId = 0;
    QString number;
    // The patient's name (A1) after the change; before it for a delete.
    QString name;
    // For 恢复: the change whose `before` was brought back.
    std::optional<std::int64_t> restores;
};

// A change with the report as it was before and after it: no record before a new report or
// after a delete.
struct ChangeVersions
{
    Change change;
    std::optional<ReportRecord> before;
    std::optional<ReportRecord> after;
};

// One row of the access log: who looked at, printed or exported a report, or searched.
struct Access
{
    std::int64_t seq = 0;
    QDateTime at; // UTC
    QString who;
    QString host;
    // 查询, 查看, 打印 or 导出.
    QString event;
    std::optional<std::int64_t> reportId;
    QString number;
    QString detail;
};

// From `since` (included) to `until` (excluded); an end left open is unbounded.
struct TimeSpan
{
    std::optional<QDateTime> since;
    std::optional<QDateTime> until;
};
// The days `from` to `to`, both included, as the clocks of `zone` count them: the history keeps
// UTC, the department means its own days.
TimeSpan localDays(const std::optional<QDate>& from, const std::optional<QDate>& to,
                   const QTimeZone& zone = QTimeZone::systemTimeZone());

// Which changes to list. Empty texts choose everything.
struct ChangeFilter
{
    // Matched as the save matches it: trimmed of blanks, Latin letters in either case.
    QString number;
    // The login, exactly.
    QString who;
    QString action;
    TimeSpan span;
    int limit = 1000;
};

// Reads the report history and the access log of a store.
class ChangeLog
{
public:
    explicit ChangeLog(ReportDatabase& db)
        : m_db(db)
    {}

    // The changes the filter chooses, newest first, at most its limit of them.
    Result<std::vector<Change>> changes(const ChangeFilter& filter);
    // One change with the report before and after it; nothing when there is no such change. A
    // version whose values cannot be read fails.
    Result<std::optional<ChangeVersions>> versions(std::int64_t seq);
    // The accesses to the reports of one screening number (matched as the save matches it),
    // newest first, at most `limit` of them.
    Result<std::vector<Access>> accesses(const QString& number, int limit);

    // The list's statement, as changes() runs it.
    static Statement changesStatement(SqlDialect dialect, const ChangeFilter& filter);

private:
    ReportDatabase& m_db;
};

} // namespace korvela
