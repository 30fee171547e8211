#include "office/libreoffice_process.h"

#include "core/program_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace korvela::lo {

using namespace std::chrono_literals;

namespace {

QByteArray readWhole(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QList<QByteArray> commandLine(pid_t pid)
{
    QList<QByteArray> args = readWhole(QStringLiteral("/proc/%1/cmdline").arg(pid)).split('\0');
    if (!args.isEmpty() && args.back().isEmpty())
        args.pop_back();
    return args;
}

uid_t ownerOf(pid_t pid)
{
    struct stat st
    {
    };
    if (::stat(QByteArray("/proc/" + QByteArray::number(pid)).constData(), &st) != 0)
        return static_cast<uid_t>(-1);
    return st.st_uid;
}

std::vector<pid_t> allProcesses()
{
    std::vector<pid_t> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool number = false;
        const int pid = entry.toInt(&number);
        if (number && pid > 0)
            pids.push_back(pid);
    }
    return pids;
}

void waitGone(const std::vector<pid_t>& pids, std::chrono::steady_clock::time_point deadline)
{
    for (pid_t pid : pids) {
        while (std::chrono::steady_clock::now() < deadline && !reapChild(pid) && processAlive(pid))
            std::this_thread::sleep_for(10ms);
    }
}

// The office reads and writes file names in the character set of its locale. A locale the
// system lacks (LANG=zh_CN.UTF-8 on a machine without it) leaves it with ASCII, unable to write a
// file named after a patient: it then gets the built-in UTF-8 locale instead.
std::vector<std::string> officeEnvironment()
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    const locale_t inherited = ::newlocale(LC_CTYPE_MASK, "", locale_t(nullptr));
    const bool utf8 = inherited && std::strcmp(::nl_langinfo_l(CODESET, inherited), "UTF-8") == 0;
    if (inherited)
        ::freelocale(inherited);
    if (!utf8) {
        std::erase_if(
            env, [](const std::string& v) { return v.starts_with("LC_ALL=") || v.starts_with("LC_CTYPE="); });
        env.emplace_back("LC_ALL=C.UTF-8");
    }
    return env;
}

} // namespace

QString OfficeCommand::profileArgument() const
{
    return u"-env:UserInstallation=" + QUrl::fromLocalFile(profileFolder).toString(QUrl::FullyEncoded);
}

QString OfficeCommand::acceptArgument() const
{
    return u"--accept=pipe,name=" + pipeName + u";urp;StarOffice.ComponentContext";
}

QStringList OfficeCommand::arguments() const
{
    // --invisible, not --headless: the report is shown in the office's own window later.
    return {soffice,
            profileArgument(),
            QStringLiteral("--invisible"),
            QStringLiteral("--nologo"),
            QStringLiteral("--norestore"),
            QStringLiteral("--nodefault"),
            QStringLiteral("--nolockcheck"),
            acceptArgument()};
}

QString pipeNameFor(const QString& profileFolder)
{
    return QStringLiteral("korvela_%1_%2").arg(::getuid()).arg(programFolderKey(profileFolder));
}

std::vector<pid_t> findInstances(const OfficeCommand& command)
{
    const QByteArray profile = command.profileArgument().toUtf8();
    const QByteArray accept = command.acceptArgument().toUtf8();
    const uid_t me = ::getuid();
    std::vector<pid_t> found;
    for (pid_t pid : allProcesses()) {
        if (pid == ::getpid() || ownerOf(pid) != me)
            continue;
        for (const QByteArray& arg : commandLine(pid)) {
            if (arg == profile || arg == accept) {
                found.push_back(pid);
                break;
            }
        }
    }
    return found;
}

int endInstances(const OfficeCommand& command, std::chrono::milliseconds grace)
{
    const std::vector<pid_t> strays = findInstances(command);
    if (strays.empty())
        return 0;
    for (pid_t pid : strays)
        ::kill(pid, SIGTERM);
    waitGone(strays, std::chrono::steady_clock::now() + grace);
    for (pid_t pid : strays) {
        if (processAlive(pid))
            ::kill(pid, SIGKILL);
    }
    waitGone(strays, std::chrono::steady_clock::now() + 5s);
    // The lock of an instance that was killed would make the next one ask about it.
    QFile::remove(command.profileFolder + u"/user/.lock");
    return static_cast<int>(strays.size());
}

