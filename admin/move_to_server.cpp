#include "admin/move_to_server.h"

#include "core/failure_codes.h"
#include "records/report_fields.h"
#include "store/server_session.h"
#include "store/sqlite_file.h"
#include "store/store_choice.h"

#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <optional>
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

using Type = SqliteRows::Type;

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
        Result<SqliteFile> file =
            SqliteFile::open(path, SqliteFile::Access::ReadOnly, std::chrono::seconds(10));
        if (!file)
            return failure(QStringLiteral("无法打开"), file.failure());
        m_file.emplace(std::move(*file));
        if (Status s = m_file->execute("BEGIN"); !s)
            return failure(QStringLiteral("无法读取"), s.failure());
        Result<std::int64_t> tables = scalar(QStringLiteral(
            "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'A' COLLATE NOCASE"));
        if (!tables)
            return tables.failure();
        if (*tables == 0)
            return Failure{FailureCode::SourceNotReadable,
                           QStringLiteral("文件 %1 中没有报告数据表 A。").arg(path)};
        Result<std::int64_t> count = scalar(QStringLiteral("SELECT count(*) FROM A"));
        if (!count)
            return count.failure();
        m_count = *count;
        Result<SqliteRows> rows = m_file->reports();
        if (!rows)
            return failure(QStringLiteral("无法读取"), rows.failure());
        m_rows.emplace(std::move(*rows));
        return {};
    }

    std::int64_t count() const { return m_count; }
    // The current report: A1 .. A27, then its rowid.
    const SqliteRows& rows() const { return *m_rows; }

    // Back to the first report, for the second pass (the same read transaction, the same rows).
    void rewind() { m_rows->rewind(); }
    // True with a report, false after the last, else a failure of the file.
    Result<bool> next() { return m_rows->next(); }

    Failure failure(const QString& what, const Failure& engine) const
    {
        const QString detail =
            QStringLiteral("%1，SQLite 代码 %2").arg(engine.description, QString::number(engine.code));
        if (notADatabaseOrDamaged(engine))
            return {FailureCode::SourceNotReadable,
                    QStringLiteral("文件 %1 不是数据库或已损坏（%2），未复制任何报告。").arg(m_path, detail)};
        return {FailureCode::SourceNotReadable,
                QStringLiteral("%1报告数据库文件 %2（%3）。").arg(what, m_path, detail)};
    }

private:
    Result<std::int64_t> scalar(const QString& sql)
    {
        Result<SqliteRows> rows = m_file->rows(sql);
        const Result<bool> found = rows ? rows->next() : Result<bool>(rows.failure());
        if (!found)
            return failure(QStringLiteral("无法读取"), found.failure());
        return *found ? rows->integer(0) : 0;
    }

    QString m_path;
    std::optional<SqliteFile> m_file;
    std::optional<SqliteRows> m_rows;
    std::int64_t m_count = 0;
};

// The refusal of a report whose value cannot go to the server as it is.
Failure notMovable(const SqliteRows& s, std::int64_t ordinal, const QString& problem)
{
    const QString key = s.type(kKeyColumn) == Type::Null ? QStringLiteral("（无）")
                                                         : u"“" + shown(s.bytes(kKeyColumn)) + u"”";
    return {FailureCode::ValueNotMovable,
            QStringLiteral("第 %1 份报告（筛查编号 %2，行号 %3）的%4，未复制任何报告。"
                           "请在 Korvela 中改正这份报告（或用 sqlite3 修改该行）后再试。")
                .arg(QString::number(ordinal), key, QString::number(s.integer(kColumns)), problem)};
}

