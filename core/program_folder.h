#pragma once

#include <QString>

namespace korvela {

// A short key that tells one program folder from another (16 hex digits of a hash of its
// canonical path): the single-instance lock, the office profile and its pipe are one per folder.
QString programFolderKey(const QString& folder);

} // namespace korvela
