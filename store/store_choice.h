#pragma once

#include "core/database.h"
#include "store/admin_store.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace korvela {

// A department points its workstations at its report server with the libpq connection service
// of this name; without it the reports are in the program folder's Data/Data.Dat.
inline constexpr char kServiceName[] = "korvela";
// "service=korvela"
QString serviceConnection();

// The service files libpq reads, in its order: the user's (PGSERVICEFILE, else
// ~/.pg_service.conf), then the system's (PGSYSCONFDIR, else Debian's /etc/postgresql-common,
// /pg_service.conf).
QStringList serviceFiles();
// Whether one of them defines the service "korvela". The connecting itself is libpq's.
bool serverServiceConfigured();

// The file system type statfs() reports for an existing path; nothing when it cannot tell.
std::optional<long> fileSystemType(const QString& existingPath);
using FileSystemTypeOf = std::function<std::optional<long>(const QString& existingPath)>;

// The kind of network file system `path` lies on ("NFS", "SMB/CIFS", "FUSE (sshfs ...)", ...),
// or nothing for a local one. A path that does not exist yet lies where its nearest existing
// folder lies.
std::optional<QString> networkFileSystem(const QString& path,
                                         const FileSystemTypeOf& typeOf = fileSystemType);
// The same for a file system type as statfs() reports it.
std::optional<QString> networkFileSystemType(long type);

// "<program folder>/Data/Data.Dat"
QString databasePath(const QString& programFolder);

// The configured store, open: the server named by the service "korvela" when one is configured,
// else Data/Data.Dat, which is refused on a network file system (a SQLite database in WAL mode
// must be used from one computer). Locks are waited for up to `lockTimeout`.
Result<std::unique_ptr<ReportDatabase>> openReportStore(const QString& programFolder,
                                                        std::chrono::milliseconds lockTimeout,
                                                        StoreAccess access = StoreAccess::ReadWrite);
// The same store opened for korvela-admin's work on it.
Result<std::unique_ptr<AdminStore>> openAdminStore(const QString& programFolder,
                                                   std::chrono::milliseconds lockTimeout, StoreAccess access);
// What openReportStore() opens, for messages and the log: "service korvela" or the file's path.
QString reportStoreName(const QString& programFolder);

} // namespace korvela
