#include "admin/move_to_server.h"

#include "core/failure_codes.h"
#include "admin/server_session.h"
#include "records/report_fields.h"

#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <charconv>
#include <libpq-fe.h>
#include <limits>
#include <memory>
#include <optional>
#include <sqlite3.h>
#include <string>
#include <string_view>

namespace korvela::admin {

namespace {

constexpr int kColumns = 27;
constexpr int kKeyColumn = 2;    // A3, the screening number
constexpr int kDateColumn = 12;  // A13
constexpr int kFirstOption = 14; // A15 .. A27
constexpr std::int64_t kProgressStep = 1000;
constexpr std::size_t kCopyChunk = 1 << 20;

enum class Kind { Text, Date, Option };

constexpr Kind kindOf(int column)
{
    return column == kDateColumn ? Kind::Date : column >= kFirstOption ? Kind::Option : Kind::Text;
}

struct DatabaseCloser
{
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer
{
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using SqliteStatement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

std::string_view columnBytes(sqlite3_stmt* s, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    return {text ? text : "", std::size_t(sqlite3_column_bytes(s, column))};
}

// Well-formed UTF-8 as the server accepts it: no overlong forms, no surrogates, nothing above
// U+10FFFF.
bool isUtf8(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int length;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF)
            length = 2;
        else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0;
            else if (c == 0xED)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F;
        } else
            return false;
        if (end - p < length || p[1] < low || p[1] > high)
            return false;
        for (int i = 2; i < length; ++i)
            if (p[i] < 0x80 || p[i] > 0xBF)
                return false;
        p += length;
    }
    return true;
}

// Exactly YYYY-MM-DD, a day of the calendar: what the server's date column holds and gives back
// unchanged.
bool isIsoDate(std::string_view text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return false;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < '0' || text[i] > '9')
            return false;
    const auto number = [&](std::size_t from, std::size_t count) {
        int n = 0;
        std::from_chars(text.data() + from, text.data() + from + count, n);
        return n;
    };
    const int year = number(0, 4);
    return year >= 1 && QDate(year, number(5, 2), number(8, 2)).isValid();
}

// A value as a message shows it: control characters made visible, long texts cut.
QString shown(std::string_view bytes)
{
    QString text = QString::fromUtf8(bytes.data(), qsizetype(std::min<std::size_t>(bytes.size(), 240)));
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QChar(u'\uFFFD');
    if (text.size() > 60 || bytes.size() > 240)
        text = text.left(60) + u'…';
    return text;
}

QString columnLabel(int column)
{
    const FieldInfo& field = reportFields()[std::size_t(column)];
    return QStringLiteral("“%1”（%2）")
        .arg(QString::fromUtf16(field.label), QString::fromLatin1(field.column));
}

// The report table of a Data.Dat, opened for reading only, all of it read in one read transaction
// so the copy is of one moment even while a running Korvela saves.
class Source
{
public:
    Status open(const QString& path)
    {
        m_path = path;
        if (!QFileInfo(path).isFile())
            return Failure{FailureCode::SourceNotReadable,
                           QStringLiteral("找不到报告数据库文件 %1。").arg(path)};
        sqlite3* db = nullptr;
        const int rc =
            sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
        m_db.reset(db);
        if (rc != SQLITE_OK)
            return failure(QStringLiteral("无法打开"));
        sqlite3_busy_timeout(db, 10000);
        if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
            return failure(QStringLiteral("无法读取"));
        Result<std::int64_t> tables =
            scalar("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'A' COLLATE NOCASE");
        if (!tables)
            return tables.failure();
        if (*tables == 0)
            return Failure{FailureCode::SourceNotReadable,
                           QStringLiteral("文件 %1 中没有报告数据表 A。").arg(path)};
        Result<std::int64_t> count = scalar("SELECT count(*) FROM A");
        if (!count)
            return count.failure();
        m_count = *count;
        QStringList columns;
        for (const FieldInfo& field : reportFields())
            columns << QString::fromLatin1(field.column);
        const QByteArray sql =
            QStringLiteral("SELECT %1, rowid FROM A ORDER BY rowid").arg(columns.join(u", ")).toUtf8();
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &s, nullptr) != SQLITE_OK)
            return failure(QStringLiteral("无法读取"));
        m_rows.reset(s);
        return {};
    }

    std::int64_t count() const { return m_count; }
    sqlite3_stmt* rows() const { return m_rows.get(); }

    // Back to the first report, for the second pass (the same read transaction, the same rows).
    void rewind() { sqlite3_reset(m_rows.get()); }
    // SQLITE_ROW with a report, SQLITE_DONE after the last, else a failure of the file.
    int step() { return sqlite3_step(m_rows.get()); }

    Failure failure(const QString& what) const
    {
        const int code = m_db ? sqlite3_extended_errcode(m_db.get()) : SQLITE_CANTOPEN;
        const QString detail =
            QStringLiteral("%1，SQLite 代码 %2")
                .arg(QString::fromUtf8(m_db ? sqlite3_errmsg(m_db.get()) : "?"), QString::number(code));
        if ((code & 0xff) == SQLITE_NOTADB || (code & 0xff) == SQLITE_CORRUPT)
            return {FailureCode::SourceNotReadable,
                    QStringLiteral("文件 %1 不是数据库或已损坏（%2），未复制任何报告。").arg(m_path, detail)};
        return {FailureCode::SourceNotReadable,
                QStringLiteral("%1报告数据库文件 %2（%3）。").arg(what, m_path, detail)};
    }

