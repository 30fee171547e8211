#include "admin/copy_checks.h"

#include "admin/server_session.h"
#include "core/failure_codes.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

namespace korvela::admin::copies {

Failure backupFailure(const QString& text)
{
    return {FailureCode::BackupFailed, text};
}

void SqliteCloser::operator()(sqlite3* db) const
{
    sqlite3_close_v2(db);
}

Result<Sqlite> openSqlite(const QString& path, int flags)
{
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, flags | SQLITE_OPEN_URI, nullptr);
    Sqlite db(raw);
    if (rc != SQLITE_OK)
        return backupFailure(QStringLiteral("无法打开 %1：%2").arg(path, QString::fromUtf8(sqlite3_errmsg(raw))));
    sqlite3_busy_timeout(raw, 5000);
    return db;
}

Failure sqliteFailure(sqlite3* db, const QString& what)
{
    return backupFailure(QStringLiteral("%1：%2").arg(what, QString::fromUtf8(sqlite3_errmsg(db))));
}

Status exec(sqlite3* db, const char* sql, const QString& what)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        return sqliteFailure(db, what);
    return {};
}

Result<Checksum> tableChecksum(sqlite3* db)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT rowid, * FROM A", -1, &raw, nullptr) != SQLITE_OK)
        return sqliteFailure(db, QStringLiteral("无法读取报告数据表 A"));
    std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> statement(raw, &sqlite3_finalize);
    const int columns = sqlite3_column_count(raw);
    Checksum sum;
    CanonicalRow row;
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
        row.clear();
        for (int c = 0; c < columns; ++c) {
            switch (sqlite3_column_type(raw, c)) {
            case SQLITE_NULL:
                row.addNull();
                break;
            case SQLITE_INTEGER:
                row.addInteger(sqlite3_column_int64(raw, c));
                break;
            default:
                row.addText({static_cast<const char*>(sqlite3_column_blob(raw, c)),
                             std::size_t(sqlite3_column_bytes(raw, c))});
            }
        }
        row.addTo(sum);
    }
    if (rc != SQLITE_DONE)
        return sqliteFailure(db, QStringLiteral("读取报告数据表 A 中断"));
    return sum;
}

Result<QString> integrity(sqlite3* db)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &raw, nullptr) != SQLITE_OK)
        return sqliteFailure(db, QStringLiteral("无法检查数据库"));
    std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> statement(raw, &sqlite3_finalize);
    QStringList problems;
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW)
        problems << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0)));
    if (rc != SQLITE_DONE)
        return sqliteFailure(db, QStringLiteral("数据库检查中断"));
    return problems.join(u'；');
}

namespace {

QByteArray fileSha256(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return hash.result().toHex();
}

} // namespace

bool syncFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool writeFingerprint(const QString& copy)
{
    QSaveFile f(copy + u".sha256");
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(fileSha256(copy) + "  " + QFile::encodeName(QFileInfo(copy).fileName()) + '\n');
    return f.commit();
}

std::optional<bool> matchesFingerprint(const QString& copy)
{
    QFile f(copy + u".sha256");
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readLine().split(' ').value(0).trimmed() == fileSha256(copy);
}

Result<Checksum> dumpChecksum(const QString& dump)
{
    QProcess restore;
    restore.start(QStringLiteral("pg_restore"),
                  {QStringLiteral("--data-only"), QStringLiteral("--table=a"), QStringLiteral("--file=-"), dump});
    if (!restore.waitForStarted())
        return backupFailure(QStringLiteral("无法运行 pg_restore（请安装 postgresql-client）。"));
    Checksum sum;
    CanonicalRow row;
    bool inRows = false, ended = false;
    QByteArray pending;
    const auto unescape = [](const QByteArray& field) {
        QByteArray out;
        out.reserve(field.size());
        for (qsizetype i = 0; i < field.size(); ++i) {
            if (field[i] != '\\' || i + 1 == field.size()) {
                out += field[i];
                continue;
            }
            const char c = field[++i];
            switch (c) {
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'v': out += '\v'; break;
            default: out += c; // "\\" and any other escaped character
            }
        }
        return out;
    };
    const auto take = [&](const QByteArray& line) {
        if (!inRows) {
            inRows = line.startsWith("COPY ") && line.contains(" FROM stdin;");
            return;
        }
        if (line == "\\.") {
            inRows = false;
            ended = true;
            return;
        }
        row.clear();
        const QList<QByteArray> fields = line.split('\t');
        for (qsizetype i = 1; i < fields.size(); ++i) { // the row id is not a report's value
            if (fields[i] == "\\N")
                row.addNull();
            else {
                const QByteArray text = unescape(fields[i]);
                row.addText({text.constData(), std::size_t(text.size())});
            }
        }
        row.addTo(sum);
    };
    while (restore.state() != QProcess::NotRunning || restore.bytesAvailable() > 0) {
        if (!restore.waitForReadyRead(100) && restore.state() != QProcess::NotRunning)
            continue;
        pending += restore.readAllStandardOutput();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            take(pending.left(end));
            pending.remove(0, end + 1);
        }
    }
    restore.waitForFinished(-1);
    if (restore.exitStatus() != QProcess::NormalExit || restore.exitCode() != 0 || !ended)
        return backupFailure(QStringLiteral("无法读回转储文件 %1 中的报告：%2")
                                 .arg(dump, QString::fromLocal8Bit(restore.readAllStandardError()).trimmed()));
    return sum;
}

Result<Checksum> serverChecksum(pg_conn* conn)
{
    Result<ServerResult> r = serverQuery(conn, serverChecksumQuery(), {QByteArray("-9223372036854775808")});
    if (!r)
        return r.failure();
    return Checksum{std::strtoull(PQgetvalue(r->get(), 0, 0), nullptr, 10),
                    std::strtoull(PQgetvalue(r->get(), 0, 1), nullptr, 10)};
}

QString runTool(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted())
        return QStringLiteral("无法运行 %1（请安装 postgresql-client）。").arg(program);
    p.waitForFinished(-1);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QStringLiteral("%1 失败：%2").arg(program, QString::fromLocal8Bit(p.readAllStandardError()).trimmed());
    return {};
}

} // namespace korvela::admin::copies
