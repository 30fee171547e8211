#pragma once

#include <QString>
#include <QStringList>
#include <chrono>
#include <sys/types.h>
#include <vector>

namespace korvela::lo {

// How the program's private LibreOffice is started and recognised. The profile folder makes it
// private: its settings are the program's own and it never joins a LibreOffice the user runs.
struct OfficeCommand
{
    QString soffice;
    QString profileFolder;
    QString pipeName;

    // -env:UserInstallation=file:///... and --accept=pipe,name=...;urp;... : either one on a
    // process's command line marks it as this profile's instance.
    QString profileArgument() const;
    QString acceptArgument() const;
    QStringList arguments() const;
};

// The pipe the instance of a profile listens on: one per user and profile.
QString pipeNameFor(const QString& profileFolder);

// Processes of this user whose command line carries the profile's or the pipe's argument exactly:
// an instance of this profile, typically left behind by a run of the program that crashed.
// Nothing else is ever matched, least of all a LibreOffice the user started.
std::vector<pid_t> findInstances(const OfficeCommand& command);

// Ends those processes (terminate, then kill after `grace`) and removes the profile's lock.
// Returns how many there were.
int endInstances(const OfficeCommand& command, std::chrono::milliseconds grace);

// Starts the office in a session of its own, output to `logFile`, no descriptor of ours
// inherited. Returns the pid of the launcher (our child) or -1 with errno set.
pid_t spawnOffice(const OfficeCommand& command, const QString& logFile);

// The soffice.bin process among the instance's processes, or -1.
pid_t findOfficeBinary(const OfficeCommand& command);

// Alive and not a zombie.
bool processAlive(pid_t pid);

// Reaps `child` if it has ended; true when it is gone.
bool reapChild(pid_t child);

// Seeds the profile's settings before the first start: no first-start screens, no tips, no
// autosave or recovery copies, no keep-format question, no macros, the user interface in
// Simplified Chinese. Settings the profile already holds are kept.
bool seedProfile(const QString& profileFolder);

} // namespace korvela::lo
