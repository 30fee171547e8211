#include "office/libreoffice_doc_protection.h"

#include "core/failure_codes.h"

#include <QFile>
#include <array>
#include <optional>
#include <vector>

namespace korvela::lo {

namespace {


Failure unreadable(const QString& why)
{
    return Failure{FailureCode::DocumentFormatUnknown, QStringLiteral("报告文档的格式无法识别（%1）。").arg(why)};
}

// The legacy password key: the high word from these published tables. LibreOffice's table has
// 0x8FA6 twice in the eighth row; its key is the one that counts here, so the row is kept as is.
constexpr std::array<std::uint16_t, 15> kInitialCode = {0xE1F0, 0x1D0F, 0xCC9C, 0x84C0, 0x110C,
                                                        0x0E10, 0xF1CE, 0x313E, 0x1872, 0xE139,
                                                        0xD40F, 0x84F9, 0x280C, 0xA96A, 0x4EC3};
constexpr std::uint16_t kEncryptionMatrix[15][7] = {{0xAEFC, 0x4DD9, 0x9BB2, 0x2745, 0x4E8A, 0x9D14, 0x2A09},
                                                    {0x7B61, 0xF6C2, 0xFDA5, 0xEB6B, 0xC6F7, 0x9DCF, 0x2BBF},
                                                    {0x4563, 0x8AC6, 0x05AD, 0x0B5A, 0x16B4, 0x2D68, 0x5AD0},
                                                    {0x0375, 0x06EA, 0x0DD4, 0x1BA8, 0x3750, 0x6EA0, 0xDD40},
                                                    {0xD849, 0xA0B3, 0x5147, 0xA28E, 0x553D, 0xAA7A, 0x44D5},
                                                    {0x6F45, 0xDE8A, 0xAD35, 0x4A4B, 0x9496, 0x390D, 0x721A},
                                                    {0xEB23, 0xC667, 0x9CEF, 0x29FF, 0x53FE, 0xA7FC, 0x5FD9},
                                                    {0x47D3, 0x8FA6, 0x8FA6, 0x1EDA, 0x3DB4, 0x7B68, 0xF6D0},
                                                    {0xB861, 0x60E3, 0xC1C6, 0x93AD, 0x377B, 0x6EF6, 0xDDEC},
                                                    {0x45A0, 0x8B40, 0x06A1, 0x0D42, 0x1A84, 0x3508, 0x6A10},
                                                    {0xAA51, 0x4483, 0x8906, 0x022D, 0x045A, 0x08B4, 0x1168},
                                                    {0x76B4, 0xED68, 0xCAF1, 0x85C3, 0x1BA7, 0x374E, 0x6E9C},
                                                    {0x3730, 0x6E60, 0xDCC0, 0xA9A1, 0x4363, 0x86C6, 0x1DAD},
                                                    {0x3331, 0x6662, 0xCCC4, 0x89A9, 0x0373, 0x06E6, 0x0DCC},
                                                    {0x1021, 0x2042, 0x4084, 0x8108, 0x1231, 0x2462, 0x48C4}};

std::uint16_t get16(const QByteArray& b, qsizetype at)
{
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[at]) | static_cast<std::uint8_t>(b[at + 1])
                                                                             << 8);
}

std::uint32_t get32(const QByteArray& b, qsizetype at)
{
    return std::uint32_t(get16(b, at)) | std::uint32_t(get16(b, at + 2)) << 16;
}

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kLastRegularSector = 0xFFFFFFF9;

// Just enough of the compound file format to find where each byte of a stream lies in the file,
// so that a few bytes can be changed in place.
class CompoundFile
{
public:
    struct Stream
    {
        qsizetype directoryEntry = 0; // file offset of the stream's 128-byte directory entry
        std::uint32_t size = 0;
        std::vector<qsizetype> bytes; // file offset of each allocated byte, the last sector's slack included
    };

