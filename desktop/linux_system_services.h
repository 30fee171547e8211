#pragma once

#include "core/system_services.h"

namespace korvela {

class LinuxSystemServices final : public SystemServices
{
public:
    // `lockPath` is the file whose lock marks a running copy; by default one per user and
    // program folder in the user's runtime folder.
    explicit LinuxSystemServices(QString programFolder, QString lockPath = {});
    ~LinuxSystemServices() override;
    LinuxSystemServices(const LinuxSystemServices&) = delete;
    LinuxSystemServices& operator=(const LinuxSystemServices&) = delete;

    bool acquireSingleInstance() override;
    int screenWidth() const override;
    QString programFolder() const override { return m_programFolder; }

    bool fileExists(const QString& path) const override;
    bool folderExists(const QString& path) const override;
    bool makeFolder(const QString& path) override;
    bool deleteFile(const QString& path) override;
    bool copyFile(const QString& from, const QString& to) override;

    void openUrl(const QString& url) override;
    void endProgram(int exitCode) override;

    static QString defaultLockPath(const QString& programFolder);

private:
    QString m_programFolder;
    QString m_lockPath;
    int m_lockFd = -1;
};

} // namespace korvela
