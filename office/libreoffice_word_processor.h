#pragma once

#include "core/word_processor.h"

#include <QString>
#include <chrono>
#include <memory>

namespace korvela {

namespace test {
class OfficeProbe;
}

struct LibreOfficeSettings
{
    // The instance's own profile: its settings, and what marks its processes as the program's.
    QString profileFolder;
    QString soffice = QStringLiteral("/usr/lib/libreoffice/program/soffice");
    std::chrono::milliseconds startTimeout{60000};
};

// LibreOffice Writer as the program's word processor: one private instance, started invisible,
// driven over a UNO connection. Its events reach the window on the user-interface thread: a save
// or close started in the office's window is posted there; a close or save the program itself
// makes raises its event at once, inside the call, as the window's logic expects.
class LibreOfficeWordProcessor final : public WordProcessor
{
public:
    explicit LibreOfficeWordProcessor(LibreOfficeSettings settings);
    ~LibreOfficeWordProcessor() override;
    LibreOfficeWordProcessor(const LibreOfficeWordProcessor&) = delete;
    LibreOfficeWordProcessor& operator=(const LibreOfficeWordProcessor&) = delete;

    // The profile of the program installed in `programFolder`, in the user's data folder.
    static QString defaultProfileFolder(const QString& programFolder);

    // Ends an instance of the same profile left behind by an earlier run (never another
    // LibreOffice), then starts the office and returns without waiting for it, so that it boots
    // while the program does other work. start() waits for it; it launches itself if needed.
    Status launch();

    Status start(WordProcessorEvents* events) override;
    Status switchOffOptions() override;
    bool isRunning() const override;
    Status openDocument(const QString& path) override;
    bool hasOpenDocument() const override;
    Status replacePlaceholders(const PlaceholderValues& values) override;
    Status collapseSelection() override;
    Status protectReadOnly(const QString& password) override;
    Status saveAs(const QString& path) override;
    Status closeDocument() override;
    Status setVisible(bool visible) override;
    Status showMaximized() override;
    Status quit() override;

private:
    // The probe of the tests and the document benchmark reads the state of the instance the
    // program itself never asks for: the document's text, its window, the office's process
    // (tests/support/office_probe.h).
    friend class test::OfficeProbe;

    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace korvela