private:
    Result<std::int64_t> scalar(const char* sql)
    {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(m_db.get(), sql, -1, &raw, nullptr) != SQLITE_OK)
            return failure(QStringLiteral("无法读取"));
        SqliteStatement s(raw);
        if (sqlite3_step(raw) != SQLITE_ROW)
            return failure(QStringLiteral("无法读取"));
        return std::int64_t(sqlite3_column_int64(raw, 0));
    }

    QString m_path;
    std::unique_ptr<sqlite3, DatabaseCloser> m_db;
    SqliteStatement m_rows;
    std::int64_t m_count = 0;
};

// The refusal of a report whose value cannot go to the server as it is.
Failure notMovable(sqlite3_stmt* s, std::int64_t ordinal, const QString& problem)
{
    const QString key = sqlite3_column_type(s, kKeyColumn) == SQLITE_NULL
                            ? QStringLiteral("（无）")
                            : u"“" + shown(columnBytes(s, kKeyColumn)) + u"”";
    return {
        FailureCode::ValueNotMovable,
        QStringLiteral("第 %1 份报告（筛查编号 %2，行号 %3）的%4，未复制任何报告。"
                       "请在 Korvela 中改正这份报告（或用 sqlite3 修改该行）后再试。")
            .arg(QString::number(ordinal), key, QString::number(sqlite3_column_int64(s, kColumns)), problem)};
}

// Checks every value of the current report and adds its canonical text to the checksum.
std::optional<Failure> checkReport(sqlite3_stmt* s, std::int64_t ordinal, CanonicalRow& row)
{
    row.clear();
    for (int c = 0; c < kColumns; ++c) {
        const int type = sqlite3_column_type(s, c);
        if (type == SQLITE_NULL) {
            row.addNull();
            continue;
        }
        switch (kindOf(c)) {
        case Kind::Text: {
            if (type == SQLITE_BLOB)
                return notMovable(s, ordinal, columnLabel(c) + QStringLiteral("不是文字而是二进制数据"));
            const std::string_view text = columnBytes(s, c);
            if (text.find('\0') != std::string_view::npos)
                return notMovable(s, ordinal,
                                  columnLabel(c) + QStringLiteral("中含有服务器无法保存的控制字符 U+0000"));
            if (!isUtf8(text))
                return notMovable(s, ordinal, columnLabel(c) + QStringLiteral("不是有效的 UTF-8 文字"));
            row.addText(text);
            break;
        }
        case Kind::Date: {
            const std::string_view text = columnBytes(s, c);
            if (type != SQLITE_TEXT || !isIsoDate(text))
                return notMovable(
                    s, ordinal,
                    QStringLiteral("检查日期“%1”不是有效日期（应为 YYYY-MM-DD，或为空）").arg(shown(text)));
            row.addText(text);
            break;
        }
        case Kind::Option: {
            const sqlite3_int64 value = sqlite3_column_int64(s, c);
            if (type != SQLITE_INTEGER || value < std::numeric_limits<std::int32_t>::min() ||
                value > std::numeric_limits<std::int32_t>::max())
                return notMovable(
                    s, ordinal,
                    columnLabel(c) +
                        QStringLiteral("“%1”不是整数（应为 1 或 0）").arg(shown(columnBytes(s, c))));
            row.addInteger(value);
            break;
        }
        }
    }
    return std::nullopt;
}

// COPY's text form: a tab between values, \N for null, and backslash, tab, line feed and
// carriage return written with a backslash; everything else as it is.
void appendCopyText(std::string& out, std::string_view text)
{
    std::size_t from = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        char escaped;
        switch (c) {
        case '\\':
            escaped = '\\';
            break;
        case '\t':
            escaped = 't';
            break;
        case '\n':
            escaped = 'n';
            break;
        case '\r':
            escaped = 'r';
            break;
        default:
            continue;
        }
        out.append(text.data() + from, i - from);
        out += '\\';
        out += escaped;
        from = i + 1;
    }
    out.append(text.data() + from, text.size() - from);
}

