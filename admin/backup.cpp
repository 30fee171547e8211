#include "admin/backup.h"

#include "admin/server_session.h"
#include "core/failure_codes.h"
#include "core/program_folder.h"
#include "store/store_choice.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace korvela::admin {

namespace {

constexpr int kDailyCopies = 14;
constexpr int kMonthlyCopies = 12;
constexpr int kPagesPerStep = 1024;
const QString kStatusFile = QStringLiteral("korvela-backup.status");

Failure backupFailure(const QString& text)
{
    return {FailureCode::BackupFailed, text};
}

Failure restoreRefused(const QString& text)
{
    return {FailureCode::RestoreRefused, text};
}

// A test stops a restore at a named point to kill it there; nobody else sets this.
void pauseForTest(const char* point)
{
    if (qEnvironmentVariable("KORVELA_RESTORE_PAUSE") == QLatin1String(point)) {
        std::fprintf(stderr, "paused at %s\n", point);
        std::fflush(stderr);
        QThread::sleep(60);
    }
}

struct SqliteCloser
{
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Sqlite = std::unique_ptr<sqlite3, SqliteCloser>;

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

// Count and checksum of every value of table A, row ids included, in the connection's transaction.
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

QByteArray fileSha256(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&f);
    return hash.result().toHex();
}

bool syncFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// The copy's fingerprint beside it, in the form sha256sum reads ("<hex>  <name>").
bool writeFingerprint(const QString& copy)
{
    QSaveFile f(copy + u".sha256");
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(fileSha256(copy) + "  " + QFile::encodeName(QFileInfo(copy).fileName()) + '\n');
    return f.commit();
}

// Whether a copy matches its fingerprint; nullopt when it has none.
std::optional<bool> matchesFingerprint(const QString& copy)
{
    QFile f(copy + u".sha256");
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readLine().split(' ').value(0).trimmed() == fileSha256(copy);
}

QString stamp(const QDateTime& now)
{
    return now.toString(QStringLiteral("yyyy-MM-dd-HHmm"));
}

// Puts the checked copy under its name, then removes what the rotation no longer keeps.
Result<BackupSummary> finish(const QString& partial, const QString& final, const QString& prefix, BackupCopy copy)
{
    if (!syncFile(partial) || (QFile::exists(final) && !QFile::remove(final)) || !QFile::rename(partial, final))
        return backupFailure(QStringLiteral("无法把副本存为 %1。").arg(final));
    if (!writeFingerprint(final))
        return backupFailure(QStringLiteral("无法写入副本的校验值文件 %1.sha256。").arg(final));
    syncFile(QFileInfo(final).absolutePath());
    copy.file = final;
    BackupSummary summary{copy, {}};
    const QDir folder = QFileInfo(final).absoluteDir();
    const QStringList names = folder.entryList({prefix + u"-*"}, QDir::Files);
    for (const QString& name : copiesToRemove(names)) {
        if (QFile::remove(folder.filePath(name))) {
            QFile::remove(folder.filePath(name + u".sha256"));
            summary.removed << folder.filePath(name);
        }
    }
    return summary;
}

// The table a rows of a custom-format dump, read back by pg_restore, as the server's checksum
// query sees them: every value but the row id, null as null, everything else as its text.
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

} // namespace

QString defaultBackupFolder(const QString& programFolder)
{
    return programFolder + u"/Data/backup";
}

QStringList copiesToRemove(const QStringList& fileNames)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z]+-(\\d{4}-\\d{2}-\\d{2})-(\\d{4})\\.(Dat|dump)$"));
    struct Copy
    {
        QString file, day, month, time;
    };
    std::vector<Copy> copies;
    for (const QString& f : fileNames)
        if (const auto m = name.match(f); m.hasMatch())
            copies.push_back({f, m.captured(1), m.captured(1).left(7), m.captured(1) + m.captured(2)});
    std::sort(copies.begin(), copies.end(), [](const Copy& a, const Copy& b) { return a.time > b.time; });
    QSet<QString> days, months, kept;
    for (const Copy& c : copies)
        if (!days.contains(c.day) && days.size() < kDailyCopies) {
            days.insert(c.day);
            kept.insert(c.file);
        }
    // The months are those before the days kept: a second copy of a kept day is no month's copy.
    const QString oldestDay = days.isEmpty() ? QString() : *std::min_element(days.begin(), days.end());
    for (const Copy& c : copies)
        if (c.day < oldestDay && !months.contains(c.month) && months.size() < kMonthlyCopies) {
            months.insert(c.month);
            kept.insert(c.file);
        }
    QStringList removed;
    for (auto c = copies.rbegin(); c != copies.rend(); ++c)
        if (!kept.contains(c->file))
            removed << c->file;
    return removed;
}

