#pragma once

#include "core/database.h"
#include "core/status.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace korvela {

// What a user did with reports, as the access log names it.
enum class AccessEvent { Search, View, Print, Export };

// One access: its event, the report it concerns (none for a search) and its detail (a search's
// conditions and count, an export's file name).
struct Access
{
    AccessEvent event = AccessEvent::Search;
    std::optional<std::int64_t> reportId;
    std::optional<QString> detail;
};

// "查询", "查看", "打印", "导出".
QString accessEventName(AccessEvent event);

// The statement that appends one access to access_log, for the engine of `dialect`. Who, where,
// when, the report's screening number and the chain's hash are the store's to fill in: the
// server's korvela_log_access, the file's trigger on access_log.
Statement accessStatement(SqlDialect dialect, const Access& access);

// The accesses of one window, queued as they happen and written together by flush(), so that a
// search or a browse step costs no write of its own.
class AccessLog
{
public:
    explicit AccessLog(ReportDatabase& db);

    // `conditions`: the search boxes as the user filled them ("姓名=王*"), empty for none.
    void searched(const QString& conditions, int count);
    void viewed(std::int64_t reportId);
    void printed(std::optional<std::int64_t> reportId);
    void exported(std::optional<std::int64_t> reportId, const QString& fileName);

    bool pending() const { return !m_queued.empty(); }

    // Writes the queued accesses in one transaction. While the connection is in a transaction of
    // its own (a save waiting for its question) nothing is written and the accesses stay queued;
    // so do they when the write fails, which gives the failure.
    Status flush();

private:
    ReportDatabase& m_db;
    std::vector<Access> m_queued;
};

} // namespace korvela
