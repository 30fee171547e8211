// The old program's Jet files as import-legacy reads them: the reader never crashes, never loops,
// and every report it gives holds values the import can store (27 of them, texts without a lone
// surrogate or U+0000, days of the years 1 to 9999, options 0 or 1) or says why not.
//
// A real database is far larger than a fuzzer's input, so an input is, after its first byte, a
// list of changes to one of the seed databases (tests/data/legacy/Data.Dat, and the shared
// DateTestDatabase.mdb when it lies beside the source tree): each a 3-byte offset into the file, a
// length byte and that many bytes written there; a length of 0 cuts the file at the offset. The
// first byte chooses the seed, whether the changes apply, and whether the file claims to be a
// Jet 3 one (its texts then read through code page 936). Without changes the input itself is the
// file, so short files and headers are tried as they are. The decoders get the raw input too.
#include "legacy/legacy_decode.h"
#include "legacy/legacy_reader.h"
#include "fuzz/fuzz_support.h"

#include <QFile>

#include <cstdio>
#include <cstring>

#include <vector>

using namespace korvela;
using namespace korvela::legacy;

namespace {

struct Seed
{
    QByteArray bytes;
    LegacyLayout layout;
};

std::vector<Seed> loadSeeds()
{
    std::vector<Seed> seeds;
    QFile reports(QStringLiteral(KORVELA_SOURCE_DIR "/tests/data/legacy/Data.Dat"));
    if (reports.open(QIODevice::ReadOnly))
        seeds.push_back({reports.readAll(), reportLayout()});
    QFile dates(QStringLiteral(KORVELA_SOURCE_DIR "/../shared/fixtures/legacy/DateTestDatabase.mdb"));
    if (dates.open(QIODevice::ReadOnly))
        seeds.push_back({dates.readAll(),
                         {QStringLiteral("DateTest"),
                          QStringLiteral("表 DateTest"),
                          {{QStringLiteral("IDCol"), FieldKind::Option, QStringLiteral("IDCol")},
                           {QStringLiteral("DateTimeCol"), FieldKind::Date, QStringLiteral("DateTimeCol")},
                           {QStringLiteral("DateCol"), FieldKind::Date, QStringLiteral("DateCol")},
                           {QStringLiteral("TimeCol"), FieldKind::Date, QStringLiteral("TimeCol")},
                           {QStringLiteral("LongTextCol"), FieldKind::Text, QStringLiteral("LongTextCol")},
                           {QStringLiteral("ShortTextCol"), FieldKind::Text, QStringLiteral("ShortTextCol")}}}});
    FUZZ_CHECK(!seeds.empty());
    return seeds;
}

void checkDecoders(const std::uint8_t* data, std::size_t size)
{
    const QString text = jet4Text(data, size);
    FUZZ_CHECK(std::size_t(text.size()) <= size);
    (void)textProblem(text);
    static std::optional<CodePage> gbk = CodePage::open(QStringLiteral("936"));
    if (const std::optional<QString> decoded = gbk->decode(data, size))
        FUZZ_CHECK(std::size_t(decoded->size()) <= size);
    if (size >= 8) {
        double stored;
        std::memcpy(&stored, data, 8);
        if (const std::optional<QDate> day = jetDay(stored))
            FUZZ_CHECK(day->isValid() && day->year() >= 1 && day->year() <= 9999);
    }
}

// libmdb tells its own developers on stderr about every oddity it meets, thousands of lines a
// second here; libFuzzer's and the sanitizers' reports keep their own handle on the terminal.
struct QuietLibrary
{
    QuietLibrary()
        : saved(stderr)
    {
        static std::FILE* null = std::fopen("/dev/null", "w");
        stderr = null;
    }
    ~QuietLibrary() { stderr = saved; }
    std::FILE* saved;
};

void readAll(const QByteArray& file, const LegacyLayout& layout)
{
    const QuietLibrary quiet;
    LegacyReader reader(layout);
    if (!reader.openBuffer(reinterpret_cast<const std::uint8_t*>(file.constData()), std::size_t(file.size()),
                           QStringLiteral("fuzz.mdb"))
             .ok())
        return;
    FUZZ_CHECK(reader.jetVersion() == 3 || reader.jetVersion() == 4);
    LegacyReport report;
    std::int64_t previous = 0;
    for (Result<bool> next = reader.next(report); next && *next; next = reader.next(report)) {
        FUZZ_CHECK(report.ordinal == previous + 1 && report.ordinal <= reader.declaredCount());
        previous = report.ordinal;
        FUZZ_CHECK(report.values.size() == layout.columns.size());
        for (std::size_t c = 0; c < layout.columns.size(); ++c) {
            const Value& v = report.values[c];
            switch (layout.columns[c].kind) {
            case FieldKind::Option:
                FUZZ_CHECK(std::holds_alternative<std::int64_t>(v) &&
                           (std::get<std::int64_t>(v) == 0 || std::get<std::int64_t>(v) == 1));
                break;
            case FieldKind::Date:
                FUZZ_CHECK(isNull(v) || QDate::fromString(std::get<QString>(v), u"yyyy-MM-dd").isValid());
                break;
            case FieldKind::Text:
            case FieldKind::List:
                FUZZ_CHECK(isNull(v) || textProblem(std::get<QString>(v)).isEmpty());
                break;
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::vector<Seed> seeds = loadSeeds();
    checkDecoders(data, size);
    if (size == 0)
        return 0;
    const std::uint8_t mode = data[0];
    const Seed& seed = seeds[(mode >> 2) % seeds.size()];
    QByteArray file;
    if ((mode & 1) == 0) {
        file = QByteArray(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    } else {
        file = seed.bytes;
        for (std::size_t at = 1; at + 4 <= size && !file.isEmpty();) {
            const qsizetype offset = qsizetype(data[at] | data[at + 1] << 8 | data[at + 2] << 16) % file.size();
            const std::size_t length = data[at + 3];
            at += 4;
            if (length == 0) {
                file.truncate(offset);
                continue;
            }
            const std::size_t n = std::min(length, size - at);
            file.replace(offset, qsizetype(n), QByteArray(reinterpret_cast<const char*>(data + at), qsizetype(n)));
            at += n;
        }
    }
    if ((mode & 2) && file.size() > 0x14)
        file[0x14] = 0; // a Jet 3 file's version byte
    readAll(file, seed.layout);
    return 0;
}