Result<BackupSummary> backupDataFile(const QString& dataFile, const QString& folder, const QDateTime& now)
{
    if (!QFileInfo::exists(dataFile))
        return backupFailure(QStringLiteral("找不到数据库文件 %1。").arg(dataFile));
    if (!QDir().mkpath(folder))
        return backupFailure(QStringLiteral("无法建立备份文件夹 %1。").arg(folder));
    const QString final = QDir(folder).filePath(QStringLiteral("Data-%1.Dat").arg(stamp(now)));
    const QString partial = final + u".partial";
    QFile::remove(partial);

    // One read transaction of the source for the checksum and the copy: the copy holds exactly
    // the reports committed before it began, and a writer in WAL mode never waits for it.
    Result<Sqlite> source = openSqlite(dataFile, SQLITE_OPEN_READONLY);
    if (!source)
        return source.failure();
    if (Status s = exec(source->get(), "BEGIN", QStringLiteral("无法读取数据库")); !s)
        return s.failure();
    Result<Checksum> before = tableChecksum(source->get());
    if (!before)
        return before.failure();
    {
        Result<Sqlite> target = openSqlite(partial, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        if (!target)
            return target.failure();
        // The copy is made durable by the one fsync below, not by the engine's own at its end.
        (void)exec(target->get(), "PRAGMA synchronous=OFF", {});
        sqlite3_backup* copy = sqlite3_backup_init(target->get(), "main", source->get(), "main");
        if (!copy)
            return sqliteFailure(target->get(), QStringLiteral("无法开始复制"));
        // A few megabytes at a time, each written out before the next: a save's own fsync never
        // queues behind the whole copy. The source's read transaction keeps every step on the
        // same snapshot.
        const int written = ::open(QFile::encodeName(partial).constData(), O_RDONLY | O_CLOEXEC);
        int rc;
        while ((rc = sqlite3_backup_step(copy, kPagesPerStep)) == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
            if (written >= 0)
                ::fdatasync(written);
        if (written >= 0)
            ::close(written);
        sqlite3_backup_finish(copy);
        if (rc != SQLITE_DONE)
            return sqliteFailure(target->get(), QStringLiteral("复制中断"));
        // The copy is one self-contained file: no write-ahead log beside it.
        if (Status s = exec(target->get(), "PRAGMA journal_mode=DELETE", QStringLiteral("无法整理副本")); !s)
            return s.failure();
    }
    (void)exec(source->get(), "COMMIT", {});
    source = Failure{};

    Result<Sqlite> check = openSqlite(partial, SQLITE_OPEN_READONLY);
    if (!check)
        return check.failure();
    const Result<QString> sound = integrity(check->get());
    if (!sound)
        return sound.failure();
    if (*sound != u"ok")
        return backupFailure(QStringLiteral("副本未通过完整性检查：%1").arg(*sound));
    const Result<Checksum> after = tableChecksum(check->get());
    if (!after)
        return after.failure();
    check = Failure{};
    if (!(*after == *before)) {
        QFile::remove(partial);
        return backupFailure(QStringLiteral("副本与数据库不一致（数据库 %1 份、校验和 %2；副本 %3 份、校验和 %4），已删除。")
                                 .arg(before->count)
                                 .arg(before->text())
                                 .arg(after->count)
                                 .arg(after->text()));
    }
    return finish(partial, final, QStringLiteral("Data"), {{}, *before, 0});
}

Result<BackupSummary> backupServer(const QString& connection, const QString& folder, const QDateTime& now)
{
    if (!QDir().mkpath(folder))
        return backupFailure(QStringLiteral("无法建立备份文件夹 %1。").arg(folder));
    const QString final = QDir(folder).filePath(QStringLiteral("korvela-%1.dump").arg(stamp(now)));
    const QString partial = final + u".partial";
    QFile::remove(partial);

    Result<ServerConnection> conn = connectToServer(connection, std::chrono::seconds(5));
    if (!conn)
        return conn.failure();
    // The dump and the checksum are of one snapshot: the one this transaction exports.
    if (Result<ServerResult> begun =
            serverQuery(conn->get(), QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY"));
        !begun)
        return begun.failure();
    const Result<QByteArray> snapshot = serverScalar(conn->get(), QStringLiteral("SELECT pg_export_snapshot()"));
    if (!snapshot)
        return snapshot.failure();
    const Result<Checksum> before = serverChecksum(conn->get());
    if (!before)
        return before.failure();
    if (const QString failed = runTool(QStringLiteral("pg_dump"),
                                       {QStringLiteral("--format=custom"),
                                        u"--snapshot=" + QString::fromLatin1(*snapshot), u"--file=" + partial,
                                        u"--dbname=" + connection});
        !failed.isEmpty()) {
        QFile::remove(partial);
        return backupFailure(failed);
    }
    (void)serverQuery(conn->get(), QStringLiteral("COMMIT"));

    const Result<Checksum> after = dumpChecksum(partial);
    if (!after)
        return after.failure();
    if (!(*after == *before)) {
        QFile::remove(partial);
        return backupFailure(QStringLiteral("转储与服务器不一致（服务器 %1 份、校验和 %2；转储 %3 份、校验和 %4），已删除。")
                                 .arg(before->count)
                                 .arg(before->text())
                                 .arg(after->count)
                                 .arg(after->text()));
    }
    return finish(partial, final, QStringLiteral("korvela"), {{}, *before, 0});
}

BackupStatus readBackupStatus(const QString& folder)
{
    BackupStatus status;
    QFile f(QDir(folder).filePath(kStatusFile));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return status;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        const QString key = line.section(u'=', 0, 0), value = line.section(u'=', 1);
        if (key == u"last_good")
            status.lastGood = QDateTime::fromString(value, Qt::ISODate);
        else if (key == u"last_good_file")
            status.lastGoodFile = value;
        else if (key == u"last_good_reports")
            status.lastGoodReports = value.toLongLong();
        else if (key == u"last_failed")
            status.lastFailed = QDateTime::fromString(value, Qt::ISODate);
        else if (key == u"last_failure")
            status.lastFailure = value;
    }
    return status;
}

namespace {

void writeStatus(const QString& folder, const BackupStatus& s)
{
    QSaveFile f(QDir(folder).filePath(kStatusFile));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    QString text;
    if (s.lastGood)
        text += QStringLiteral("last_good=%1\nlast_good_file=%2\nlast_good_reports=%3\n")
                    .arg(s.lastGood->toString(Qt::ISODate), s.lastGoodFile)
                    .arg(s.lastGoodReports);
    if (s.lastFailed)
        text += QStringLiteral("last_failed=%1\nlast_failure=%2\n")
                    .arg(s.lastFailed->toString(Qt::ISODate), QString(s.lastFailure).replace(u'\n', u' '));
    f.write(text.toUtf8());
    f.commit();
}

} // namespace

void recordBackup(const QString& folder, const QDateTime& when, const BackupCopy& copy)
{
    BackupStatus s;
    s.lastGood = when;
    s.lastGoodFile = copy.file;
    s.lastGoodReports = qint64(copy.reports.count);
    writeStatus(folder, s);
}

void recordBackupFailure(const QString& folder, const QDateTime& when, const QString& reason)
{
    BackupStatus s = readBackupStatus(folder);
    s.lastFailed = when;
    s.lastFailure = reason;
    if (QDir().mkpath(folder))
        writeStatus(folder, s);
}

bool programRunning(const QString& programFolder)
{
    const QString name = u"korvela-" + programFolderKey(programFolder) + u".lock";
    QStringList places{QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation), QDir::tempPath()};
    for (const QString& session : QDir(QStringLiteral("/run/user")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        places << QStringLiteral("/run/user/") + session;
    for (const QString& runtime : QDir::temp().entryList({QStringLiteral("runtime-*")}, QDir::Dirs))
        places << QDir::temp().filePath(runtime);
    for (const QString& place : places) {
        if (place.isEmpty())
            continue;
        const int fd = ::open(QFile::encodeName(QDir(place).filePath(name)).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        ::close(fd); // closing gives the lock back
        if (held)
            return true;
    }
    return false;
}

Result<RestoreSummary> restoreDataFile(const QString& programFolder, const QString& copy, const QDateTime& now)
{
    if (programRunning(programFolder))
        return restoreRefused(QStringLiteral("Korvela 正在这台计算机上运行（程序文件夹 %1）。请先在所有窗口中关闭它，再恢复。")
                                  .arg(programFolder));
    if (!QFileInfo(copy).isFile())
        return restoreRefused(QStringLiteral("找不到副本 %1。").arg(copy));
    if (const std::optional<bool> matches = matchesFingerprint(copy); matches && !*matches)
        return restoreRefused(QStringLiteral("副本 %1 已损坏：与它的校验值文件 %1.sha256 不符。未作任何改动。").arg(copy));
    {
        // Read as it lies, without a write-ahead log or locks beside it.
        const QString uri = u"file:" +
                            QString::fromLatin1(QUrl::toPercentEncoding(QFileInfo(copy).absoluteFilePath(), "/")) +
                            u"?immutable=1";
        Result<Sqlite> check = openSqlite(uri, SQLITE_OPEN_READONLY);
        if (!check)
            return restoreRefused(check.failure().description);
        const Result<QString> sound = integrity(check->get());
        if (!sound || *sound != u"ok")
            return restoreRefused(QStringLiteral("副本 %1 未通过完整性检查（%2）。未作任何改动。")
                                      .arg(copy, sound ? *sound : sound.failure().description));
    }

    const QString data = databasePath(programFolder);
    const QString restoring = data + u".restoring";
    QFile::remove(restoring);
    if (!QFile::copy(copy, restoring))
        return restoreRefused(QStringLiteral("无法把副本复制到 %1。未作任何改动。").arg(restoring));
    Checksum reports;
    {
        Result<Sqlite> restored = openSqlite(restoring, SQLITE_OPEN_READWRITE);
        if (!restored)
            return restored.failure();
        // The program's database is in WAL mode, as setup makes it.
        if (Status s = exec(restored->get(), "PRAGMA journal_mode=WAL", QStringLiteral("无法整理副本")); !s)
            return s.failure();
        Result<Checksum> sum = tableChecksum(restored->get());
        if (!sum) {
            QFile::remove(restoring);
            return restoreRefused(QStringLiteral("副本中没有可读的报告数据表 A：%1").arg(sum.failure().description));
        }
        reports = *sum;
    }
    syncFile(restoring);
    pauseForTest("copied");

    RestoreSummary summary{reports, {}};
    if (QFileInfo::exists(data)) {
        // Whatever the write-ahead log holds goes into the file first, so the file kept aside is
        // the whole database and no log of it stays behind for the copy.
        {
            Result<Sqlite> current = openSqlite(data, SQLITE_OPEN_READWRITE);
            if (!current)
                return current.failure();
            if (Status s = exec(current->get(), "PRAGMA wal_checkpoint(TRUNCATE)", QStringLiteral("无法整理当前数据库"));
                !s)
                return s.failure();
        }
        summary.keptAside = data + u".before-restore-" + now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
        if (::link(QFile::encodeName(data).constData(), QFile::encodeName(summary.keptAside).constData()) != 0 &&
            !QFile::copy(data, summary.keptAside))
            return restoreRefused(QStringLiteral("无法把当前数据库保留为 %1。未作任何改动。").arg(summary.keptAside));
        // The copy takes the database's owner, group and permissions.
        const QFileInfo current(data);
        QFile::setPermissions(restoring, QFile::permissions(data));
        if (::chown(QFile::encodeName(restoring).constData(), current.ownerId(), current.groupId()) != 0) {
            // Only root may give a file away; the restorer's own file is as good then.
        }
    }
    pauseForTest("kept");
    if (::rename(QFile::encodeName(restoring).constData(), QFile::encodeName(data).constData()) != 0)
        return restoreRefused(QStringLiteral("无法把副本放到 %1。数据库未改动。").arg(data));
    syncFile(QFileInfo(data).absolutePath());
    QFile::remove(data + u"-wal");
    QFile::remove(data + u"-shm");
    pauseForTest("replaced");
    return summary;
}

Result<RestoreSummary> restoreServer(const QString& connection, const QString& dump, bool replace)
{
    if (!QFileInfo(dump).isFile())
        return restoreRefused(QStringLiteral("找不到转储文件 %1。").arg(dump));
    if (const std::optional<bool> matches = matchesFingerprint(dump); matches && !*matches)
        return restoreRefused(QStringLiteral("转储文件 %1 已损坏：与它的校验值文件不符。未作任何改动。").arg(dump));
    const Result<Checksum> inDump = dumpChecksum(dump);
    if (!inDump)
        return restoreRefused(QStringLiteral("转储文件未通过检查：%1 未作任何改动。").arg(inDump.failure().description));

    Result<ServerConnection> conn = connectToServer(connection, std::chrono::seconds(5));
    if (!conn)
        return conn.failure();
    Result<bool> table = reportTableExists(conn->get());
    if (!table)
        return table.failure();
    if (*table) {
        const Result<QByteArray> held = serverScalar(conn->get(), QStringLiteral("SELECT count(*) FROM a"));
        if (!held)
            return held.failure();
        if (held->toLongLong() > 0 && !replace)
            return restoreRefused(QStringLiteral("服务器 %1 上已有 %2 份报告，未作任何改动。要以转储替换它们，请加 --replace。")
                                      .arg(serverName(conn->get()), QString::fromLatin1(*held)));
    }
    if (const QString failed = runTool(QStringLiteral("pg_restore"),
                                       {QStringLiteral("--single-transaction"), QStringLiteral("--clean"),
                                        QStringLiteral("--if-exists"), QStringLiteral("--no-owner"),
                                        QStringLiteral("--no-privileges"), u"--dbname=" + connection, dump});
        !failed.isEmpty())
        return restoreRefused(failed + QStringLiteral(" 服务器上的报告未改动。"));
    const Result<Checksum> restored = serverChecksum(conn->get());
    if (!restored)
        return restored.failure();
    if (!(*restored == *inDump))
        return restoreRefused(QStringLiteral("恢复后服务器上的报告（%1 份）与转储（%2 份）不一致。").arg(restored->count).arg(inDump->count));
    return RestoreSummary{*restored, {}};
}

} // namespace korvela::admin
