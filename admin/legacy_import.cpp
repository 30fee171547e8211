#include "admin/legacy_import.h"

#include "admin/row_checksum.h"
#include "admin/server_session.h"
#include "core/failure_codes.h"
#include "legacy/legacy_process.h"
#include "records/report_fields.h"
#include "records/report_record.h"
#include "store/postgres_database.h"
#include "store/sqlite_database.h"
#include "store/store_choice.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <array>
#include <charconv>
#include <cstring>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <string>
#include <unordered_map>

namespace korvela::admin {

namespace {

constexpr int kPage = 5000;           // stored reports read at a time
constexpr std::int64_t kProgressStep = 256;

// A report's 27 values as one text, in CanonicalRow's form (row_checksum.h): "n" for null, else
// "v<bytes>:<UTF-8>", a date as YYYY-MM-DD, an option as 0 or 1. Two reports are the same report
// exactly when these texts are equal. Within one import two independent 64-bit hashes of the text
// stand for it (128 bits: no two different reports of any department share them); the server's
// checksum adds up the first 64 bits of its MD5 instead, as CanonicalRow does.
class Canonical
{
public:
    struct Key
    {
        std::uint64_t first = 0;
        std::uint64_t second = 0;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash
    {
        std::size_t operator()(const Key& k) const { return std::size_t(k.first); }
    };

    void clear() { m_text.clear(); }
    void addNull() { m_text += 'n'; }
    void addUtf8(const char* data, std::size_t size)
    {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, size).ptr;
        m_text += 'v';
        m_text.append(digits, end);
        m_text += ':';
        m_text.append(data, size);
    }
    void addText(const QString& text)
    {
        const QByteArray utf8 = text.toUtf8();
        addUtf8(utf8.constData(), std::size_t(utf8.size()));
    }
    void addInteger(std::int64_t value)
    {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        addUtf8(digits, std::size_t(end - digits));
    }

    Key key() const
    {
        const QByteArrayView text(m_text.data(), qsizetype(m_text.size()));
        return {std::uint64_t(qHash(text, 0x6b6f7276656c6131u)), std::uint64_t(qHash(text, 0x9e3779b97f4a7c15u))};
    }
    std::uint64_t md5Term()
    {
        m_md5.reset();
        m_md5.addData(QByteArrayView(m_text.data(), qsizetype(m_text.size())));
        const QByteArrayView digest = m_md5.resultView();
        std::uint64_t h = 0;
        for (int i = 0; i < 8; ++i)
            h = (h << 8) | std::uint8_t(digest[i]);
        return h;
    }

private:
    std::string m_text;
    QCryptographicHash m_md5{QCryptographicHash::Md5};
};

// A value as the program shows it, in the form the import stores: texts as they are, the date as
// its day, an option as 1 or 0.
void addShown(Canonical& canonical, FieldKind kind, const Value& value)
{
    switch (kind) {
    case FieldKind::Text:
    case FieldKind::List:
        if (isNull(value))
            canonical.addNull();
        else
            canonical.addText(valueToText(value));
        return;
    case FieldKind::Date:
        if (isNull(value))
            canonical.addNull();
        else if (const std::optional<QDate> day = dateFromValue(value))
            canonical.addText(day->toString(u"yyyy-MM-dd"));
        else
            canonical.addText(u"?" + valueToText(value)); // no day the import ever stores
        return;
    case FieldKind::Option:
        canonical.addInteger(isChecked(value) ? 1 : 0);
        return;
    }
}

QString columnList()
{
    QStringList columns;
    for (const FieldInfo& field : reportFields())
        columns << QString::fromLatin1(field.column);
    return columns.join(u", ");
}

Result<std::int64_t> lastRowid(ReportDatabase& db)
{
    std::unique_ptr<ResultSet> rows = db.createResultSet();
    if (Status s = rows->open({QStringLiteral("SELECT coalesce(max(rowid), 0) AS last FROM A"), {}}); !s)
        return s.failure();
    Result<Value> last = rows->field(QStringLiteral("last"));
    if (!last)
        return last.failure();
    const auto* i = std::get_if<std::int64_t>(&*last);
    return i ? *i : std::int64_t(0);
}

// Calls `each` with every stored report after `afterRowid`, in rowid order, a page at a time (a
// store of any size is read in little memory).
template <typename Each>
Status eachStored(ReportDatabase& db, std::int64_t afterRowid, Each each)
{
    std::unique_ptr<ResultSet> rows = db.createResultSet();
    const QString sql =
        QStringLiteral("SELECT rowid, %1 FROM A WHERE rowid > ?1 ORDER BY rowid LIMIT %2").arg(columnList()).arg(kPage);
    std::vector<QString> names;
    for (const FieldInfo& field : reportFields())
        names.push_back(fieldColumn(field.id));
    std::array<Value, kFieldCount> values;
    for (std::int64_t after = afterRowid;;) {
        if (Status s = rows->open({sql, {after}}); !s)
            return s;
        if (rows->recordCount() == 0)
            return {};
        for (; rows->hasCurrentRow(); (void)rows->moveNext()) {
            Result<Value> rowid = rows->field(QStringLiteral("rowid"));
            if (!rowid)
                return rowid.failure();
            after = std::get_if<std::int64_t>(&*rowid) ? std::get<std::int64_t>(*rowid) : after;
            for (std::size_t c = 0; c < kFieldCount; ++c) {
                Result<Value> v = rows->field(names[c]);
                if (!v)
                    return v.failure();
                values[c] = std::move(*v);
            }
            each(values);
        }
        if (rows->recordCount() < kPage)
            return {};
    }
}

struct StatementFinalizer
{
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using SqliteStatement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

Failure sqliteFailure(sqlite3* db)
{
    return {sqlite3_extended_errcode(db), QStringLiteral("数据库错误（%1，SQLite 代码 %2）。")
                                              .arg(QString::fromUtf8(sqlite3_errmsg(db)))
                                              .arg(sqlite3_extended_errcode(db))};
}

// Adds reports to table A. On the embedded store through one statement prepared once, bound
// afresh for each report; on the server through the store's own parameterised statement.
class Inserter
{
public:
    explicit Inserter(ReportDatabase& db)
        : m_db(db)
        , m_sqlite(dynamic_cast<SqliteReportDatabase*>(&db))
    {
        m_insert.sql = QStringLiteral("INSERT INTO A (%1) VALUES (").arg(columnList());
        for (std::size_t c = 1; c <= kFieldCount; ++c)
            m_insert.sql += QStringLiteral("?%1%2").arg(c).arg(c < kFieldCount ? u", " : u")");
    }

