#pragma once

#include "core/database.h"
#include "core/status.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace korvela {

// The accesses of one window (查询, 查看, 打印, 导出), queued as they happen and written together by
// flush(), so that a search or a browse step costs no write of its own. Who, where, when, the
// report's screening number and the chain's hash are the store's to fill in: the server's
// korvela_log_access, the file's trigger on access_log.
class AccessLog
{
public:
    explicit AccessLog(ReportDatabase& db);

    // `conditions`: the search boxes as the user filled them ("姓名=王*"), empty for none.
    void searched(const QString& conditions, int count);
    void viewed(std::int64_t reportId);
    // The report printed or exported, when it is a stored one.
    void printed(std::optional<std::int64_t> reportId);
    void exported(std::optional<std::int64_t> reportId, const QString& fileName);

    bool pending() const { return !m_queued.empty(); }

    // Writes the queued accesses in one transaction. While the connection is in a transaction of
    // its own (a save waiting for its question) nothing is written and the accesses stay queued;
    // so do they when the write fails, which gives the failure.
    Status flush();

private:
    struct Access
    {
        QString event;
        std::optional<std::int64_t> reportId;
        std::optional<QString> detail;
    };
    Statement statement(const Access& access) const;

    ReportDatabase& m_db;
    std::vector<Access> m_queued;
};

} // namespace korvela