    static std::optional<CompoundFile> open(const QByteArray& file)
    {
        static const char signature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
        if (file.size() < 512 || !file.startsWith(QByteArray(signature, 8)))
            return std::nullopt;
        CompoundFile cf(file);
        cf.m_sectorSize = 1u << get16(file, 0x1E);
        cf.m_miniSectorSize = 1u << get16(file, 0x20);
        cf.m_miniCutoff = get32(file, 0x38);
        if (cf.m_sectorSize < 512 || cf.m_sectorSize > 4096 || cf.m_miniSectorSize != 64)
            return std::nullopt;
        if (!cf.readTables())
            return std::nullopt;
        return cf;
    }

    std::uint32_t miniCutoff() const { return m_miniCutoff; }

    std::optional<Stream> stream(const QString& name) const
    {
        for (qsizetype entry : m_directory) {
            const int nameBytes = get16(m_file, entry + 64);
            if (m_file[entry + 66] != 2 || nameBytes != (name.size() + 1) * 2)
                continue;
            bool same = true;
            for (qsizetype i = 0; i < name.size() && same; ++i)
                same = get16(m_file, entry + 2 * i) == name[i].unicode();
            if (!same)
                continue;
            Stream s;
            s.directoryEntry = entry;
            s.size = get32(m_file, entry + 120);
            const std::uint32_t start = get32(m_file, entry + 116);
            if (s.size < m_miniCutoff) {
                std::uint32_t mini = start;
                while (mini != kEndOfChain) {
                    if (mini >= m_miniFat.size() || s.bytes.size() > m_miniFat.size() * m_miniSectorSize)
                        return std::nullopt;
                    for (std::uint32_t i = 0; i < m_miniSectorSize; ++i) {
                        const std::uint64_t at = std::uint64_t(mini) * m_miniSectorSize + i;
                        if (at / m_sectorSize >= m_miniStream.size())
                            return std::nullopt;
                        s.bytes.push_back(sectorOffset(m_miniStream[at / m_sectorSize]) +
                                          qsizetype(at % m_sectorSize));
                    }
                    mini = m_miniFat[mini];
                }
            } else {
                const std::optional<std::vector<std::uint32_t>> sectors = chain(start);
                if (!sectors)
                    return std::nullopt;
                for (std::uint32_t sector : *sectors)
                    for (std::uint32_t i = 0; i < m_sectorSize; ++i)
                        s.bytes.push_back(sectorOffset(sector) + i);
            }
            if (s.bytes.size() < s.size)
                return std::nullopt;
            return s;
        }
        return std::nullopt;
    }

private:
    explicit CompoundFile(const QByteArray& file)
        : m_file(file)
    {
    }

    qsizetype sectorOffset(std::uint32_t sector) const { return (qsizetype(sector) + 1) * m_sectorSize; }

    bool sectorInFile(std::uint32_t sector) const
    {
        return sectorOffset(sector) + m_sectorSize <= m_file.size();
    }

    std::optional<std::vector<std::uint32_t>> chain(std::uint32_t start) const
    {
        std::vector<std::uint32_t> sectors;
        for (std::uint32_t s = start; s != kEndOfChain;) {
            if (s > kLastRegularSector || s >= m_fat.size() || !sectorInFile(s) ||
                sectors.size() > m_fat.size())
                return std::nullopt;
            sectors.push_back(s);
            s = m_fat[s];
        }
        return sectors;
    }

