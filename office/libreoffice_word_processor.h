#pragma once

#include "core/word_processor.h"

#include <QString>
#include <chrono>
#include <memory>
#include <optional>

namespace korvela {

struct LibreOfficeSettings
{
    // The instance's own profile: its settings, and what marks its processes as the program's.
    QString profileFolder;
    QString soffice = QStringLiteral("/usr/lib/libreoffice/program/soffice");
    std::chrono::milliseconds startTimeout{60000};
};

// What reopening a file in LibreOffice shows, the way a user opens it.
struct ReopenedFile
{
    bool readOnly = false;            // it opened refusing edits
    bool askedPasswordToEdit = false; // "Edit Document" asked for the password that lifts that
    bool editableAfterwards = false;  // and the password given made it editable
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

    // For checks of what the office holds. The whole text of the report document: body, tables,
    // frames, headers and footers, paragraphs separated by "\n".
    Result<QString> documentText() const;
    // Carries out an office command in the report document's window, the way its menus, toolbar
    // and shortcuts do (".uno:Save", ".uno:CloseDoc" ...).
    Status dispatchInDocumentWindow(const QString& command);
    // Whether the report document's window is on screen, and maximised.
    bool documentWindowVisible() const;
    bool documentWindowMaximized() const;
    // Opens a file hidden, as a user would, and closes it again. With `passwordToEdit` it then
    // presses "Edit Document" and answers the office's question for the password with it.
    Result<ReopenedFile> reopen(const QString& path, const std::optional<QString>& passwordToEdit);
    // The soffice.bin process of the instance, -1 when there is none.
    qint64 officeProcessId() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace korvela
