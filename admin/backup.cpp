#include "admin/backup.h"

#include "admin/copy_checks.h"
#include "store/admin_store.h"
#include "store/server_session.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <thread>

namespace korvela::admin {

using namespace copies;

namespace {

constexpr int kDailyCopies = 14;
constexpr int kMonthlyCopies = 12;
constexpr int kPagesPerStep = 1024;
constexpr mode_t kCopyMode = 0640;
constexpr mode_t kStatusMode = 0660;
const QString kStatusFile = QStringLiteral("korvela-backup.status");

QString stamp(const QDateTime& now, CopyKind kind)
{
    static const QString suffix[] = {{}, QStringLiteral("-manual"), QStringLiteral("-before-restore")};
    return now.toString(QStringLiteral("yyyy-MM-dd-HHmm")) + suffix[int(kind)];
}

// The copy while it is made and checked, in its folder (made when missing): made empty with the
// copy's mode before anything writes to it, so it is never readable by others, and removed on
// every way out but the one that gives it its name. A copy of the same name (made within the same
// minute) is never replaced: it may be the very dump a restore is about to read.
class PartialCopy
{
public:
    PartialCopy(const QString& folder, const QString& name)
        : m_final(QDir(folder).filePath(name))
    {
        if (!makeBackupFolder(folder)) {
            m_status = backupFailure(QStringLiteral("无法建立备份文件夹 %1。").arg(folder));
            return;
        }
        if (QFile::exists(m_final)) {
            m_status = backupFailure(
                QStringLiteral("已有同名的副本 %1（同一分钟内做的），没有覆盖它。请过一分钟再备份。").arg(m_final));
            return;
        }
        m_path = m_final + u".partial";
        remove();
        const int fd =
            ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 || !giveToGroup(fd, kCopyMode))
            m_status = backupFailure(QStringLiteral("无法建立副本文件 %1。").arg(m_path));
        if (fd >= 0)
            ::close(fd);
    }
    ~PartialCopy()
    {
        if (!m_path.isEmpty())
            remove();
    }
    PartialCopy(const PartialCopy&) = delete;
    PartialCopy& operator=(const PartialCopy&) = delete;

    // Whether the copy can be made; why not.
    const Status& status() const { return m_status; }
    const QString& path() const { return m_path; }
    // The name it takes once checked.
    const QString& final() const { return m_final; }
    // Gives the checked copy its name.
    bool rename()
    {
        // QFile::rename never replaces a file: a copy already there keeps its name.
        if (!QFile::rename(m_path, m_final))
            return false;
        m_path.clear();
        return true;
    }

private:
    void remove() const
    {
        QFile::remove(m_path);
        QFile::remove(m_path + u"-journal"); // the engine's, when a step failed half-way
    }

