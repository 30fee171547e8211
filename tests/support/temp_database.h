#pragma once

#include "store/sqlite_database.h"

#include <QTemporaryDir>

namespace korvela::test {

// A program folder in a temporary directory with Data/Data.Dat made from the real schema.
class TempProgramFolder
{
public:
    TempProgramFolder();
    QString path() const { return m_dir.path(); }
    QString databaseFile() const { return m_dir.path() + u"/Data/Data.Dat"; }
    // Runs SQL directly on the file through a connection of its own.
    void exec(const QString& sql) const;
    // One value of the first row a query gives, as text ("<null>" for null).
    QString scalar(const QString& sql) const;

private:
    QTemporaryDir m_dir;
};

} // namespace korvela::test