pid_t spawnOffice(const OfficeCommand& command, const QString& logFile)
{
    std::vector<QByteArray> args;
    for (const QString& a : command.arguments())
        args.push_back(a.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray log = QFile::encodeName(logFile);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    // The office may outlive a crashed program: it must not hold the program's files or locks.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own: signals meant for the program's terminal do not reach it.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::vector<std::string> environment = officeEnvironment();
    std::vector<char*> envp;
    for (std::string& v : environment)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    return pid;
}

pid_t findOfficeBinary(const OfficeCommand& command)
{
    // The launcher starts soffice.bin with the same arguments.
    for (pid_t pid : findInstances(command)) {
        const QList<QByteArray> args = commandLine(pid);
        if (!args.isEmpty() && QFileInfo(QFile::decodeName(args.front())).fileName() == u"soffice.bin")
            return pid;
    }
    return -1;
}

bool processAlive(pid_t pid)
{
    if (pid <= 0)
        return false;
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return false;
    // A zombie answers kill(0) but is gone: its state follows the command name in /proc/pid/stat.
    const QByteArray stat = readWhole(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    return !(close >= 0 && close + 2 < stat.size() && stat.at(close + 2) == 'Z');
}

bool reapChild(pid_t child)
{
    if (child <= 0)
        return true;
    const pid_t rc = ::waitpid(child, nullptr, WNOHANG);
    return rc == child || (rc < 0 && errno == ECHILD && !processAlive(child));
}

bool seedProfile(const QString& profileFolder)
{
    const QString user = profileFolder + u"/user";
    const QString settings = user + u"/registrymodifications.xcu";
    if (QFileInfo::exists(settings))
        return true;
    if (!QDir().mkpath(user))
        return false;
    const auto item = [](const char* path, const char* name, const char* type,
                         const char* value) -> QByteArray {
        return QByteArray("<item oor:path=\"") + path + "\"><prop oor:name=\"" + name +
               "\" oor:op=\"fuse\" oor:type=\"" + type + "\"><value>" + value + "</value></prop></item>\n";
    };
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
                     "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
                     "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
    // The first showing of a report is not interrupted by welcome screens or tips.
    xml += item("/org.openoffice.Office.Common/Misc", "FirstRun", "xs:boolean", "false");
    xml += item("/org.openoffice.Office.Common/Misc", "ShowTipOfTheDay", "xs:boolean", "false");
    xml += item("/org.openoffice.Setup/Office", "ooSetupInstCompleted", "xs:boolean", "true");
    xml += item("/org.openoffice.Setup/Product", "ooSetupLastVersion", "xs:string", "99.0");
    xml += item("/org.openoffice.Setup/Product", "LastTimeDonateShown", "xs:long", "9999999999");
    xml += item("/org.openoffice.Setup/Product", "LastTimeGetInvolvedShown", "xs:long", "9999999999");
    // The window speaks the program's language.
    xml += item("/org.openoffice.Setup/L10N", "ooLocale", "xs:string", "zh-CN");
    xml += item("/org.openoffice.Office.Linguistic/General", "UILocale", "xs:string", "zh-CN");
    // No copies of patient reports behind the user's back, no recovery dialog after a crash.
    xml += item("/org.openoffice.Office.Recovery/AutoSave", "Enabled", "xs:boolean", "false");
    xml += item("/org.openoffice.Office.Recovery/RecoveryInfo", "Enabled", "xs:boolean", "false");
    xml += item("/org.openoffice.Office.Common/Save/Document", "WarnAlienFormat", "xs:boolean", "false");
    xml += item("/org.openoffice.Office.Writer/AutoFunction/Format/ByInput", "Enable", "xs:boolean", "false");
    // Templates never run code.
    xml += item("/org.openoffice.Office.Common/Security/Scripting", "MacroSecurityLevel", "xs:int", "3");
    xml += item("/org.openoffice.Office.Common/Security/Scripting", "DisableMacrosExecution", "xs:boolean",
                "true");
    xml += "</oor:items>\n";
    QSaveFile file(settings);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(xml);
    return file.commit();
}

} // namespace korvela::lo
