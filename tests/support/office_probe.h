#pragma once

#include "core/status.h"
#include "office/libreoffice_word_processor.h"

#include <QString>
#include <QtGlobal>
#include <optional>

namespace korvela::test {

// What reopening a file in LibreOffice shows, the way a user opens it.
struct ReopenedFile
{
    bool readOnly = false;            // it opened refusing edits
    bool askedPasswordToEdit = false; // "Edit Document" asked for the password that lifts that
    bool editableAfterwards = false;  // and the password given made it editable
};

// Looks into the office behind a LibreOfficeWordProcessor for checks of what it holds and shows,
// and acts in its windows the way a user does. Holds a reference only: made per call or per
// test, it sees the instance's state as it is at each call.
class OfficeProbe
{
public:
    explicit OfficeProbe(LibreOfficeWordProcessor& office)
        : m_office(office)
    {
    }

    // The whole text of the report document: body, tables, frames, headers and footers,
    // paragraphs separated by "\n".
    Result<QString> documentText() const;
    // Carries out an office command in the report document's window, the way its menus, toolbar
    // and shortcuts do (".uno:Save", ".uno:CloseDoc" ...).
    Status dispatchInDocumentWindow(const QString& command);
    // Whether the report document's window is on screen, and maximised. The document benchmark
    // waits on the first for the shown report to answer again.
    bool documentWindowVisible() const;
    bool documentWindowMaximized() const;
    // Opens a file hidden, as a user would, and closes it again. With `passwordToEdit` it then
    // presses "Edit Document" and answers the office's question for the password with it.
    Result<ReopenedFile> reopen(const QString& path, const std::optional<QString>& passwordToEdit);
    // The soffice.bin process of the instance, -1 when there is none.
    qint64 officeProcessId() const;

private:
    LibreOfficeWordProcessor& m_office;
};

} // namespace korvela::test