    bool readTables()
    {
        std::vector<std::uint32_t> fatSectors;
        for (int i = 0; i < 109; ++i) {
            const std::uint32_t s = get32(m_file, 0x4C + 4 * i);
            if (s <= kLastRegularSector)
                fatSectors.push_back(s);
        }
        std::uint32_t difat = get32(m_file, 0x44);
        for (std::uint32_t n = get32(m_file, 0x48); n > 0 && difat <= kLastRegularSector; --n) {
            if (!sectorInFile(difat))
                return false;
            const qsizetype at = sectorOffset(difat);
            for (std::uint32_t i = 0; i + 1 < m_sectorSize / 4; ++i) {
                const std::uint32_t s = get32(m_file, at + 4 * i);
                if (s <= kLastRegularSector)
                    fatSectors.push_back(s);
            }
            difat = get32(m_file, at + m_sectorSize - 4);
        }
        for (std::uint32_t s : fatSectors) {
            if (!sectorInFile(s))
                return false;
            for (std::uint32_t i = 0; i < m_sectorSize / 4; ++i)
                m_fat.push_back(get32(m_file, sectorOffset(s) + 4 * i));
        }
        const auto directory = chain(get32(m_file, 0x30));
        if (!directory || directory->empty())
            return false;
        for (std::uint32_t s : *directory)
            for (std::uint32_t at = 0; at + 128 <= m_sectorSize; at += 128)
                m_directory.push_back(sectorOffset(s) + at);
        // The root entry's chain is the mini stream, which holds the streams below the cutoff.
        const auto miniStream = chain(get32(m_file, m_directory.front() + 116));
        const auto miniFat = chain(get32(m_file, 0x3C));
        if (!miniStream || !miniFat)
            return false;
        m_miniStream = *miniStream;
        for (std::uint32_t s : *miniFat)
            for (std::uint32_t i = 0; i < m_sectorSize / 4; ++i)
                m_miniFat.push_back(get32(m_file, sectorOffset(s) + 4 * i));
        return true;
    }

    const QByteArray& m_file;
    std::uint32_t m_sectorSize = 512;
    std::uint32_t m_miniSectorSize = 64;
    std::uint32_t m_miniCutoff = 4096;
    std::vector<std::uint32_t> m_fat;
    std::vector<std::uint32_t> m_miniFat;
    std::vector<std::uint32_t> m_miniStream;
    std::vector<qsizetype> m_directory;
};

// Where the protection lives in a Word 97-2003 file: the FIB at the start of the WordDocument
// stream, and the Dop, which the FIB locates in the table stream.
struct WordLayout
{
    CompoundFile::Stream document;
    CompoundFile::Stream table;
    std::uint32_t fcDop = 0;
    std::uint32_t lcbDop = 0;
    std::uint16_t cbRgFcLcb = 0;
    std::uint16_t cswNew = 0;
    std::uint32_t miniCutoff = 4096;
};

// FibBase is 32 bytes, then FibRgW97 and FibRgLw97 of fixed size: cbRgFcLcb at 152, the
// fc/lcb pairs from 154; the Dop's pair is the 32nd.
constexpr qsizetype kCbRgFcLcb = 152;
constexpr qsizetype kRgFcLcb = 154;
constexpr qsizetype kFcDop = kRgFcLcb + 31 * 8;
constexpr std::uint32_t kDop2003Size = 616;
constexpr std::uint16_t kCbRgFcLcb2003 = 0xA4;
constexpr std::uint16_t kWord2003 = 0x010C;