void appendCopyRow(std::string& out, sqlite3_stmt* s)
{
    for (int c = 0; c < kColumns; ++c) {
        if (c)
            out += '\t';
        if (sqlite3_column_type(s, c) == SQLITE_NULL) {
            out += "\\N";
            continue;
        }
        if (kindOf(c) == Kind::Option) {
            char digits[24];
            const auto end = std::to_chars(digits, digits + sizeof digits, sqlite3_column_int64(s, c)).ptr;
            out.append(digits, end);
        } else
            appendCopyText(out, columnBytes(s, c));
    }
    out += '\n';
}

class ServerTransaction
{
public:
    explicit ServerTransaction(pg_conn* conn)
        : m_conn(conn)
    {
    }
    ~ServerTransaction()
    {
        if (m_open)
            PQclear(PQexec(m_conn, "ROLLBACK"));
    }
    Status begin(const QString& sql)
    {
        Result<ServerResult> r = serverQuery(m_conn, QStringLiteral("BEGIN; ") + sql);
        m_open = PQtransactionStatus(m_conn) != PQTRANS_IDLE;
        return r.status();
    }
    Status commit()
    {
        m_open = false;
        return serverQuery(m_conn, QStringLiteral("COMMIT")).status();
    }

private:
    pg_conn* m_conn;
    bool m_open = false;
};

// Ends a COPY that is under way without storing anything.
void abandonCopy(pg_conn* conn)
{
    PQputCopyEnd(conn, "korvela-admin: copy abandoned");
    while (PGresult* r = PQgetResult(conn))
        PQclear(r);
}

Status sendChunk(pg_conn* conn, std::string& buffer)
{
    // In pieces libpq's int length can carry: one report's texts may run to a gigabyte.
    for (std::size_t from = 0; from < buffer.size(); from += kCopyChunk) {
        const std::size_t size = std::min(kCopyChunk, buffer.size() - from);
        if (PQputCopyData(conn, buffer.data() + from, int(size)) != 1)
            return serverRefusal(conn, nullptr);
    }
    buffer.clear();
    return {};
}

Result<Checksum> serverChecksum(pg_conn* conn, std::int64_t afterRowid)
{
    Result<ServerResult> r =
        serverQuery(conn, serverChecksumQuery(), {QByteArray::number(qlonglong(afterRowid))});
    if (!r)
        return r.failure();
    Checksum sum;
    sum.count = std::strtoull(PQgetvalue(r->get(), 0, 0), nullptr, 10);
    sum.sum = std::strtoull(PQgetvalue(r->get(), 0, 1), nullptr, 10);
    return sum;
}

} // namespace