    // `utf8`: each text value already as UTF-8.
    Status add(const std::vector<Value>& values, const std::array<QByteArray, kFieldCount>& utf8)
    {
        if (!m_sqlite) {
            m_insert.args.assign(values.begin(), values.end());
            return m_db.execute(m_insert);
        }
        sqlite3* db = m_sqlite->handle();
        if (!m_prepared) {
            const QByteArray sql = m_insert.sql.toUtf8();
            sqlite3_stmt* raw = nullptr;
            if (sqlite3_prepare_v3(db, sql.constData(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &raw, nullptr) !=
                SQLITE_OK)
                return sqliteFailure(db);
            m_prepared.reset(raw);
        }
        sqlite3_stmt* s = m_prepared.get();
        for (std::size_t c = 0; c < values.size(); ++c) {
            const int at = int(c) + 1;
            int rc;
            if (const auto* i = std::get_if<std::int64_t>(&values[c]))
                rc = sqlite3_bind_int64(s, at, *i);
            else if (std::holds_alternative<QString>(values[c]))
                rc = sqlite3_bind_text64(s, at, utf8[c].constData(), sqlite3_uint64(utf8[c].size()), SQLITE_STATIC,
                                         SQLITE_UTF8);
            else
                rc = sqlite3_bind_null(s, at);
            if (rc != SQLITE_OK)
                return sqliteFailure(db);
        }
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        if (rc != SQLITE_DONE)
            return sqliteFailure(db);
        return {};
    }

private:
    ReportDatabase& m_db;
    SqliteReportDatabase* m_sqlite;
    Statement m_insert;
    SqliteStatement m_prepared;
};

// The count and checksum of the reports after `afterRowid`, as the store holds them: on the
// server the checksum of row_checksum.h, computed by the server itself; on the embedded store the
// sum of the first key of each report's canonical text.
Result<Checksum> storedChecksum(ReportDatabase& db, std::int64_t afterRowid)
{
    if (auto* server = dynamic_cast<PostgresReportDatabase*>(&db)) {
        // Computed by the server from its own values.
        Result<ServerResult> r =
            serverQuery(server->handle(), serverChecksumQuery(), {QByteArray::number(qlonglong(afterRowid))});
        if (!r)
            return r.failure();
        Checksum sum;
        sum.count = std::strtoull(PQgetvalue(r->get(), 0, 0), nullptr, 10);
        sum.sum = std::strtoull(PQgetvalue(r->get(), 0, 1), nullptr, 10);
        return sum;
    }
    // Read back as the engine holds them, each value as its text.
    sqlite3* file = dynamic_cast<SqliteReportDatabase&>(db).handle();
    const QByteArray sql = QStringLiteral("SELECT %1 FROM A WHERE rowid > ?1").arg(columnList()).toUtf8();
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(file, sql.constData(), int(sql.size()), &raw, nullptr) != SQLITE_OK)
        return sqliteFailure(file);
    SqliteStatement rows(raw);
    sqlite3_bind_int64(raw, 1, afterRowid);
    Checksum sum;
    Canonical row;
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
        row.clear();
        for (int c = 0; c < int(kFieldCount); ++c) {
            const int type = sqlite3_column_type(raw, c);
            if (type == SQLITE_NULL)
                row.addNull();
            else if (type == SQLITE_INTEGER)
                row.addInteger(sqlite3_column_int64(raw, c));
            else
                row.addUtf8(reinterpret_cast<const char*>(sqlite3_column_text(raw, c)),
                            std::size_t(sqlite3_column_bytes(raw, c)));
        }
        ++sum.count;
        sum.sum += row.key().first;
    }
    if (rc != SQLITE_DONE)
        return sqliteFailure(file);
    return sum;
}

// The program folder's Data/Data.Dat is the old program's Jet file (copied over Korvela's own
// report database by mistake).
bool storeIsJetFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    static constexpr char jet[] = "\x00\x01\x00\x00Standard Jet DB";
    const QByteArray head = file.read(sizeof jet - 1);
    return head == QByteArrayView(jet, sizeof jet - 1);
}

QString shown(const Value& value)
{
    if (isNull(value))
        return QStringLiteral("（无）");
    QString text = valueToText(value);
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QChar(u' ');
    return text.size() > 40 ? text.left(40) + u'…' : text;
}

// Ends the import's transaction unless it was committed.
struct Rollback
{
    ReportDatabase* db = nullptr;
    ~Rollback()
    {
        if (db && db->inTransaction())
            (void)db->rollback();
    }
};

} // namespace