Result<WordLayout> analyse(const QByteArray& file)
{
    const std::optional<CompoundFile> cf = CompoundFile::open(file);
    if (!cf)
        return unreadable(QStringLiteral("不是复合文档"));
    WordLayout l;
    l.miniCutoff = cf->miniCutoff();
    const auto document = cf->stream(QStringLiteral("WordDocument"));
    if (!document || document->size < 0x200)
        return unreadable(QStringLiteral("没有 WordDocument 流"));
    l.document = *document;
    const auto fibByte = [&](qsizetype i) { return static_cast<std::uint8_t>(file[l.document.bytes[i]]); };
    const auto fib16 = [&](qsizetype i) {
        return static_cast<std::uint16_t>(fibByte(i) | fibByte(i + 1) << 8);
    };
    const auto fib32 = [&](qsizetype i) {
        return std::uint32_t(fib16(i)) | std::uint32_t(fib16(i + 2)) << 16;
    };
    if (fib16(0) != 0xA5EC)
        return unreadable(QStringLiteral("不是 Word 97-2003 文档"));
    const std::uint16_t flags = fib16(0x0A);
    if (flags & 0x0100)
        return unreadable(QStringLiteral("文档已加密"));
    l.cbRgFcLcb = fib16(kCbRgFcLcb);
    const qsizetype cswNewAt = kRgFcLcb + qsizetype(l.cbRgFcLcb) * 8;
    if (cswNewAt + 6 > qsizetype(l.document.size))
        return unreadable(QStringLiteral("FIB 不完整"));
    l.cswNew = fib16(cswNewAt);
    l.fcDop = fib32(kFcDop);
    l.lcbDop = fib32(kFcDop + 4);
    const auto table = cf->stream((flags & 0x0200) ? QStringLiteral("1Table") : QStringLiteral("0Table"));
    if (!table)
        return unreadable(QStringLiteral("没有表格流"));
    l.table = *table;
    if (l.lcbDop < 600 || std::uint64_t(l.fcDop) + l.lcbDop > l.table.size)
        return unreadable(QStringLiteral("文档属性不完整"));
    return l;
}

} // namespace

std::uint32_t libreOfficePasswordKey(const QString& password)
{
    const qsizetype length = std::min<qsizetype>(password.size(), 15);
    if (length == 0)
        return 0;
    std::uint16_t high = kInitialCode[length - 1];
    std::uint16_t low = 0;
    for (qsizetype i = 0; i < length; ++i) {
        // The low byte of each character, or its high byte when the low one is zero, taken as the
        // signed char LibreOffice takes it as.
        const char16_t c = password[i].unicode();
        const auto byte = static_cast<signed char>((c & 0xFF) ? (c & 0xFF) : (c >> 8));
        for (int bit = 0; bit < 7; ++bit) {
            if (byte & (1 << bit))
                high ^= kEncryptionMatrix[15 - length + i][bit];
        }
        low = static_cast<std::uint16_t>((((low >> 14) & 1) | ((low << 1) & 0x7FFF)) ^ byte);
    }
    low = static_cast<std::uint16_t>((((low >> 14) & 1) | ((low << 1) & 0x7FF)) ^ length ^ 0xCE4B);
    return std::uint32_t(high) << 16 | low;
}

Result<DocProtection> readDocProtection(const QByteArray& file)
{
    Result<WordLayout> layout = analyse(file);
    if (!layout)
        return layout.failure();
    const WordLayout& l = *layout;
    const auto dop = [&](qsizetype i) { return static_cast<std::uint8_t>(file[l.table.bytes[l.fcDop + i]]); };
    DocProtection p;
    p.readOnlyLock = dop(6) & 0x10;
    p.formsProtection = dop(7) & 0x02;
    p.key = std::uint32_t(dop(78)) | std::uint32_t(dop(79)) << 8 | std::uint32_t(dop(80)) << 16 |
            std::uint32_t(dop(81)) << 24;
    p.lockMeansReadOnly = dop(594) & 0x01;
    p.enforced = dop(598) & 0x08;
    p.kind = (dop(598) >> 4) & 0x07;
    p.dopSize = l.lcbDop;
    if (l.cswNew > 0) {
        const qsizetype at = kRgFcLcb + qsizetype(l.cbRgFcLcb) * 8 + 2;
        p.fibNewVersion =
            static_cast<std::uint16_t>(static_cast<std::uint8_t>(file[l.document.bytes[at]]) |
                                       static_cast<std::uint8_t>(file[l.document.bytes[at + 1]]) << 8);
    }
    return p;
}

