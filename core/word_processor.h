#pragma once

#include "core/status.h"

#include <QString>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace korvela {

// The two events of the word processor. They are delivered on the user-interface thread; when a
// call of the program raises them (closing or saving the document), they run nested inside that
// call. A close or save started in the word processor's own window arrives a moment later.
class WordProcessorEvents
{
public:
    virtual ~WordProcessorEvents() = default;
    // Before any document of the instance closes, by the user or by a call. Setting cancel stops it.
    virtual void documentBeforeClose(bool& cancel) = 0;
    // Before any save or save-as of a document of the instance. Setting cancel refuses it silently.
    virtual void documentBeforeSave(bool saveAs, bool& cancel) = 0;
};

using PlaceholderValues = std::vector<std::pair<QString, QString>>;

// One private word-processor instance. Documents are addressed as "the report document": the one
// last opened by openDocument().
class WordProcessor
{
public:
    virtual ~WordProcessor() = default;

    // A new invisible instance of the program's own, sending its events to `events`.
    virtual Status start(WordProcessorEvents* events) = 0;
    // Switches off what would interrupt a user or change a report behind their back.
    virtual Status switchOffOptions() = 0;
    // False once the instance has ended (quit, or killed by the user).
    virtual bool isRunning() const = 0;

    // Opens a document for editing, hidden, as the report document.
    virtual Status openDocument(const QString& path) = 0;
    virtual bool hasOpenDocument() const = 0;
    // Replaces every occurrence of each placeholder in the report document's text in one pass, so
    // a value is never searched again for a later placeholder. Placeholders match without regard
    // to letter case; half-width and full-width forms are told apart.
    virtual Status replacePlaceholders(const PlaceholderValues& values) = 0;
    // Leaves no text selected, the cursor near the start of the document.
    virtual Status collapseSelection() = 0;
    // Protects the report document for reading only; lifting it needs the password.
    virtual Status protectReadOnly(const QString& password) = 0;
    // Writes the report document under `path` in the Word 97-2003 format, with the protection
    // asked for. Raises documentBeforeSave first; a refused save fails. The report document
    // itself stays what it was: the file it was opened from is not written.
    virtual Status saveAs(const QString& path) = 0;
    // Closes the report document without saving; raises documentBeforeClose first. Called again
    // from inside that event, or for a document already closed, it succeeds and does nothing more.
    virtual Status closeDocument() = 0;

    virtual Status setVisible(bool visible) = 0;
    virtual Status showMaximized() = 0;
    // Ends the instance without saving anything.
    virtual Status quit() = 0;
};

// Makes the program's word-processor instance; called at load and again when the instance the
// user ended has to be replaced.
using WordProcessorFactory = std::function<std::unique_ptr<WordProcessor>()>;

} // namespace korvela