Result<ImportSummary> importLegacy(const ImportOptions& options, const ImportProgress& progress)
{
    QElapsedTimer clock;
    clock.start();
    const QString file = QDir::cleanPath(QFileInfo(options.file).absoluteFilePath());
    ImportSummary summary;

    if (!serverServiceConfigured() && storeIsJetFile(databasePath(options.programFolder)))
        return Failure{
            FailureCode::StoreIsLegacyFile,
            QStringLiteral("程序文件夹中的 %1 是旧程序的数据库，而不是 Korvela 的报告数据库（旧程序的文件也叫 "
                           "Data.Dat）。请把它移到别处（例如 ~/旧程序/Data.Dat），重新运行 Korvela 的安装"
                           "（bash scripts/setup.sh，或 sudo dpkg-reconfigure korvela）建立空的报告数据库，"
                           "再运行 korvela-admin import-legacy ~/旧程序/Data.Dat。")
                .arg(databasePath(options.programFolder))};

    summary.store = reportStoreName(options.programFolder);
    Result<std::unique_ptr<ReportDatabase>> opened = openReportStore(
        options.programFolder, options.lockTimeout, options.check ? StoreAccess::ReadOnly : StoreAccess::ReadWrite);
    if (!opened)
        return Failure{opened.failure().code, QStringLiteral("无法打开 Korvela 的报告数据库 %1：%2")
                                                  .arg(summary.store, opened.failure().description)};
    ReportDatabase& db = **opened;
    if (auto* onServer = dynamic_cast<PostgresReportDatabase*>(&db))
        summary.store = QStringLiteral("服务器 %1").arg(serverName(onServer->handle()));

    // The file is open and its table sound before the store is touched.
    legacy::LegacyProcess reader;
    if (Status s = reader.start(options.reader, file, options.codePage, options.readerTimeout); !s)
        return s.failure();
    summary.jetVersion = reader.jetVersion();
    const std::int64_t total = reader.declaredCount();

    // Other writers wait until the commit, so the reports the store holds are the ones compared
    // and the rows after the last rowid are exactly the ones added.
    Rollback rollback;
    if (!options.check) {
        if (Status s = db.begin(); !s)
            return s.failure();
        rollback.db = &db;
        if (db.dialect() == SqlDialect::Postgres)
            if (Status s = db.execute({QStringLiteral("LOCK TABLE a IN EXCLUSIVE MODE"), {}}); !s)
                return s.failure();
    }
    Result<std::int64_t> last = lastRowid(db);
    if (!last)
        return last.failure();

    // How many times each report is in the store and not yet matched by one of the file.
    std::unordered_map<Canonical::Key, std::int64_t, Canonical::KeyHash> stored;
    Canonical canonical;
    const auto fields = reportFields();
    if (Status s = eachStored(db, 0,
                              [&](const std::array<Value, kFieldCount>& values) {
                                  canonical.clear();
                                  for (std::size_t c = 0; c < kFieldCount; ++c)
                                      addShown(canonical, fields[c].kind, values[c]);
                                  ++stored[canonical.key()];
                              });
        !s)
        return s.failure();

    Inserter insert(db);
    const bool server = db.dialect() == SqlDialect::Postgres;
    std::array<QByteArray, kFieldCount> utf8;
    Checksum added;
    legacy::LegacyReport report;
    for (;;) {
        Result<bool> next = reader.next(report);
        if (!next)
            return next.failure();
        if (!*next)
            break;
        ++summary.read;
        if (report.values.size() != kFieldCount)
            return Failure{FailureCode::LegacyReaderFailed,
                           QStringLiteral("读取旧数据库 %1 的进程给出了 %2 项值而不是 27 项，未导入任何报告。")
                               .arg(file)
                               .arg(report.values.size())};
        if (!report.problem.isEmpty()) {
            summary.refused.push_back({report.ordinal, shown(report.values[index(Field::ScreeningNumber)]),
                                       shown(report.values[index(Field::PatientName)]), report.problem});
        } else {
            // The values are as the program shows them already: their text is the canonical one.
            canonical.clear();
            for (std::size_t c = 0; c < kFieldCount; ++c) {
                const Value& v = report.values[c];
                if (const auto* t = std::get_if<QString>(&v)) {
                    utf8[c] = t->toUtf8();
                    canonical.addUtf8(utf8[c].constData(), std::size_t(utf8[c].size()));
                } else if (const auto* i = std::get_if<std::int64_t>(&v)) {
                    canonical.addInteger(*i);
                } else {
                    canonical.addNull();
                }
            }
            const Canonical::Key key = canonical.key();
            const auto match = stored.find(key);
            if (match != stored.end() && match->second > 0) {
                --match->second;
                ++summary.present;
            } else {
                if (!options.check) {
                    if (Status s = insert.add(report.values, utf8); !s)
                        return Failure{s.failure().code,
                                       QStringLiteral("第 %1 份报告（筛查编号 %2）无法写入，已全部撤销，未导入任何报告：%3")
                                           .arg(QString::number(report.ordinal),
                                                shown(report.values[index(Field::ScreeningNumber)]),
                                                s.failure().description)};
                }
                ++summary.added;
                ++added.count;
                added.sum += server ? canonical.md5Term() : key.first;
            }
        }
        if (progress && summary.read % kProgressStep == 0)
            progress(summary.read, total);
    }
    if (progress)
        progress(summary.read, total);

    if (!options.check) {
        Result<Checksum> inStore = storedChecksum(db, *last);
        if (!inStore)
            return inStore.failure();
        if (!(*inStore == added))
            return Failure{FailureCode::ImportMismatch,
                           QStringLiteral("导入后核对不一致，已全部撤销，报告数据库未作改动。应新增 %1 份报告（校验和 "
                                          "%2），数据库中新增的是 %3 份（校验和 %4）。")
                               .arg(QString::number(added.count), added.text(), QString::number(inStore->count),
                                    inStore->text())};
        if (Status s = db.commit(); !s)
            return s.failure();
        // The planner's figures and the visibility map brought up to date at once rather than at
        // the next autovacuum, as after move-to-server: the program's first search counts through
        // an index then. The reports are in whatever comes of this.
        if (auto* onServer = dynamic_cast<PostgresReportDatabase*>(&db); onServer && summary.added > 0)
            (void)serverQuery(onServer->handle(), QStringLiteral("VACUUM (ANALYZE) a"));
    }
    summary.seconds = double(clock.nsecsElapsed()) / 1e9;
    return summary;
}

} // namespace korvela::admin