Result<MoveSummary> moveToServer(const MoveOptions& options, const MoveProgress& progress)
{
    QElapsedTimer clock;
    clock.start();
    const auto report = [&](MovePhase phase, std::int64_t done, std::int64_t total) {
        if (progress)
            progress(phase, done, total);
    };

    Result<ServerConnection> connected = connectToServer(options.connection, options.lockTimeout);
    if (!connected)
        return connected.failure();
    pg_conn* conn = connected->get();
    MoveSummary summary;
    summary.server = serverName(conn);
    Result<bool> table = reportTableExists(conn);
    if (!table)
        return table.failure();
    if (!*table)
        return Failure{FailureCode::NoServerSchema,
                       QStringLiteral("服务器 %1 上还没有报告数据表，请先运行 korvela-admin server-init。")
                           .arg(summary.server)};
    const auto refuseHeld = [&](const QByteArray& held) {
        return Failure{
            FailureCode::ServerHoldsReports,
            QStringLiteral(
                "服务器 %1 上已有 %2 份报告，未复制任何报告。若要把 %3 中的报告追加到这些报告之后，"
                "请加上选项 --add 再运行（同一份报告会因此存有两份）。")
                .arg(summary.server, QString::fromLatin1(held), options.sourceFile)};
    };
    if (!options.add) {
        Result<QByteArray> held = serverScalar(conn, QStringLiteral("SELECT count(*) FROM a"));
        if (!held)
            return held.failure();
        if (*held != "0")
            return refuseHeld(*held);
    }

    Source source;
    if (Status s = source.open(options.sourceFile); !s)
        return s.failure();
    const std::int64_t total = source.count();

    // First pass: every value checked, the file's checksum.
    CanonicalRow row;
    Checksum fileSum;
    int rc;
    for (std::int64_t n = 1; (rc = source.step()) == SQLITE_ROW; ++n) {
        if (std::optional<Failure> f = checkReport(source.rows(), n, row))
            return *f;
        row.addTo(fileSum);
        if (n % kProgressStep == 0)
            report(MovePhase::Checking, n, total);
    }
    if (rc != SQLITE_DONE)
        return source.failure(QStringLiteral("读取中断："));
    report(MovePhase::Checking, std::int64_t(fileSum.count), total);

    // The table is kept from other writers until the commit, so the rows after the last rowid
    // seen are exactly the ones copied.
    ServerTransaction transaction(conn);
    if (Status s = transaction.begin(QStringLiteral("LOCK TABLE a IN EXCLUSIVE MODE")); !s)
        return s.failure();
    Result<ServerResult> before =
        serverQuery(conn, QStringLiteral("SELECT count(*), coalesce(max(rowid), 0) FROM a"));
    if (!before)
        return before.failure();
    summary.serverReportsBefore = std::strtoll(PQgetvalue(before->get(), 0, 0), nullptr, 10);
    const std::int64_t lastRowid = std::strtoll(PQgetvalue(before->get(), 0, 1), nullptr, 10);
    if (summary.serverReportsBefore > 0 && !options.add)
        return refuseHeld(QByteArray::number(qlonglong(summary.serverReportsBefore)));

    // Second pass: the same rows in the same order, streamed.
    QStringList columns;
    for (const FieldInfo& field : reportFields())
        columns << QString::fromLatin1(field.column).toLower();
    {
        ServerResult copy(PQexec(
            conn, QStringLiteral("COPY a (%1) FROM STDIN").arg(columns.join(u", ")).toUtf8().constData()));
        if (PQresultStatus(copy.get()) != PGRES_COPY_IN)
            return serverRefusal(conn, copy.get());
    }
    source.rewind();
    std::string buffer;
    buffer.reserve(kCopyChunk * 2);
    std::int64_t sent = 0;
    while ((rc = source.step()) == SQLITE_ROW) {
        appendCopyRow(buffer, source.rows());
        ++sent;
        if (buffer.size() >= kCopyChunk)
            if (Status s = sendChunk(conn, buffer); !s) {
                abandonCopy(conn);
                return s.failure();
            }
        if (sent % kProgressStep == 0)
            report(MovePhase::Copying, sent, total);
    }
    if (rc != SQLITE_DONE) {
        abandonCopy(conn);
        return source.failure(QStringLiteral("读取中断："));
    }
    if (Status s = sendChunk(conn, buffer); !s) {
        abandonCopy(conn);
        return s.failure();
    }
    if (PQputCopyEnd(conn, nullptr) != 1) {
        abandonCopy(conn);
        return serverRefusal(conn, nullptr);
    }
    std::optional<Failure> copyFailure;
    while (PGresult* r = PQgetResult(conn)) {
        if (PQresultStatus(r) != PGRES_COMMAND_OK && !copyFailure)
            copyFailure = serverRefusal(conn, r);
        PQclear(r);
    }
    if (copyFailure)
        return *copyFailure;
    report(MovePhase::Copying, sent, total);

    // The server's own count and checksum of what it now holds after the last rowid seen.
    report(MovePhase::Verifying, 0, 1);
    Result<Checksum> serverSum = serverChecksum(conn, lastRowid);
    if (!serverSum)
        return serverSum.failure();
    Result<QByteArray> after = serverScalar(conn, QStringLiteral("SELECT count(*) FROM a"));
    if (!after)
        return after.failure();
    const std::int64_t expectedAfter = summary.serverReportsBefore + std::int64_t(fileSum.count);
    if (!(*serverSum == fileSum) || after->toLongLong() != expectedAfter)
        return Failure{
            FailureCode::CopyMismatch,
            QStringLiteral(
                "复制后核对不一致，已全部撤销，服务器上的报告未作改动。"
                "文件：%1 份报告，校验和 %2；服务器：%3 份，校验和 %4（表中共 %5 份，应为 %6 份）。")
                .arg(QString::number(fileSum.count), fileSum.text(), QString::number(serverSum->count),
                     serverSum->text(), QString::fromLatin1(*after), QString::number(expectedAfter))};
    report(MovePhase::Verifying, 1, 1);
    if (Status s = transaction.commit(); !s)
        return s.failure();
    summary.copied = fileSum;
    summary.seconds = double(clock.nsecsElapsed()) / 1e9;
    // The planner's figures and the visibility map brought up to date at once rather than at the
    // next autovacuum: the program's first search counts through an index then. The reports are
    // in whatever comes of this.
    (void)serverQuery(conn, QStringLiteral("VACUUM (ANALYZE) a"));
    return summary;
}

} // namespace korvela::admin
