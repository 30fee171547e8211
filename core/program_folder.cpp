#include "core/program_folder.h"

#include <QCryptographicHash>
#include <QDir>

namespace korvela {

QString programFolderKey(const QString& folder)
{
    QString path = QDir(folder).canonicalPath();
    if (path.isEmpty())
        path = QDir::cleanPath(QDir(folder).absolutePath());
    return QString::fromLatin1(QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
}

} // namespace korvela
