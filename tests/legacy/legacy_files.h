#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QString>

#include <initializer_list>
#include <vector>

namespace korvela::test {

// The old program's Data.Dat of tests/data/legacy (a copy of the shared fixture, 208 reports) and
// files made from it the way damage, mistakes and years of use make them. Offsets are of that
// file (Jet 4, 4096-byte pages): table A's definition on page 24, its catalog row on page 14, its
// data pages 26, 29 to 39 and 41 in the usage map's order.
QString legacyDataFile(); // tests/data/legacy/Data.Dat
QByteArray legacyFile();
// The 27 values of each report as the old program showed them, in the file's row order.
std::vector<QJsonArray> expectedReports();
// A file of the shared fixtures (../shared/fixtures/legacy beside the source tree), or an empty
// text when that folder is absent.
QString sharedLegacyFile(const QString& name);

inline constexpr qint64 kPage = 4096;
inline constexpr qint64 kTableDefinition = 24 * kPage;
inline constexpr qint64 kDeclaredRows = kTableDefinition + 16;     // 4 bytes
inline constexpr qint64 kDateColumnType = kTableDefinition + 363;  // A13's type byte (Date/Time)
inline constexpr qint64 kDateColumnName = kTableDefinition + 818;  // "A13" in UTF-16
inline constexpr qint64 kCatalogNameOfA = 14 * kPage + 2427 + 32;  // "A" in MSysObjects, UTF-16
inline constexpr qint64 kLastDataPage = 41 * kPage;
inline constexpr qint64 kDateOfReport206 = 168627; // 2038-01-19 as Jet's double
inline constexpr int kReportsOnPage29 = 16;

struct Patch
{
    qint64 at;
    QByteArray bytes;
};
QByteArray patched(QByteArray file, std::initializer_list<Patch> patches);
// Every bit of `count` bytes from `at` turned over.
QByteArray flipped(QByteArray file, qint64 at, qint64 count);
QByteArray littleEndian16(int value);
QByteArray littleEndian32(qint64 value);
QByteArray jetDouble(double value);
// Page 30 of table A replaced by a copy of page 29, its definition's count made to match: the 16
// reports of page 29 are in the file twice, one after the other (reports 16 to 31 and 32 to 47).
QByteArray fileWithTwins();
// Every report of table A deleted and none declared.
QByteArray fileWithoutReports();

void writeFile(const QString& path, const QByteArray& bytes);

} // namespace korvela::test
