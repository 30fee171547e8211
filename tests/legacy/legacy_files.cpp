#include "legacy/legacy_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <gtest/gtest.h>

#include <cstring>

namespace korvela::test {

QString legacyDataFile()
{
    return QStringLiteral(KORVELA_SOURCE_DIR "/tests/data/legacy/Data.Dat");
}

QByteArray legacyFile()
{
    QFile file(legacyDataFile());
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << "missing " << legacyDataFile().toStdString();
    return file.readAll();
}

std::vector<QJsonArray> expectedReports()
{
    QFile file(legacyDataFile() + u".expected.jsonl");
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    std::vector<QJsonArray> rows;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (!line.isEmpty())
            rows.push_back(QJsonDocument::fromJson(line).array());
    }
    return rows;
}

QString sharedLegacyFile(const QString& name)
{
    const QString path = QDir::cleanPath(QStringLiteral(KORVELA_SOURCE_DIR "/../shared/fixtures/legacy/") + name);
    return QFileInfo::exists(path) ? path : QString();
}

QByteArray patched(QByteArray file, std::initializer_list<Patch> patches)
{
    for (const Patch& p : patches)
        file.replace(p.at, p.bytes.size(), p.bytes);
    return file;
}

QByteArray flipped(QByteArray file, qint64 at, qint64 count)
{
    for (qint64 i = at; i < at + count; ++i)
        file[i] = char(~file[i]);
    return file;
}

QByteArray littleEndian16(int value)
{
    QByteArray bytes(2, '\0');
    bytes[0] = char(value & 0xFF);
    bytes[1] = char((value >> 8) & 0xFF);
    return bytes;
}

QByteArray littleEndian32(qint64 value)
{
    return littleEndian16(int(value & 0xFFFF)) + littleEndian16(int((value >> 16) & 0xFFFF));
}

QByteArray jetDouble(double value)
{
    QByteArray bytes(8, '\0');
    std::memcpy(bytes.data(), &value, 8);
    return bytes;
}

namespace {

int rowsOnPage(const QByteArray& file, qint64 page)
{
    const auto* p = reinterpret_cast<const unsigned char*>(file.constData() + page * kPage);
    return p[12] | p[13] << 8;
}

qint64 declared(const QByteArray& file)
{
    const auto* p = reinterpret_cast<const unsigned char*>(file.constData() + kDeclaredRows);
    return qint64(p[0]) | qint64(p[1]) << 8 | qint64(p[2]) << 16 | qint64(p[3]) << 24;
}

} // namespace

QByteArray fileWithTwins()
{
    QByteArray file = legacyFile();
    EXPECT_EQ(rowsOnPage(file, 29), kReportsOnPage29);
    const qint64 count = declared(file) - rowsOnPage(file, 30) + rowsOnPage(file, 29);
    file.replace(30 * kPage, kPage, file.mid(29 * kPage, kPage));
    return patched(file, {{kDeclaredRows, littleEndian32(count)}});
}

QByteArray fileWithoutReports()
{
    QByteArray file = legacyFile();
    for (qint64 page = 0; page < file.size() / kPage; ++page) {
        const auto* p = reinterpret_cast<const unsigned char*>(file.constData() + page * kPage);
        const bool ofTableA = p[0] == 1 && (p[4] | p[5] << 8 | p[6] << 16 | p[7] << 24) == 24;
        if (!ofTableA)
            continue;
        for (int row = 0; row < rowsOnPage(file, page); ++row) {
            const qint64 at = page * kPage + 14 + 2 * row;
            const int offset = std::uint8_t(file[at]) | std::uint8_t(file[at + 1]) << 8;
            file.replace(at, 2, littleEndian16(offset | 0x8000)); // the deleted flag
        }
    }
    return patched(file, {{kDeclaredRows, littleEndian32(0)}});
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

} // namespace korvela::test
