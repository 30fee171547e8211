#pragma once

#include <QString>

namespace korvela {

// The operating-system services the program relies on.
class SystemServices
{
public:
    virtual ~SystemServices() = default;

    // Takes the single-instance lock for the rest of the process's life. False when another copy
    // of the program holds it. The lock dies with the process, so a crash never blocks a start.
    virtual bool acquireSingleInstance() = 0;
    // Width of the screen that will show the main window, in the pixels the window is laid out in.
    virtual int screenWidth() const = 0;
    // The folder that holds the executable, without a trailing separator.
    virtual QString programFolder() const = 0;

    // An ordinary file (not a folder) exists at the path.
    virtual bool fileExists(const QString& path) const = 0;
    virtual bool folderExists(const QString& path) const = 0;
    virtual bool makeFolder(const QString& path) = 0;
    virtual bool deleteFile(const QString& path) = 0;
    virtual bool copyFile(const QString& from, const QString& to) = 0;

    // Opens a web address in the user's browser and returns at once.
    virtual void openUrl(const QString& url) = 0;
    // Ends the program: no code of the program runs after it.
    virtual void endProgram(int exitCode) = 0;
};

} // namespace korvela