    QString m_final;
    QString m_path;
    Status m_status;
};

// A store holding fewer than half the reports of the last good copy is likely not the store the
// workstations use, or has lost reports: its copy would rotate the good ones away.
Status notShrunken(const Checksum& store, const BackupConditions& conditions)
{
    if (store.count * 2 >= conditions.lastGoodReports)
        return {};
    return backupFailure(
        QStringLiteral("数据库中只有 %1 份报告，不到上次成功备份时（%2 份）的一半：这可能不是各工作站"
                       "使用的数据库，或者报告被大量删除了。确认无误后，加 --allow-shrink 再备份。")
            .arg(store.count)
            .arg(conditions.lastGoodReports));
}

Failure mismatch(const QString& what, const Checksum& store, const Checksum& copy)
{
    return backupFailure(what.arg(store.count).arg(store.text()).arg(copy.count).arg(copy.text()));
}

// Writes the snapshot of `source`'s open read transaction into `partial`.
Status copyPages(SqliteFile& source, const QString& partial)
{
    Result<SqliteFile> target = openSqlite(partial, SqliteFile::Access::ReadWrite);
    if (!target)
        return target.failure();
    // The copy is made durable by the one fsync at its end, not by the engine's own.
    (void)exec(*target, "PRAGMA synchronous=OFF", {});
    Result<SqliteCopy> copy = SqliteCopy::start(*target, source);
    if (!copy)
        return sqliteFailure(copy.failure(), QStringLiteral("无法开始复制"));
    // A few megabytes at a time, each written out before the next: a save's own fsync never
    // queues behind the whole copy.
    const int written = ::open(QFile::encodeName(partial).constData(), O_RDONLY | O_CLOEXEC);
    Result<bool> done = false;
    while ((done = copy->step(kPagesPerStep)) && !*done)
        if (written >= 0)
            ::fdatasync(written);
    if (written >= 0)
        ::close(written);
    if (!done)
        return sqliteFailure(done.failure(), QStringLiteral("复制中断"));
    // The copy is one self-contained file: no write-ahead log beside it.
    return exec(*target, "PRAGMA journal_mode=DELETE", QStringLiteral("无法整理副本"));
}

// A file opened to be read through: its pages mapped into memory rather than copied in one by
// one, and a cache that holds the index pages integrity_check looks up again and again. The
// engine maps at most 2 GB and reads the rest.
Result<SqliteFile> openToRead(const QString& file)
{
    Result<SqliteFile> db = openSqlite(file, SqliteFile::Access::ReadOnly);
    if (db)
        (void)exec(*db, "PRAGMA mmap_size=2147418112; PRAGMA cache_size=-65536", {});
    return db;
}

// Begins the read transaction of `source` and, beside it, one of a second connection on the same
// snapshot, so the copy and the source's checksum each read on their own connection and core. A
// writer is held off (BEGIN IMMEDIATE) while the two begin, so no save commits between them;
// writers wait only that moment. When a save holds the write lock itself (its "是否更改？" question
// is open) or the file cannot be written by this user, `beside` stays empty and the checksum
// shares the copy's connection, one snapshot all the same.
Status beginReading(SqliteFile& source, std::optional<SqliteFile>& beside, const QString& file,
                    const BackupConditions& conditions)
{
    static constexpr char kBegin[] = "BEGIN; SELECT 1 FROM sqlite_schema";
    Result<SqliteFile> gate =
        SqliteFile::open(file, SqliteFile::Access::ReadWrite, std::chrono::milliseconds(200));
    const bool held = gate && gate->execute("BEGIN IMMEDIATE");
    if (Status s = exec(source, kBegin, QStringLiteral("无法读取数据库")); !s)
        return s;
    conditions.reading();
    if (held) {
        if (Result<SqliteFile> other = openToRead(file); other && other->execute(kBegin))
            beside = std::move(*other);
    }
    return {}; // the gate's transaction ends with its connection
}

Result<QString> integrityOf(const QString& file)
{
    Result<SqliteFile> db = openToRead(file);
    if (!db)
        return db.failure();
    return integrity(*db);
}

Result<Checksum> checksumOf(const QString& file)
{
    Result<SqliteFile> db = openToRead(file);
    if (!db)
        return db.failure();
    return tableChecksum(*db);
}

// Puts the checked copy under its name beside its fingerprint, then removes what the rotation no
// longer keeps.
Result<BackupSummary> finish(PartialCopy& partial, const QByteArray& sha256,
                             const QString& prefix, CopyKind kind, BackupCopy copy)
{
    const QString& final = partial.final();
    if (!syncFile(partial.path()))
        return backupFailure(QStringLiteral("无法把副本写入磁盘：%1。").arg(partial.path()));
    // The fingerprint first: a copy under its name always has one.
    if (!writeFingerprint(final, sha256))
        return backupFailure(QStringLiteral("无法写入副本的校验值文件 %1.sha256。").arg(final));
    if (!partial.rename()) {
        QFile::remove(final + u".sha256");
        return backupFailure(QStringLiteral("无法把副本存为 %1。").arg(final));
    }
    syncFile(QFileInfo(final).absolutePath());
    copy.file = final;
    BackupSummary summary{copy, {}};
    if (kind != CopyKind::Scheduled)
        return summary;
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

} // namespace

QString defaultBackupFolder(const QString& programFolder)
{
    return programFolder + u"/Data/backup";
}

bool makeBackupFolder(const QString& folder)
{
    if (QFileInfo(folder).isDir())
        return true;
    if (!QDir().mkpath(folder))
        return false;
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool given = fd >= 0 && giveToGroup(fd, 02770);
    if (fd >= 0)
        ::close(fd);
    return given;
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

Result<BackupSummary> backupDataFile(const QString& dataFile, const QString& folder, const QDateTime& now,
                                     CopyKind kind, const BackupConditions& conditions)
{
    if (!QFileInfo::exists(dataFile))
        return backupFailure(QStringLiteral("找不到数据库文件 %1。").arg(dataFile));
    PartialCopy partial(folder, QStringLiteral("Data-%1.Dat").arg(stamp(now, kind)));
    if (!partial.status())
        return partial.status().failure();

    // One read transaction of the source, begun here, for the checksum and the copy: the copy
    // holds exactly the reports committed before it began, and a writer in WAL mode never waits
    // for it. The checksum of the source is computed beside the copy, the copy's integrity_check
    // beside its own checksum and fingerprint: two connections at a time, one for each core.
    Result<SqliteFile> source = openToRead(dataFile);
    if (!source)
        return source.failure();
    std::optional<SqliteFile> beside;
    if (Status s = beginReading(*source, beside, dataFile, conditions); !s)
        return s.failure();
    Result<Checksum> before = Failure{};
    Result<QString> sound = Failure{};
    std::jthread checking;
    {
        const std::jthread summing([&] { before = tableChecksum(beside ? *beside : *source); });
        if (const Status copied = copyPages(*source, partial.path()); !copied)
            return copied.failure();
        conditions.written(partial.path());
        checking = std::jthread([&] { sound = integrityOf(partial.path()); });
    }
    source = Failure{};
    beside.reset();
    if (!before)
        return before.failure();
    if (Status s = notShrunken(*before, conditions); !s)
        return s.failure();
    const Result<Checksum> after = checksumOf(partial.path());
    const QByteArray sha256 = fileSha256(partial.path());
    checking.join();
    if (!sound)
        return sound.failure();
    if (*sound != u"ok")
        return backupFailure(QStringLiteral("副本未通过完整性检查：%1").arg(*sound));
    if (!after)
        return after.failure();
    if (!(*after == *before))
        return mismatch(
            QStringLiteral("副本与数据库不一致（数据库 %1 份、校验和 %2；副本 %3 份、校验和 %4），已删除。"),
            *before, *after);
    return finish(partial, sha256, QStringLiteral("Data"), kind, {{}, *before, 0});
}

Result<BackupSummary> backupServer(const QString& connection, const QString& folder, const QDateTime& now,
                                   CopyKind kind, const BackupConditions& conditions)
{
    PartialCopy partial(folder, QStringLiteral("korvela-%1.dump").arg(stamp(now, kind)));
    if (!partial.status())
        return partial.status().failure();

    Result<ServerSession> session = ServerSession::open(connection, kReportTableWait);
    if (!session)
        return session.failure();
    // The dump and the checksum are of one snapshot: the one this transaction exports.
    if (Status s = session->execute(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY")); !s)
        return s.failure();
    const Result<QByteArray> snapshot = session->scalar(QStringLiteral("SELECT pg_export_snapshot()"));
    if (!snapshot)
        return snapshot.failure();
    const Result<Checksum> before = session->reportChecksum();
    if (!before)
        return before.failure();
    if (Status s = notShrunken(*before, conditions); !s)
        return s.failure();
    // pg_dump writes into the file made above, which keeps its mode.
    if (const QString failed =
            runTool(QStringLiteral("pg_dump"),
                    {QStringLiteral("--format=custom"), u"--snapshot=" + QString::fromLatin1(*snapshot),
                     // A lock a workstation cannot be holding for long (a restore's, a schema
                     // change's) is waited for no longer than a save waits.
                     QStringLiteral("--lock-wait-timeout=%1").arg(std::chrono::milliseconds(kReportTableWait).count()),
                     u"--file=" + partial.path(), u"--dbname=" + connection});
        !failed.isEmpty())
        return backupFailure(failed);
    (void)session->execute(QStringLiteral("COMMIT"));
    conditions.written(partial.path());

    const Result<Checksum> after = dumpChecksum(partial.path());
    if (!after)
        return after.failure();
    if (!(*after == *before))
        return mismatch(
            QStringLiteral("转储与服务器不一致（服务器 %1 份、校验和 %2；转储 %3 份、校验和 %4），已删除。"),
            *before, *after);
    return finish(partial, fileSha256(partial.path()), QStringLiteral("korvela"), kind,
                  {{}, *before, 0});
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
        else if (key == u"last_good_kind" && (value == u"file" || value == u"server"))
            status.lastGoodKind = value == u"file" ? CopiedStore::File : CopiedStore::Server;
        else if (key == u"last_good_store")
            status.lastGoodStore = value;
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
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text) || !giveToGroup(f.handle(), kStatusMode))
        return;
    QString text;
    if (s.lastGood)
        text += QStringLiteral("last_good=%1\nlast_good_file=%2\nlast_good_reports=%3\n")
                    .arg(s.lastGood->toString(Qt::ISODate), s.lastGoodFile)
                    .arg(s.lastGoodReports);
    if (s.lastGoodKind)
        text += QStringLiteral("last_good_kind=%1\nlast_good_store=%2\n")
                    .arg(*s.lastGoodKind == CopiedStore::File ? u"file" : u"server", s.lastGoodStore);
    if (s.lastFailed)
        text += QStringLiteral("last_failed=%1\nlast_failure=%2\n")
                    .arg(s.lastFailed->toString(Qt::ISODate), QString(s.lastFailure).replace(u'\n', u' '));
    f.write(text.toUtf8());
    f.commit();
}

} // namespace

void recordBackup(const QString& folder, const QDateTime& when, const BackupCopy& copy, CopiedStore kind,
                  const QString& store)
{
    BackupStatus s;
    s.lastGood = when;
    s.lastGoodFile = copy.file;
    s.lastGoodReports = qint64(copy.reports.count);
    s.lastGoodKind = kind;
    s.lastGoodStore = store;
    writeStatus(folder, s);
}

void recordBackupFailure(const QString& folder, const QDateTime& when, const QString& reason)
{
    BackupStatus s = readBackupStatus(folder);
    s.lastFailed = when;
    s.lastFailure = reason;
    if (QFileInfo(folder).isDir())
        writeStatus(folder, s);
}

} // namespace korvela::admin
