#include "store/store_choice.h"

#include "core/failure_codes.h"
#include "store/admin_store.h"
#include "store/postgres_database.h"
#include "store/schema_version.h"
#include "store/sqlite_database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <libpq-fe.h>
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

namespace {

// The keywords libpq takes in a connection string, and so in a service file.
QSet<QString> connectionKeywords()
{
    QSet<QString> keywords;
    PQconninfoOption* options = PQconndefaults();
    for (const PQconninfoOption* o = options; o && o->keyword; ++o)
        keywords.insert(QString::fromLatin1(o->keyword));
    PQconninfoFree(options);
    return keywords;
}

// One service file read as libpq reads it: lines trimmed at both ends, blank lines and those
// starting with # skipped, "[name]" opening a section; in the section of the service sought,
// every other line is keyword=value with nothing around the keyword.
struct ServiceFile
{
    QString path;
    QStringList sections; // "[name]" as written, in order
    std::optional<StoreChoice> service;
};

Result<ServiceFile> readServiceFile(const QString& path)
{
    ServiceFile read{path, {}, {}};
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return Failure{FailureCode::ServiceFileUnusable,
                       QStringLiteral("无法读取连接服务文件 %1（%2）。").arg(path, f.errorString())};
    const QString header = u'[' + QString::fromLatin1(kServiceName) + u']';
    static const QSet<QString> keywords = connectionKeywords();
    int headerLine = 0;
    int settings = 0;
    bool inService = false;
    for (int number = 1; !f.atEnd(); ++number) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            if (inService)
                break; // libpq reads the first section of the name only
            const qsizetype close = line.indexOf(u']');
            read.sections << (close < 0 ? line : line.left(close + 1));
            if (line.startsWith(header)) {
                inService = true;
                headerLine = number;
                read.service = StoreChoice{StoreChoice::Kind::Server, {}, path, {}, {}, {}};
            }
            continue;
        }
        if (!inService)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        const QString keyword = line.left(equals);
        if (equals < 0 || keyword == u"service" || !keywords.contains(keyword))
            return Failure{
                FailureCode::ServiceFileUnusable,
                QStringLiteral("连接服务文件 %1 第 %2 行“%3”无法识别：连接服务 %4 中每行应为 libpq 的"
                               "“参数=值”（如 host=reports.example-hospital.cn，等号两边不留空格），"
                               "或以 # 开头的注释、空行。")
                    .arg(path, QString::number(number), line, header)};
        ++settings;
        const QString value = line.mid(equals + 1);
        if (keyword == u"host")
            read.service->host = value;
        else if (keyword == u"port")
            read.service->port = value;
        else if (keyword == u"dbname")
            read.service->database = value;
    }
    if (read.service && settings == 0)
        return Failure{
            FailureCode::ServiceFileUnusable,
            QStringLiteral("连接服务文件 %1 第 %2 行的连接服务 %3 是空的：其中没有 host、dbname、user "
                           "等设置，不知道报告在哪台服务器上。")
                .arg(path, QString::number(headerLine), header)};
    return read;
}

// Data/Data.Dat.moved-to-server-*, when move-to-server left one.
QStringList movedFiles(const QString& programFolder)
{
    const QFileInfo data(databasePath(programFolder));
    return data.dir().entryList({data.fileName() + QString::fromLatin1(kMovedToServer) + u'*'}, QDir::Files,
                                QDir::Name);
}

} // namespace

QString StoreChoice::description() const
{
    if (kind == Kind::File)
        return QStringLiteral("文件 ") + file;
    QString server = host.isEmpty() ? QStringLiteral("本机") : host;
    if (!port.isEmpty())
        server += u':' + port;
    if (!database.isEmpty())
        server += u'/' + database;
    return QStringLiteral("服务器 %1（连接服务 %2，%3）")
        .arg(server, QString::fromLatin1(kServiceName), serviceFile);
}

Result<StoreChoice> chooseStore(const QString& programFolder)
{
    QStringList without; // the service files there are, none defining the service
    for (const QString& path : serviceFiles()) {
        if (!QFileInfo::exists(path))
            continue;
        Result<ServiceFile> read = readServiceFile(path);
        if (!read)
            return read.failure();
        if (read->service)
            return *read->service;
        without << QStringLiteral("%1（其中%2）")
                       .arg(path, read->sections.isEmpty() ? QStringLiteral("没有任何连接服务")
                                                           : QStringLiteral("的连接服务：") +
                                                                 read->sections.join(QStringLiteral("、")));
    }
    const QString header = u'[' + QString::fromLatin1(kServiceName) + u']';
    if (!without.isEmpty())
        return Failure{
            FailureCode::ServiceFileUnusable,
            QStringLiteral("连接服务文件 %1中没有定义连接服务 %2。报告若在服务器上，请把该节改名为 %2；"
                           "本工作站若只用本机的报告数据库 %3，请移走该文件。在此之前不打开任何报告数据库，"
                           "以免把报告写进另一个数据库。")
                .arg(without.join(QStringLiteral("、")), header, databasePath(programFolder))};
    StoreChoice file;
    file.file = databasePath(programFolder);
    if (const QStringList moved = movedFiles(programFolder);
        !QFileInfo::exists(file.file) && !moved.isEmpty())
        return Failure{
            FailureCode::StoreMovedToServer,
            QStringLiteral("本程序文件夹的报告已由 korvela-admin move-to-server 搬到数据库服务器上（原来的 "
                           "%1 已改名为 %2），但本用户没有配置连接服务 %3：%4 中都没有定义它。请在其中之一"
                           "写入 %3 一节（见 man korvela-admin）。")
                .arg(file.file, moved.last(), header, serviceFiles().join(QStringLiteral("、")))};
    return file;
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
    const Result<StoreChoice> choice = chooseStore(programFolder);
    return choice ? choice->description() : choice.failure().description;
}

namespace {

// The chosen store, open as its engine's own class, handed to `keep`, which gives what the
// caller keeps of it.
template <typename Keep>
auto openStore(const StoreChoice& choice, std::chrono::milliseconds lockTimeout, StoreAccess access,
               Keep keep) -> decltype(keep(std::unique_ptr<SqliteReportDatabase>(), QString()))
{
    if (choice.kind == StoreChoice::Kind::Server) {
        auto server = std::make_unique<PostgresReportDatabase>();
        if (Status s = server->open(serviceConnection(), lockTimeout, access); !s)
            return s.failure();
        return keep(std::move(server), serviceConnection());
    }
    const QString& file = choice.file;
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
    const Result<StoreChoice> choice = chooseStore(programFolder);
    if (!choice)
        return choice.failure();
    return openStore(*choice, lockTimeout, access,
                     [](auto db, const QString&) -> Result<std::unique_ptr<ReportDatabase>> {
                         // The programs write and read the history beside the reports.
                         if (Status s = requireCurrentSchema(*db); !s)
                             return s.failure();
                         return std::unique_ptr<ReportDatabase>(std::move(db));
                     });
}

Result<std::unique_ptr<AdminStore>> openAdminStore(const StoreChoice& choice,
                                                   std::chrono::milliseconds lockTimeout, StoreAccess access)
{
    return openStore(choice, lockTimeout, access,
                     [](auto db, const QString& where) -> Result<std::unique_ptr<AdminStore>> {
                         return administer(std::move(db), where);
                     });
}

} // namespace korvela
