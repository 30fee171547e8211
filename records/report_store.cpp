#include "records/report_store.h"

#include "core/logging.h"

namespace korvela {

bool requireNumberAndName(Prompts& prompts, const QString& number, const QString& name)
{
    if (trimBlanks(number).isEmpty()) {
        prompts.message(QStringLiteral("筛查编号不能为空！"), PromptIcon::Error);
        return false;
    }
    if (trimBlanks(name).isEmpty()) {
        prompts.message(QStringLiteral("患者姓名不能为空！"), PromptIcon::Error);
        return false;
    }
    return true;
}

bool askToOverwrite(Prompts& prompts, const ReportRecord& record)
{
    return prompts.ask(record[Field::PatientName] + u" 这名患者的报告已经存在，是否更改？");
}

ReportStore::ReportStore(ReportDatabase& db)
    : m_db(db)
    , m_sql(db.dialect())
{}

namespace {

// Rolls back the transaction a failure ended and gives that failure: the rollback's own failure
// is not the one the user needs to hear of.
Failure rolledBack(ReportDatabase& db, const Failure& failure)
{
    (void)db.rollback();
    return failure;
}

// Starts a save or delete transaction holding the number's lock.
Status beginForNumber(ReportDatabase& db, const ReportSql& sql, const QString& number)
{
    if (Status s = db.begin(); !s)
        return s;
    if (const auto lock = sql.lockNumber(number))
        if (Status s = db.execute(*lock); !s)
            return rolledBack(db, s.failure());
    return {};
}

Status commit(ReportDatabase& db)
{
    if (Status s = db.commit(); !s)
        return rolledBack(db, s.failure());
    return {};
}

// An integer column's value; 0 for null.
std::int64_t integer(const Value& value)
{
    const auto* n = std::get_if<std::int64_t>(&value);
    return n ? *n : 0;
}

// Runs a query and hands each of its rows to `row`, which may end the reading with a failure.
template <typename Row> Status eachRow(ReportDatabase& db, const Statement& query, Row row)
{
    const std::unique_ptr<ResultSet> rows = db.createResultSet();
    if (Status s = rows->open(query); !s)
        return s;
    for (; rows->hasCurrentRow(); (void)rows->moveNext())
        if (Status s = row(*rows); !s)
            return s;
    return {};
}

// A condition's statement with more bound after its own values.
Statement extended(const Statement& condition, const QString& sql, std::vector<Value> more = {})
{
    Statement s{sql, condition.args};
    s.args.insert(s.args.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    return s;
}

} // namespace

SaveResult ReportStore::save(const ReportRecord& record, const std::function<bool()>& confirmOverwrite,
                             std::optional<std::int64_t> restores)
{
    const QString& number = record[Field::ScreeningNumber];
    if (Status s = beginForNumber(m_db, m_sql, number); !s)
        return {SaveResult::Failed, s.failure()};
    if (restores)
        if (Status s = m_db.execute(m_sql.changeContext(QStringLiteral("恢复"), restores)); !s)
            return {SaveResult::Failed, rolledBack(m_db, s.failure())};
    std::optional<std::int64_t> stored;
    const Status looked = eachRow(m_db, m_sql.rowsWithNumber(number), [&](const ResultSet& row) -> Status {
        if (stored)
            return {};
        const Result<Value> rowid = row.field(QStringLiteral("rowid"));
        if (!rowid)
            return rowid.failure();
        stored = integer(*rowid);
        return {};
    });
    if (!looked)
        return {SaveResult::Failed, rolledBack(m_db, looked.failure())};

    if (stored && !confirmOverwrite()) {
        (void)m_db.rollback();
        return {SaveResult::Declined, {}};
    }
    const Statement write =
        stored ? ReportSql::overwriteReport(*stored, record) : ReportSql::insertReport(record);
    if (Status s = m_db.execute(write); !s)
        return {SaveResult::Failed, rolledBack(m_db, s.failure())};
    if (Status s = commit(m_db); !s)
        return {SaveResult::Failed, s.failure()};
    return {SaveResult::Saved, {}};
}

Status ReportStore::remove(const QString& number)
{
    if (Status s = beginForNumber(m_db, m_sql, number); !s)
        return s;
    if (Status s = m_db.execute(m_sql.deleteNumber(number)); !s)
        return rolledBack(m_db, s.failure());
    return commit(m_db);
}

Result<ReportStore::Count> ReportStore::count(const Statement& condition)
{
    // One statement, so the count and the last row id are of the same moment.
    const Statement query = extended(
        condition, u"SELECT count(*) AS n, (SELECT max(rowid) FROM A) AS last FROM A WHERE " + condition.sql);
    Count count;
    const Status read = eachRow(m_db, query, [&](const ResultSet& row) -> Status {
        const Result<Value> n = row.field(QStringLiteral("n"));
        const Result<Value> last = row.field(QStringLiteral("last"));
        if (!n || !last)
            return n ? last.failure() : n.failure();
        count = {int(integer(*n)), integer(*last)};
        return {};
    });
    if (!read)
        return read.failure();
    return count;
}

Result<std::vector<ReportKey>> ReportStore::keys(const Statement& condition, const QString& order, int limit)
{
    QString sql = u"SELECT rowid, " + ReportSql::column(Field::ExamDate) + u" FROM A WHERE " + condition.sql +
                  u" ORDER BY " + order;
    if (limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(limit);
    const QString date = fieldColumn(Field::ExamDate);
    std::vector<ReportKey> keys;
    const Status read = eachRow(m_db, extended(condition, sql), [&](const ResultSet& row) -> Status {
        const Result<Value> rowid = row.field(QStringLiteral("rowid"));
        const Result<Value> examined = row.field(date);
        if (!rowid || !examined)
            return rowid ? examined.failure() : rowid.failure();
        if (keys.empty())
            keys.reserve(std::size_t(row.recordCount()));
        keys.push_back({*examined, integer(*rowid)});
        return {};
    });
    if (!read)
        return read.failure();
    return keys;
}

Result<std::optional<ReportRecord>> ReportStore::report(std::int64_t rowid, const Statement& condition)
{
    const QString at = QStringLiteral("?%1").arg(condition.args.size() + 1);
    const Statement query = extended(
        condition, u"SELECT rowid, " + ReportSql::columns() + u" FROM A WHERE rowid = " + at + u" AND " + condition.sql,
        {rowid});
    std::optional<ReportRecord> found;
    const Status read = eachRow(m_db, query, [&](const ResultSet& row) -> Status {
        Result<ReportRecord> record = recordFromRow(row);
        if (!record)
            return record.failure();
        found = std::move(*record);
        return {};
    });
    if (!read)
        return read.failure();
    return found;
}

void showSaveFailure(Prompts& prompts, const Failure& failure)
{
    logFailure(lcStore(), QStringLiteral("save failed"), failure);
    prompts.message(failure.description + u" 请查看项目录入是否正确！如有其它问题请与开发者联系！", PromptIcon::None,
                    u"数据保存/替换错误:" + QString::number(failure.code));
}

void showDeleteFailure(Prompts& prompts, const Failure& failure)
{
    logFailure(lcStore(), QStringLiteral("delete failed"), failure);
    prompts.message(failure.description + u"如有问题请与开发者联系!", PromptIcon::None,
                    u"数据删除错误:" + QString::number(failure.code));
}

} // namespace korvela
