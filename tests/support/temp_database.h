#pragma once

#include "store/sqlite_database.h"

#include <QTemporaryDir>

namespace korvela::test {

// A program folder in a temporary directory with Data/Data.Dat made from the real schema: as setup
// makes it (the program's version, history and all), or as today's stores are before an upgrade.
class TempProgramFolder
{
public:
    enum class Schema { Current, BeforeHistory };
    explicit TempProgramFolder(Schema schema = Schema::Current);
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
