#include "desktop/qt_file_chooser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace korvela {

QString QtFileChooser::saveFileName(const SaveFileQuestion& question)
{
    const QString folder = m_folder.isEmpty() ? QDir::homePath() : m_folder;
    const QString path = QFileDialog::getSaveFileName(
        m_parent, question.caption, folder + u'/' + question.suggestedName, question.filter);
    if (!path.isEmpty())
        m_folder = QFileInfo(path).absolutePath();
    return path;
}

} // namespace korvela
