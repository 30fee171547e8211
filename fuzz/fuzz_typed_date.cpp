// Reading a typed date: never crashes; a date it gives is a real day, and that day typed back in
// the plain form reads as the same day.
#include "fuzz/fuzz_support.h"
#include "search/search_statement.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = fuzzTexts(data, size, 1).front();
    const std::optional<QDate> date = korvela::readTypedDate(text);
    if (date) {
        FUZZ_CHECK(date->isValid());
        const QString plain =
            QStringLiteral("%1-%2-%3").arg(date->year(), 4, 10, QChar(u'0')).arg(date->month()).arg(date->day());
        FUZZ_CHECK(korvela::readTypedDate(plain) == date);
    }
    return 0;
}
