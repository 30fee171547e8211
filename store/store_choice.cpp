#include "store/store_choice.h"

#include "store/admin_store.h"
#include "store/postgres_database.h"
#include "store/sqlite_database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/vfs.h>

namespace korvela {

QString serviceConnection()
{
    return QStringLiteral("service=") + QString::fromLatin1(kServiceName);
}

QStringList serviceFiles()
{
    QStringList files;
    if (const QString user = qEnvironmentVariable("PGSERVICEFILE"); !user.isEmpty())
        files << user;
    else
        files << QDir::homePath() + u"/.pg_service.conf";
    const QString system = qEnvironmentVariable("PGSYSCONFDIR", QStringLiteral("/etc/postgresql-common"));
    files << system + u"/pg_service.conf";
    return files;
}

bool serverServiceConfigured()
{
    const QString header = u'[' + QString::fromLatin1(kServiceName) + u']';
    for (const QString& path : serviceFiles()) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        while (!f.atEnd())
            if (QString::fromUtf8(f.readLine()).trimmed() == header)
                return true;
    }
    return false;
}

std::optional<QString> networkFileSystemType(long type)
{
    // statfs(2) magic numbers of the file systems that reach another computer.
    struct Kind
    {
        unsigned long magic;
        const char* name;
    };
    static constexpr Kind kinds[] = {
        {0x6969, "NFS"},
        {0x517B, "SMB"},
        {0xFF534D42, "CIFS"},
        {0xFE534D42, "SMB2"},
        {0x65735546, "FUSE (sshfs and the like)"},
        {0x564C, "NCP"},
        {0x6B414653, "AFS"},
        {0x5346414F, "OpenAFS"},
        {0x00C36400, "Ceph"},
        {0x47504653, "GPFS"},
        {0x01021997, "9P"},
        {0x73757245, "Coda"},
        {0x0BD00BD0, "Lustre"},
    };
    for (const Kind& k : kinds)
        if ((static_cast<unsigned long>(type) & 0xFFFFFFFFUL) == k.magic)
            return QString::fromLatin1(k.name);
    return std::nullopt;
}

std::optional<long> fileSystemType(const QString& existingPath)
{
    struct statfs fs {};
    if (statfs(QFile::encodeName(existingPath).constData(), &fs) != 0)
        return std::nullopt;
    return long(fs.f_type);
}

std::optional<QString> networkFileSystem(const QString& path, const FileSystemTypeOf& typeOf)
{
    // The folder decides when the file itself is missing.
    QString existing = QFileInfo(path).absoluteFilePath();
    while (!QFileInfo::exists(existing) && existing.size() > 1)
        existing = QFileInfo(existing).absolutePath();
    const std::optional<long> type = typeOf(existing);
    if (!type)
        return std::nullopt;
    return networkFileSystemType(*type);
}

QString databasePath(const QString& programFolder)
{
    return programFolder + u"/Data/Data.Dat";
}

QString reportStoreName(const QString& programFolder)
{
    return serverServiceConfigured() ? QStringLiteral("service ") + QString::fromLatin1(kServiceName)
                                     : databasePath(programFolder);
}

namespace {

// The configured store, open as its engine's own class, handed to `keep`, which gives what the
// caller keeps of it.
template <typename Keep>
auto openStore(const QString& programFolder, std::chrono::milliseconds lockTimeout, StoreAccess access,
               Keep keep) -> decltype(keep(std::unique_ptr<SqliteReportDatabase>(), QString()))
{
    if (serverServiceConfigured()) {
        auto server = std::make_unique<PostgresReportDatabase>();
        if (Status s = server->open(serviceConnection(), lockTimeout, access); !s)
            return s.failure();
        return keep(std::move(server), serviceConnection());
    }
    const QString file = databasePath(programFolder);
    if (const std::optional<QString> network = networkFileSystem(file))
        return Failure{FailureCode::DatabaseOnNetwork,
                       QStringLiteral("数据库文件 %1 位于网络文件系统（%2）上，多台计算机共用会损坏报告。"
                                      "多个工作站请使用数据库服务器。")
                           .arg(file, *network)};
    auto embedded = std::make_unique<SqliteReportDatabase>();
    if (Status s = embedded->open(file, lockTimeout, access); !s)
        return s.failure();
    return keep(std::move(embedded), file);
}

} // namespace

Result<std::unique_ptr<ReportDatabase>> openReportStore(const QString& programFolder,
                                                        std::chrono::milliseconds lockTimeout, StoreAccess access)
{
    return openStore(programFolder, lockTimeout, access,
                     [](auto db, const QString&) -> Result<std::unique_ptr<ReportDatabase>> {
                         return std::unique_ptr<ReportDatabase>(std::move(db));
                     });
}

Result<std::unique_ptr<AdminStore>> openAdminStore(const QString& programFolder,
                                                   std::chrono::milliseconds lockTimeout, StoreAccess access)
{
    return openStore(programFolder, lockTimeout, access,
                     [](auto db, const QString& where) -> Result<std::unique_ptr<AdminStore>> {
                         return administer(std::move(db), where);
                     });
}

} // namespace korvela
