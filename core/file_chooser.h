#pragma once

#include <QString>

namespace korvela {

// Where to save a file: the dialog's title, the file name it suggests and the kinds of file it
// offers ("CSV文件 (*.csv)").
struct SaveFileQuestion
{
    QString caption;
    QString suggestedName;
    QString filter;
};

// Every file dialog of the program goes through here, so tests can answer them.
class FileChooser
{
public:
    virtual ~FileChooser() = default;
    // The path chosen, or empty when the user cancelled.
    virtual QString saveFileName(const SaveFileQuestion& question) = 0;
};

} // namespace korvela
