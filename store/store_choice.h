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

// What move-to-server leaves of Data/Data.Dat once its reports are on the server:
// "Data.Dat.moved-to-server-<yyyyMMdd-HHmmss>", kept and never opened again.
inline constexpr char kMovedToServer[] = ".moved-to-server-";

// Where the reports of a program folder are.
struct StoreChoice
{
    enum class Kind { File, Server };
    Kind kind = Kind::File;
    QString file;        // File: <program folder>/Data/Data.Dat
    QString serviceFile; // Server: the service file whose [korvela] section was taken
    // Server: as the section names them; empty when it does not (libpq's defaults then).
    QString host;
    QString port;
    QString database;

    // For messages and the log: "文件 <path>", or
    // "服务器 <host>:<port>/<database>（连接服务 korvela，<service file>）".
    QString description() const;
};

// The one decision every program and command takes its store from: the server of the service
// korvela when a service file defines it (the first file in libpq's order that does), else the
// folder's Data/Data.Dat. Refused rather than falling back to the file when a service file exists
// but defines no [korvela] (a misspelt section would otherwise send the reports to a stale local
// file), when the [korvela] section is empty or holds a line libpq cannot read, and when Data.Dat
// was moved to a server (only a Data.Dat.moved-to-server-* is left) but no service is configured.
Result<StoreChoice> chooseStore(const QString& programFolder);

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

// The chosen store, open: Data/Data.Dat is refused on a network file system (a SQLite database in
// WAL mode must be used from one computer). Locks are waited for up to `lockTimeout`.
Result<std::unique_ptr<ReportDatabase>> openReportStore(const QString& programFolder,
                                                        std::chrono::milliseconds lockTimeout,
                                                        StoreAccess access = StoreAccess::ReadWrite);
// The same store opened for korvela-admin's work on it.
Result<std::unique_ptr<AdminStore>> openAdminStore(const StoreChoice& choice,
                                                   std::chrono::milliseconds lockTimeout, StoreAccess access);
// The chosen store's description, or why none could be chosen, for messages and the log.
QString reportStoreName(const QString& programFolder);

} // namespace korvela
