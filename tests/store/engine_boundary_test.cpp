// The source tree keeps the database engines behind store/: every SQLite and libpq call is made
// there (the tests, benchmarks and fuzz targets may make their own), and nothing outside it casts
// a report database to its engine's class.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

const QString kRoot = QStringLiteral(KORVELA_SOURCE_DIR);

// The classes and structs store/'s headers define (not those they only declare).
QStringList storeClasses()
{
    static const QRegularExpression definition(QStringLiteral("^(?:class|struct)\\s+(\\w+)[^;]*$"),
                                               QRegularExpression::MultilineOption);
    QStringList names;
    for (const QString& header : QDir(kRoot + u"/store").entryList({QStringLiteral("*.h")}, QDir::Files)) {
        QFile f(kRoot + u"/store/" + header);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << header.toStdString();
        for (auto m = definition.globalMatch(QString::fromUtf8(f.readAll())); m.hasNext();)
            names << m.next().captured(1);
    }
    return names;
}

// A folder of the tree that is a build tree rather than source.
bool isBuildTree(const QString& folder)
{
    return QFile::exists(kRoot + u'/' + folder + u"/CMakeCache.txt");
}

TEST(EngineBoundary, OnlyTheStoreCallsTheEnginesAndCastsToTheirClasses)
{
    const QStringList classes = storeClasses();
    ASSERT_TRUE(classes.contains(QStringLiteral("SqliteReportDatabase")) &&
                classes.contains(QStringLiteral("PostgresReportDatabase")));
    const QRegularExpression engineCall(QStringLiteral("sqlite3_[a-z_]+\\(|PQ[a-z][A-Za-z]+\\("));
    const QRegularExpression storeCast(
        QStringLiteral("dynamic_cast\\s*<[^>]*\\b(%1)\\b").arg(classes.join(u'|')));
    const QStringList ownEngineCalls = {QStringLiteral("store"), QStringLiteral("tests"),
                                        QStringLiteral("bench"), QStringLiteral("fuzz")};

    QStringList found;
    int files = 0;
    QDirIterator it(kRoot, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir(kRoot).relativeFilePath(it.next());
        const QString top = path.section(u'/', 0, 0);
        if (top.startsWith(u'.') || isBuildTree(top) || top == u"store")
            continue;
        QFile f(kRoot + u'/' + path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        ++files;
        const QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n');
        for (qsizetype n = 0; n < lines.size(); ++n)
            if ((!ownEngineCalls.contains(top) && engineCall.match(lines[n]).hasMatch()) ||
                storeCast.match(lines[n]).hasMatch())
                found << QStringLiteral("%1:%2: %3").arg(path).arg(n + 1).arg(lines[n].trimmed());
    }
    EXPECT_GT(files, 100) << "the source tree was not found at " << kRoot.toStdString();
    EXPECT_TRUE(found.isEmpty()) << "outside store/:\n" << found.join(u'\n').toStdString();
}

} // namespace
