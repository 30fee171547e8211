#include "admin/store_check.h"

#include "admin/history_check.h"
#include "records/report_fields.h"
#include "records/report_sql.h"
#include "store/history_store.h"
#include "store/postgres_database.h"
#include "store/schema_version.h"
#include "store/server_session.h"
#include "store/sqlite_database.h"
#include "store/sqlite_file.h"
#include "store/store_choice.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <optional>

namespace korvela::admin {

namespace {

QString sqliteError(const Failure& engine)
{
    return QStringLiteral("%1，SQLite 代码 %2").arg(engine.description, QString::number(engine.code));
}

// Runs a query and hands each row to `row`; false (with the problem noted) when it fails.
template <typename Row>
bool eachRow(SqliteFile& db, const char* sql, CheckReport& report, const QString& what, Row row)
{
    Result<SqliteRows> rows = db.rows(QString::fromLatin1(sql));
    Result<bool> more = rows ? rows->next() : Result<bool>(rows.failure());
    for (; more && *more; more = rows->next())
        row(*rows);
    if (!more) {
        report.problems << QStringLiteral("%1失败：文件已损坏或不是报告数据库（%2）。")
                               .arg(what, sqliteError(more.failure()));
        return false;
    }
    return true;
}

QString columnText(const SqliteRows& s, int column)
{
    const std::string_view text = s.bytes(column);
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// An index of table a as data/schema-postgresql.sql makes it, with a condition on its leading
// expression that only it answers, and which together select every row.
struct ExpectedIndex
{
    const char* name;
    const char16_t* purpose;
    const char* conditions[2];
    // The rows a partial index holds, written so that no index answers it (the table itself is
    // read); every row when null.
    const char* rows = nullptr;
    // An order only this index gives, for an index that a smaller one could stand in for when
    // rows are only counted; none when the conditions alone decide.
    const char* order = nullptr;
};

constexpr ExpectedIndex kIndexes[] = {
    {"a_pkey", u"按录入顺序浏览", {"rowid >= '-9223372036854775808'::bigint", nullptr}},
    {"a_a3",
     u"筛查编号查询",
     {"lower(left(a3, 200) COLLATE \"C\") IS NOT NULL", "lower(left(a3, 200) COLLATE \"C\") IS NULL"}},
    {"a_a1",
     u"姓名查询",
     {"lower(left(a1, 200) COLLATE \"C\") IS NOT NULL", "lower(left(a1, 200) COLLATE \"C\") IS NULL"}},
    {"a_a14",
     u"主检医师查询",
     {"lower(left(a14, 200) COLLATE \"C\") IS NOT NULL", "lower(left(a14, 200) COLLATE \"C\") IS NULL"}},
    {"a_a13", u"检查日期查询与排序", {"a13 IS NOT NULL AND a3 <> ''", "a13 IS NULL AND a3 <> ''"}, "a3 || '' <> ''",
     "a13 DESC NULLS LAST, rowid DESC"},
    // Its conditions are the save's own key expression (ReportSql::key): see conditionsOf().
    {"a_key", u"保存与删除", {}},
};

// An index's conditions; the key index's compare the key expression the save compares.
QStringList conditionsOf(const ExpectedIndex& index)
{
    if (!index.conditions[0]) {
        const QString key = ReportSql(SqlDialect::Postgres).key();
        return {key + u" IS NOT NULL", key + u" IS NULL"};
    }
    QStringList conditions;
    for (const char* condition : index.conditions)
        if (condition)
            conditions << QString::fromLatin1(condition);
    return conditions;
}

QString expectedType(int column)
{
    if (column == 0)
        return QStringLiteral("bigint");
    if (column == 13)
        return QStringLiteral("date");
    return column >= 15 ? QStringLiteral("integer") : QStringLiteral("text");
}

QString serverColumn(int column)
{
    return column == 0 ? QStringLiteral("rowid") : QStringLiteral("a%1").arg(column);
}

// The rows of table a one index gives, read through that index alone; a problem when the server
// will not read it.
std::optional<std::int64_t> countThroughIndex(ServerSession& session, const ExpectedIndex& index,
                                              CheckReport& report)
{
    const QString name = QString::fromLatin1(index.name);
    std::int64_t rows = 0;
    for (const QString& condition : conditionsOf(index)) {
        const QString query =
            index.order ? QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM a WHERE %1 ORDER BY %2) AS found")
                              .arg(condition, QString::fromLatin1(index.order))
                        : QStringLiteral("SELECT count(*) FROM a WHERE %1").arg(condition);
        Result<ServerRows> plan = session.query(u"EXPLAIN " + query);
        if (!plan) {
            report.problems << QStringLiteral("无法核对索引 %1：%2").arg(name, plan.failure().description);
            return std::nullopt;
        }
        QString text;
        for (int r = 0; r < plan->count(); ++r)
            text += QString::fromUtf8(plan->value(r, 0)) + u'\n';
        if (!text.contains(QStringLiteral("using %1 on a").arg(name)) || text.contains(u"Seq Scan")) {
            report.problems
                << QStringLiteral(
                       "索引 %1 无法使用（服务器不按它读取，%2将变慢）。请在服务器上运行 REINDEX INDEX %1;")
                       .arg(name, QString::fromUtf16(index.purpose));
            return std::nullopt;
        }
        Result<QByteArray> count = session.scalar(query);
        if (!count) {
            report.problems << QStringLiteral("读取索引 %1 失败：%2").arg(name, count.failure().description);
            return std::nullopt;
        }
        rows += count->toLongLong();
    }
    return rows;
}

void checkServerTable(ServerSession& session, CheckReport& report)
{
    // The columns the program reads, of the types it reads them as.
    Result<ServerRows> columns =
        session.query(QStringLiteral("SELECT attname, format_type(atttypid, atttypmod) FROM pg_attribute "
                                     "WHERE attrelid = 'a'::regclass AND attnum > 0 AND NOT attisdropped"));
    if (!columns) {
        report.problems << columns.failure().description;
        return;
    }
    QHash<QString, QString> types;
    for (int r = 0; r < columns->count(); ++r)
        types.insert(QString::fromUtf8(columns->value(r, 0)), QString::fromUtf8(columns->value(r, 1)));
    bool columnsSound = true;
    for (int c = 0; c <= 27; ++c) {
        const QString name = serverColumn(c);
        if (!types.contains(name)) {
            report.problems << QStringLiteral("报告数据表 a 缺少栏目 %1。").arg(name);
            columnsSound = false;
        } else if (types.value(name) != expectedType(c)) {
            report.problems << QStringLiteral("报告数据表 a 的栏目 %1 类型为 %2，应为 %3。")
                                   .arg(name, types.value(name), expectedType(c));
            columnsSound = false;
        }
    }

    Result<QByteArray> table = session.scalar(QStringLiteral("SELECT count(*) FROM a"));
    if (!table) {
        report.problems << QStringLiteral("无法读取报告数据表 a：%1").arg(table.failure().description);
        return;
    }
    report.reports = table->toLongLong();
    if (!columnsSound)
        return;

    Result<ServerRows> indexes = session.query(
        QStringLiteral("SELECT c.relname, i.indisvalid AND i.indisready AND i.indislive FROM pg_index i "
                       "JOIN pg_class c ON c.oid = i.indexrelid WHERE i.indrelid = 'a'::regclass"));
    if (!indexes) {
        report.problems << indexes.failure().description;
        return;
    }
    QHash<QString, bool> valid;
    for (int r = 0; r < indexes->count(); ++r)
        valid.insert(QString::fromUtf8(indexes->value(r, 0)), indexes->value(r, 1) == "t");

    // Only the index under test may answer; no table scan stands in for it.
    if (Status s = session.execute(QStringLiteral("SET LOCAL enable_seqscan = off; "
                                                  "SET LOCAL enable_bitmapscan = off; "
                                                  "SET LOCAL enable_sort = off"));
        !s) {
        report.problems << s.failure().description;
        return;
    }
    for (const ExpectedIndex& index : kIndexes) {
        const QString name = QString::fromLatin1(index.name);
        if (!valid.contains(name)) {
            report.problems
                << QStringLiteral(
                       "缺少索引 %1（%2将变慢）。建立它的语句见 /usr/share/korvela/schema-postgresql.sql。")
                       .arg(name, QString::fromUtf16(index.purpose));
            continue;
        }
        if (!valid.value(name)) {
            report.problems << QStringLiteral(
                                   "索引 %1 无效（可能是一次中断的建立）。请在服务器上运行 REINDEX INDEX %1;")
                                   .arg(name);
            continue;
        }
        const std::optional<std::int64_t> rows = countThroughIndex(session, index, report);
        std::int64_t expected = report.reports;
        if (index.rows) {
            Result<QByteArray> held = session.scalar(
                QStringLiteral("SELECT count(*) FROM a WHERE %1").arg(QString::fromLatin1(index.rows)));
            if (!held) {
                report.problems << QStringLiteral("无法读取报告数据表 a：%1").arg(held.failure().description);
                continue;
            }
            expected = held->toLongLong();
        }
        if (rows && *rows != expected)
            report.problems << QStringLiteral(
                                   "索引 %1 与报告数据表不一致：经索引读到 %2 份报告，表中有 %3 份。"
                                   "请在服务器上运行 REINDEX INDEX %1;")
                                   .arg(name, QString::number(*rows), QString::number(expected));
    }

    // A rowid given by hand past the sequence makes a later save collide with it.
    Result<ServerRows> sequence = session.query(
        QStringLiteral("SELECT coalesce(max(rowid), 0), "
                       "coalesce(pg_sequence_last_value(pg_get_serial_sequence('a', 'rowid')), 0) FROM a"));
    if (!sequence) {
        report.problems << QStringLiteral("无法读取行号序列：%1").arg(sequence.failure().description);
        return;
    }
    const qint64 maxRowid = sequence->value(0, 0).toLongLong();
    const qint64 last = sequence->value(0, 1).toLongLong();
    if (maxRowid > last)
        report.problems
            << QStringLiteral(
                   "行号序列（%1）落后于表中最大的行号（%2），之后的保存会失败。请在服务器上运行 "
                   "SELECT setval(pg_get_serial_sequence('a', 'rowid'), (SELECT max(rowid) FROM a));")
                   .arg(QString::number(last), QString::number(maxRowid));
}

// The findings of the history, read through `store` (or why it could not be read), added, when
// `db` (the same store) is at the program's version.
void addHistory(CheckReport& report, ReportDatabase& db, Result<std::unique_ptr<StoreReader>> store)
{
    if (Status s = requireCurrentSchema(db); !s) {
        report.problems << s.failure().description;
        return;
    }
    if (!store) {
        report.problems << QStringLiteral("无法读取修改记录：%1").arg(store.failure().description);
        return;
    }
    const HistoryFindings found = checkHistory(**store);
    report.historyRows = found.historyRows;
    report.accessRows = found.accessRows;
    report.problems << found.problems;
    report.warnings << found.warnings;
}

} // namespace

CheckReport checkSqliteStore(const QString& file)
{
    CheckReport report;
    report.store = file;
    if (!QFileInfo(file).isFile()) {
        report.problems << QStringLiteral("找不到报告数据库文件 %1。").arg(file);
        return report;
    }
    if (const std::optional<QString> network = networkFileSystem(file))
        report.problems
            << QStringLiteral("文件位于网络文件系统（%1）上，多台计算机共用会损坏报告，Korvela 会拒绝打开它。"
                              "多个工作站请使用数据库服务器。")
                   .arg(*network);
    Result<SqliteFile> db = SqliteFile::open(file, SqliteFile::Access::ReadOnly, std::chrono::seconds(10));
    if (!db) {
        report.problems << QStringLiteral("无法打开报告数据库文件（%1）。").arg(sqliteError(db.failure()));
        return report;
    }
    // One read transaction: the check and the count see the same moment.
    if (Status s = db->execute("BEGIN"); !s) {
        report.problems << QStringLiteral("无法读取报告数据库文件（%1）。").arg(sqliteError(s.failure()));
        return report;
    }
    QStringList damage;
    if (!eachRow(*db, "PRAGMA integrity_check(20)", report, QStringLiteral("完整性检查"),
                 [&](const SqliteRows& s) { damage << columnText(s, 0); }))
        return report;
    if (damage != QStringList{QStringLiteral("ok")})
        report.problems
            << QStringLiteral(
                   "文件已损坏（SQLite 完整性检查：%1）。请用备份恢复，或用 sqlite3 的 .recover 抢救。")
                   .arg(damage.join(QStringLiteral("；")));

    QSet<QString> columns;
    if (!eachRow(*db, "PRAGMA table_info(A)", report, QStringLiteral("读取报告数据表"),
                 [&](const SqliteRows& s) { columns.insert(columnText(s, 1).toUpper()); }))
        return report;
    if (columns.isEmpty()) {
        report.problems << QStringLiteral("文件中没有报告数据表 A。");
        return report;
    }
    QStringList missing;
    for (const FieldInfo& field : reportFields())
        if (!columns.contains(QString::fromLatin1(field.column)))
            missing << QString::fromLatin1(field.column);
    if (!missing.isEmpty()) {
        report.problems << QStringLiteral("报告数据表 A 缺少栏目 %1。").arg(missing.join(u", "));
        return report;
    }
    if (!eachRow(*db, "SELECT count(*) FROM A", report, QStringLiteral("清点报告"),
                 [&](const SqliteRows& s) { report.reports = s.integer(0); }))
        return report;
    SqliteReportDatabase reports;
    if (Status s = reports.open(file, std::chrono::seconds(10), StoreAccess::ReadOnly); !s) {
        report.problems << QStringLiteral("无法打开报告数据库文件（%1）。").arg(sqliteError(s.failure()));
        return report;
    }
    addHistory(report, reports, readFile(file));
    return report;
}

CheckReport checkServerStore(const QString& connection)
{
    CheckReport report;
    report.store = QStringLiteral("服务器（连接服务 %1）").arg(QString::fromLatin1(kServiceName));
    // Open as the program opens it, then checked through a session of the administrator's own.
    PostgresReportDatabase reports;
    if (Status s = reports.open(connection, std::chrono::seconds(10)); !s) {
        report.problems << s.failure().description;
        return report;
    }
    Result<ServerSession> session = ServerSession::open(connection, std::chrono::seconds(10));
    if (!session) {
        report.problems << session.failure().description;
        return report;
    }
    report.store = QStringLiteral("服务器 %1").arg(session->name());
    // One snapshot for every count, changing nothing.
    if (Status s = session->execute(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")); !s) {
        report.problems << s.failure().description;
        return report;
    }
    checkServerTable(*session, report);
    (void)session->execute(QStringLiteral("ROLLBACK"));
    if (report.reports >= 0)
        addHistory(report, reports, readServer(connection));
    return report;
}

CheckReport checkConfiguredStore(const QString& programFolder)
{
    const Result<StoreChoice> choice = chooseStore(programFolder);
    if (!choice) {
        CheckReport refused;
        refused.store = QStringLiteral("报告数据库");
        refused.problems << choice.failure().description;
        return refused;
    }
    CheckReport report = choice->kind == StoreChoice::Kind::Server ? checkServerStore(serviceConnection())
                                                                   : checkSqliteStore(choice->file);
    report.store = choice->description();
    return report;
}

} // namespace korvela::admin
