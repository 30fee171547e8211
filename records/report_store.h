#pragma once

#include "core/database.h"
#include "core/prompts.h"
#include "records/report_record.h"
#include "records/report_sql.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace korvela {

// The two required fields, tested trimmed, the screening number first. Shows the message for the
// first one missing and answers false.
bool requireNumberAndName(Prompts& prompts, const QString& number, const QString& name);

// "是否更改？": asks whether the stored report with the record's screening number is to be
// overwritten by it.
bool askToOverwrite(Prompts& prompts, const ReportRecord& record);

struct SaveResult
{
    enum Kind { Saved, Declined, Failed } kind = Failed;
    Failure failure; // when Failed
};

// Where a stored report stands among found reports: its examination date as stored (null when it
// has none) and its row id.
struct ReportKey
{
    Value date;
    std::int64_t rowid = 0;
};

// The reports of one database, as the report window keeps and finds them. Conditions are WHERE
// clauses over table A with their bound values.
class ReportStore
{
public:
    explicit ReportStore(ReportDatabase& db);

    const ReportSql& sql() const { return m_sql; }

    // Stores the record in one transaction: a new row when no row holds its screening number;
    // otherwise, when `confirmOverwrite` agrees, every column but A3 of the first such row is
    // overwritten. The question is asked while the number's rows stay locked (on the server the
    // rows and the number itself, in the embedded store the whole file), so nobody changes them
    // meanwhile. The caller shows the closing message.
    // With `restores`, the save brings back the version that history row replaced or removed, and
    // its own history row is 恢复 naming that row.
    SaveResult save(const ReportRecord& record, const std::function<bool()>& confirmOverwrite,
                    std::optional<std::int64_t> restores = std::nullopt);

    // Deletes every row that holds the screening number, in one transaction.
    Status remove(const QString& number);

    struct Count
    {
        int reports = 0;
        std::int64_t lastRowid = 0; // the table's, 0 when it is empty
    };
    // How many reports the condition finds, and the last row id of the table, of one moment.
    Result<Count> count(const Statement& condition);
    // The keys of the reports the condition finds, in `order`, at most `limit` of them (0: all).
    Result<std::vector<ReportKey>> keys(const Statement& condition, const QString& order, int limit = 0);
    // The report with this row id when the condition finds it.
    Result<std::optional<ReportRecord>> report(std::int64_t rowid, const Statement& condition);

private:
    ReportDatabase& m_db;
    ReportSql m_sql;
};

// The messages that end a failed save or delete.
void showSaveFailure(Prompts& prompts, const Failure& failure);
void showDeleteFailure(Prompts& prompts, const Failure& failure);

} // namespace korvela
