#include "admin/copy_checks.h"

#include "core/failure_codes.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

#include <openssl/evp.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace korvela::admin::copies {

Failure backupFailure(const QString& text)
{
    return {FailureCode::BackupFailed, text};
}

Result<SqliteFile> openSqlite(const QString& name, SqliteFile::Access access)
{
    Result<SqliteFile> db =
        SqliteFile::open(name, access, std::chrono::seconds(5), SqliteFile::Naming::PathOrUri);
    if (!db)
        return backupFailure(QStringLiteral("无法打开 %1：%2").arg(name, db.failure().description));
    return db;
}

Failure sqliteFailure(const Failure& engine, const QString& what)
{
    return backupFailure(QStringLiteral("%1：%2").arg(what, engine.description));
}

Status exec(SqliteFile& db, const char* sql, const QString& what)
{
    if (Status s = db.execute(sql); !s)
        return sqliteFailure(s.failure(), what);
    return {};
}

Result<Checksum> tableChecksum(SqliteFile& db)
{
    Result<SqliteRows> reports = db.reports();
    if (!reports)
        return sqliteFailure(reports.failure(), QStringLiteral("无法读取报告数据表 A"));
    Result<Checksum> sum = checksumOf(*reports);
    if (!sum)
        return sqliteFailure(sum.failure(), QStringLiteral("读取报告数据表 A 中断"));
    return sum;
}

Result<QString> integrity(SqliteFile& db)
{
    Result<SqliteRows> rows = db.rows(QStringLiteral("PRAGMA integrity_check"));
    if (!rows)
        return sqliteFailure(rows.failure(), QStringLiteral("无法检查数据库"));
    QStringList problems;
    Result<bool> more = true;
    while ((more = rows->next()) && *more) {
        const std::string_view line = rows->bytes(0);
        problems << QString::fromUtf8(line.data(), qsizetype(line.size()));
    }
    if (!more)
        return sqliteFailure(more.failure(), QStringLiteral("数据库检查中断"));
    return problems.join(u'；');
}

QByteArray fileSha256(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> sha(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!sha || !EVP_DigestInit_ex(sha.get(), EVP_sha256(), nullptr))
        return {};
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    qint64 n;
    while ((n = f.read(buffer.data(), buffer.size())) > 0)
        if (!EVP_DigestUpdate(sha.get(), buffer.constData(), std::size_t(n)))
            return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (n < 0 || !EVP_DigestFinal_ex(sha.get(), digest, &length))
        return {};
    return QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex();
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

bool giveToGroup(int fd, mode_t mode)
{
    // The group first: a change of group may clear the set-group-ID bit that the mode then sets.
    if (const group* korvela = ::getgrnam("korvela"))
        (void)!::fchown(fd, uid_t(-1), korvela->gr_gid);
    return ::fchmod(fd, mode) == 0;
}

bool writeFingerprint(const QString& copy, const QByteArray& sha256)
{
    QSaveFile f(copy + u".sha256");
    if (!f.open(QIODevice::WriteOnly) || !giveToGroup(f.handle(), 0640))
        return false;
    f.write(sha256 + "  " + QFile::encodeName(QFileInfo(copy).fileName()) + '\n');
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
        sum.add(row.digest());
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

QString runTool(const QString& program, const QStringList& args, const QProcessEnvironment& environment,
                const std::function<void()>& whileRunning)
{
    QProcess p;
    p.setProcessEnvironment(environment);
    p.start(program, args);
    if (!p.waitForStarted())
        return QStringLiteral("无法运行 %1（请安装 postgresql-client）。").arg(program);
    while (!p.waitForFinished(500) && p.state() != QProcess::NotRunning)
        whileRunning();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QStringLiteral("%1 失败：%2").arg(program, QString::fromLocal8Bit(p.readAllStandardError()).trimmed());
    return {};
}

} // namespace korvela::admin::copies
