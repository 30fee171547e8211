#include "admin/backup.h"

#include "admin/copy_checks.h"
#include "store/server_session.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace korvela::admin {

using namespace copies;

namespace {

constexpr int kDailyCopies = 14;
constexpr int kMonthlyCopies = 12;
constexpr int kPagesPerStep = 1024;
const QString kStatusFile = QStringLiteral("korvela-backup.status");

QString stamp(const QDateTime& now, CopyKind kind)
{
    static const QString suffix[] = {{}, QStringLiteral("-manual"), QStringLiteral("-before-restore")};
    return now.toString(QStringLiteral("yyyy-MM-dd-HHmm")) + suffix[int(kind)];
}

// Puts the checked copy under its name, then removes what the rotation no longer keeps.
Result<BackupSummary> finish(const QString& partial, const QString& final, const QString& prefix, CopyKind kind,
                             BackupCopy copy)
{
    if (!syncFile(partial) || (QFile::exists(final) && !QFile::remove(final)) || !QFile::rename(partial, final))
        return backupFailure(QStringLiteral("无法把副本存为 %1。").arg(final));
    if (!writeFingerprint(final))
        return backupFailure(QStringLiteral("无法写入副本的校验值文件 %1.sha256。").arg(final));
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
                                     CopyKind kind)
{
    if (!QFileInfo::exists(dataFile))
        return backupFailure(QStringLiteral("找不到数据库文件 %1。").arg(dataFile));
    if (!QDir().mkpath(folder))
        return backupFailure(QStringLiteral("无法建立备份文件夹 %1。").arg(folder));
    const QString final = QDir(folder).filePath(QStringLiteral("Data-%1.Dat").arg(stamp(now, kind)));
    const QString partial = final + u".partial";
    QFile::remove(partial);

    // One read transaction of the source for the checksum and the copy: the copy holds exactly
    // the reports committed before it began, and a writer in WAL mode never waits for it.
    Result<SqliteFile> source = openSqlite(dataFile, SqliteFile::Access::ReadOnly);
    if (!source)
        return source.failure();
    if (Status s = exec(*source, "BEGIN", QStringLiteral("无法读取数据库")); !s)
        return s.failure();
    Result<Checksum> before = tableChecksum(*source);
    if (!before)
        return before.failure();
    {
        Result<SqliteFile> target = openSqlite(partial, SqliteFile::Access::Create);
        if (!target)
            return target.failure();
        // The copy is made durable by the one fsync below, not by the engine's own at its end.
        (void)exec(*target, "PRAGMA synchronous=OFF", {});
        Result<SqliteCopy> copy = SqliteCopy::start(*target, *source);
        if (!copy)
            return sqliteFailure(copy.failure(), QStringLiteral("无法开始复制"));
        // A few megabytes at a time, each written out before the next: a save's own fsync never
        // queues behind the whole copy. The source's read transaction keeps every step on the
        // same snapshot.
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
        if (Status s = exec(*target, "PRAGMA journal_mode=DELETE", QStringLiteral("无法整理副本")); !s)
            return s.failure();
    }
    (void)exec(*source, "COMMIT", {});
    source = Failure{};

    Result<SqliteFile> check = openSqlite(partial, SqliteFile::Access::ReadOnly);
    if (!check)
        return check.failure();
    const Result<QString> sound = integrity(*check);
    if (!sound)
        return sound.failure();
    if (*sound != u"ok")
        return backupFailure(QStringLiteral("副本未通过完整性检查：%1").arg(*sound));
    const Result<Checksum> after = tableChecksum(*check);
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
    return finish(partial, final, QStringLiteral("Data"), kind, {{}, *before, 0});
}

Result<BackupSummary> backupServer(const QString& connection, const QString& folder, const QDateTime& now,
                                   CopyKind kind)
{
    if (!QDir().mkpath(folder))
        return backupFailure(QStringLiteral("无法建立备份文件夹 %1。").arg(folder));
    const QString final = QDir(folder).filePath(QStringLiteral("korvela-%1.dump").arg(stamp(now, kind)));
    const QString partial = final + u".partial";
    QFile::remove(partial);

    Result<ServerSession> session = ServerSession::open(connection, std::chrono::seconds(5));
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
    if (const QString failed = runTool(QStringLiteral("pg_dump"),
                                       {QStringLiteral("--format=custom"),
                                        u"--snapshot=" + QString::fromLatin1(*snapshot), u"--file=" + partial,
                                        u"--dbname=" + connection});
        !failed.isEmpty()) {
        QFile::remove(partial);
        return backupFailure(failed);
    }
    (void)session->execute(QStringLiteral("COMMIT"));

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
    return finish(partial, final, QStringLiteral("korvela"), kind, {{}, *before, 0});
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

} // namespace korvela::admin