Result<QByteArray> protectDocReadOnly(QByteArray file, const QString& password)
{
    Result<WordLayout> layout = analyse(file);
    if (!layout)
        return layout.failure();
    const WordLayout& l = *layout;
    const auto fibAt = [&](qsizetype i) -> char& { return file[l.document.bytes[i]]; };
    const auto tableAt = [&](qsizetype i) -> char& { return file[l.table.bytes[i]]; };
    const auto put = [](auto&& at, qsizetype i, std::uint32_t value, int size) {
        for (int k = 0; k < size; ++k)
            at(i + k) = static_cast<char>(value >> (8 * k));
    };

    // Word reads the read-only fields only from a Word 2003 Dop, which LibreOffice writes six
    // bytes short and last in the table stream: it grows into the stream's unused tail, and the
    // FIB announces Word 2003 in the zero padding that follows it. Nothing else moves.
    if (l.lcbDop < kDop2003Size) {
        const std::uint64_t newSize = std::uint64_t(l.fcDop) + kDop2003Size;
        const bool dopIsLast = std::uint64_t(l.fcDop) + l.lcbDop == l.table.size;
        const bool roomInTail = newSize <= l.table.bytes.size();
        const bool sameStorage = (l.table.size < l.miniCutoff) == (newSize < l.miniCutoff);
        if (dopIsLast && roomInTail && sameStorage) {
            for (std::uint64_t i = std::uint64_t(l.fcDop) + l.lcbDop; i < newSize; ++i)
                tableAt(qsizetype(i)) = 0;
            put([&](qsizetype i) -> char& { return file[i]; }, l.table.directoryEntry + 120,
                static_cast<std::uint32_t>(newSize), 4);
            put(fibAt, kFcDop + 4, kDop2003Size, 4);
        }
    }
    const qsizetype oldEnd = kRgFcLcb + qsizetype(l.cbRgFcLcb) * 8 + 2 + 2 * qsizetype(l.cswNew);
    const qsizetype newCswNew = kRgFcLcb + qsizetype(kCbRgFcLcb2003) * 8;
    const qsizetype newEnd = newCswNew + 6;
    if (l.cswNew == 0 && l.cbRgFcLcb <= kCbRgFcLcb2003 && newEnd <= qsizetype(l.document.size)) {
        bool padding = true;
        for (qsizetype i = kRgFcLcb + qsizetype(l.cbRgFcLcb) * 8; padding && i < std::max(oldEnd, newEnd);
             ++i)
            padding = fibAt(i) == 0;
        if (padding) {
            put(fibAt, kCbRgFcLcb, kCbRgFcLcb2003, 2);
            put(fibAt, newCswNew, 2, 2);             // cswNew
            put(fibAt, newCswNew + 2, kWord2003, 2); // nFibNew
            put(fibAt, newCswNew + 4, 0, 2);         // cQuickSavesNew
        }
    }

    const auto dop = [&](qsizetype i) -> char& { return tableAt(qsizetype(l.fcDop) + i); };
    dop(6) = static_cast<char>(dop(6) | 0x10);         // fLockAtn
    dop(7) = static_cast<char>(dop(7) & ~0x42);        // fProtEnabled and fLockRev off
    put(dop, 78, libreOfficePasswordKey(password), 4); // lKeyProtDoc
    dop(594) = static_cast<char>(dop(594) | 0x01);     // fTreatLockAtnAsReadOnly
    // fEnforceDocProt on, iDocProtCur 3: reading only.
    dop(598) = static_cast<char>((static_cast<std::uint8_t>(dop(598)) & 0x87) | 0x08 | (3 << 4));
    return file;
}

Status protectDocFileReadOnly(const QString& path, const QString& password)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return Failure{FailureCode::DocumentFileUnwritable, QStringLiteral("无法打开文件 %1：%2").arg(path, f.errorString())};
    Result<QByteArray> patched = protectDocReadOnly(f.readAll(), password);
    if (!patched)
        return patched.failure();
    if (!f.seek(0) || f.write(*patched) != patched->size() || !f.flush())
        return Failure{FailureCode::DocumentFileUnwritable, QStringLiteral("无法写入文件 %1：%2").arg(path, f.errorString())};
    return {};
}

} // namespace korvela::lo