// Checks every value of the current report: each fits its server column as it is.
std::optional<Failure> checkReport(const SqliteRows& s, std::int64_t ordinal)
{
    for (int c = 0; c < kColumns; ++c) {
        const Type type = s.type(c);
        if (type == Type::Null)
            continue;
        switch (kindOf(c)) {
        case Kind::Text: {
            if (type == Type::Blob)
                return notMovable(s, ordinal, columnLabel(c) + QStringLiteral("不是文字而是二进制数据"));
            const std::string_view text = s.bytes(c);
            if (text.find('\0') != std::string_view::npos)
                return notMovable(s, ordinal,
                                  columnLabel(c) + QStringLiteral("中含有服务器无法保存的控制字符 U+0000"));
            if (!isUtf8(text))
                return notMovable(s, ordinal, columnLabel(c) + QStringLiteral("不是有效的 UTF-8 文字"));
            break;
        }
        case Kind::Date: {
            const std::string_view text = s.bytes(c);
            if (type != Type::Text || !isIsoDate(text))
                return notMovable(
                    s, ordinal,
                    QStringLiteral("检查日期“%1”不是有效日期（应为 YYYY-MM-DD，或为空）").arg(shown(text)));
            break;
        }
        case Kind::Option: {
            const std::int64_t value = s.integer(c);
            if (type != Type::Integer || value < std::numeric_limits<std::int32_t>::min() ||
                value > std::numeric_limits<std::int32_t>::max())
                return notMovable(s, ordinal,
                                  columnLabel(c) +
                                      QStringLiteral("“%1”不是整数（应为 1 或 0）").arg(shown(s.bytes(c))));
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

void appendCopyRow(std::string& out, const SqliteRows& s)
{
    for (int c = 0; c < kColumns; ++c) {
        if (c)
            out += '\t';
        if (s.type(c) == Type::Null) {
            out += "\\N";
            continue;
        }
        if (kindOf(c) == Kind::Option) {
            char digits[24];
            const auto end = std::to_chars(digits, digits + sizeof digits, s.integer(c)).ptr;
            out.append(digits, end);
        } else
            appendCopyText(out, s.bytes(c));
    }
    out += '\n';
}

class ServerTransaction
{
public:
    explicit ServerTransaction(ServerSession& session)
        : m_session(session)
    {
    }
    ~ServerTransaction()
    {
        if (m_open)
            (void)m_session.execute(QStringLiteral("ROLLBACK"));
    }
    Status begin(const QString& sql)
    {
        const Status s = m_session.execute(QStringLiteral("BEGIN; ") + sql);
        m_open = m_session.inTransaction();
        return s;
    }
    Status commit()
    {
        m_open = false;
        return m_session.execute(QStringLiteral("COMMIT"));
    }

private:
    ServerSession& m_session;
    bool m_open = false;
};

Result<MoveSummary> copyToServer(const MoveOptions& options, const MoveProgress& progress)
{
    QElapsedTimer clock;
    clock.start();
    const auto report = [&](MovePhase phase, std::int64_t done, std::int64_t total) {
        if (progress)
            progress(phase, done, total);
    };

    Result<ServerSession> session = ServerSession::open(options.connection, options.lockTimeout);
    if (!session)
        return session.failure();
    MoveSummary summary;
    summary.server = session->name();
    Result<bool> table = session->reportTableExists();
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
        Result<QByteArray> held = session->scalar(QStringLiteral("SELECT count(*) FROM a"));
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
    Result<bool> more = true;
    for (std::int64_t n = 1; (more = source.next()) && *more; ++n) {
        if (std::optional<Failure> f = checkReport(source.rows(), n))
            return *f;
        row.clear();
        source.rows().addTo(row, kColumns);
        fileSum.add(row.digest());
        if (n % kProgressStep == 0)
            report(MovePhase::Checking, n, total);
    }
    if (!more)
        return source.failure(QStringLiteral("读取中断："), more.failure());
    report(MovePhase::Checking, std::int64_t(fileSum.count), total);

    // The table is kept from other writers until the commit, so the rows after the last rowid
    // seen are exactly the ones copied.
    ServerTransaction transaction(*session);
    // The history's rows of the copied reports name the command (ReportSql::changeContext).
    if (Status s = transaction.begin(
            QStringLiteral("LOCK TABLE a IN EXCLUSIVE MODE; SELECT set_config('korvela.action', 'move-to-server', true)"));
        !s)
        return s.failure();
    Result<ServerRows> before =
        session->query(QStringLiteral("SELECT count(*), coalesce(max(rowid), 0) FROM a"));
    if (!before)
        return before.failure();
    summary.serverReportsBefore = before->value(0, 0).toLongLong();
    const std::int64_t lastRowid = before->value(0, 1).toLongLong();
    if (summary.serverReportsBefore > 0 && !options.add)
        return refuseHeld(QByteArray::number(qlonglong(summary.serverReportsBefore)));

    // Second pass: the same rows in the same order, streamed.
    QStringList columns;
    for (const FieldInfo& field : reportFields())
        columns << QString::fromLatin1(field.column).toLower();
    std::int64_t sent = 0;
    {
        Result<ServerCopy> copy = session->copyInto(QStringLiteral("a (%1)").arg(columns.join(u", ")));
        if (!copy)
            return copy.failure();
        source.rewind();
        std::string buffer;
        buffer.reserve(kCopyChunk * 2);
        while ((more = source.next()) && *more) {
            appendCopyRow(buffer, source.rows());
            ++sent;
            if (buffer.size() >= kCopyChunk)
                if (Status s = copy->send(buffer); !s)
                    return s.failure();
            if (sent % kProgressStep == 0)
                report(MovePhase::Copying, sent, total);
        }
        if (!more)
            return source.failure(QStringLiteral("读取中断："), more.failure());
        if (Status s = copy->send(buffer); !s)
            return s.failure();
        if (Status s = copy->finish(); !s)
            return s.failure();
    }
    report(MovePhase::Copying, sent, total);

    // The server's own count and checksum of what it now holds after the last rowid seen.
    report(MovePhase::Verifying, 0, 1);
    Result<Checksum> serverSum = session->reportChecksum(lastRowid);
    if (!serverSum)
        return serverSum.failure();
    Result<QByteArray> after = session->scalar(QStringLiteral("SELECT count(*) FROM a"));
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
    (void)session->execute(QStringLiteral("VACUUM (ANALYZE) a"));
    return summary;
}

// The moved file renamed, its write-ahead log in it; the reason when it stays as it is.
Result<QString> retire(const QString& file, const Checksum& moved)
{
    const auto stays = [](const QString& why) { return Failure{FailureCode::SourceNotReadable, why}; };
    {
        Result<SqliteFile> db = SqliteFile::open(file, SqliteFile::Access::ReadWrite, kReportTableWait);
        if (!db)
            return stays(QStringLiteral("无法打开它（%1）").arg(db.failure().description));
        // Writers kept out while the reports are compared with those copied.
        Result<Checksum> now = Failure{};
        if (Status s = db->execute("BEGIN IMMEDIATE"); !s)
            now = s.failure();
        else {
            Result<SqliteRows> rows = db->reports();
            now = rows ? checksumOf(*rows) : Result<Checksum>(rows.failure());
        }
        (void)db->execute("ROLLBACK");
        if (!now)
            return stays(QStringLiteral("无法核对其中的报告（%1）").arg(now.failure().description));
        if (!(*now == moved))
            return stays(QStringLiteral(
                             "复制之后它又有了改动（现有 %1 份报告，复制了 %2 份）。请核对后用 --add 把新报告"
                             "复制过去，再把它改名")
                             .arg(QString::number(now->count), QString::number(moved.count)));
        // Leaving WAL mode needs the file to itself: it writes the log into the file and deletes
        // it, and fails while any other connection has the file open. Then back to WAL mode, as
        // the program keeps its file.
        bool logMerged = false;
        {
            Result<SqliteRows> mode = db->rows(QStringLiteral("PRAGMA journal_mode = DELETE"));
            const Result<bool> row = mode ? mode->next() : Result<bool>(mode.failure());
            logMerged = row && *row && mode->bytes(0) == "delete";
        }
        if (!logMerged)
            return stays(QStringLiteral("另有程序正打开着它，其预写日志（-wal）无法并入文件"));
        if (Status s = db->execute("PRAGMA journal_mode = WAL"); !s)
            return stays(QStringLiteral("无法把它改回 WAL 模式（%1）").arg(s.failure().description));
    }
    // Nothing of the file may be left in a log beside it.
    if (QFileInfo::exists(file + u"-wal"))
        return stays(QStringLiteral("另有程序打开了它，其预写日志（-wal）仍在"));
    const QString retired = file + QString::fromLatin1(kMovedToServer) +
                            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (QFileInfo::exists(retired) ||
        ::rename(QFile::encodeName(file).constData(), QFile::encodeName(retired).constData()) != 0)
        return stays(QStringLiteral("无法把它改名为 %1").arg(retired));
    return retired;
}

} // namespace

Result<MoveSummary> moveToServer(const MoveOptions& options, const MoveProgress& progress)
{
    Result<MoveSummary> moved = copyToServer(options, progress);
    if (!moved)
        return reportTableWait(moved.failure(), options.connection, options.lockTimeout);
    if (options.retire) {
        const Result<QString> retired = retire(options.sourceFile, moved->copied);
        if (retired)
            moved->retiredAs = *retired;
        else
            moved->notRetired = retired.failure().description;
    }
    return moved;
}

} // namespace korvela::admin
