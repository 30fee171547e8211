// The template's fill values: never crashes; 27 placeholders in order, each value as typed (a
// blank one as one space), the options as their two marks.
#include "fuzz/fuzz_support.h"
#include "report/report_document.h"
#include "records/report_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto texts = fuzzTexts(data, size, 14);
    korvela::ReportRecord r;
    QString* fields[] = {&r.a1, &r.a2, &r.a3, &r.a4, &r.a5, &r.a6, &r.a7, &r.a8, &r.a9, &r.a10, &r.a11, &r.a12};
    for (int i = 0; i < 12; ++i)
        *fields[i] = texts[std::size_t(i)];
    r.a14 = texts[13];
    for (std::size_t i = 0; i < 13; ++i)
        r.options[i] = size > i ? int(data[i] % 3) : 0;
    r.a13 = size > 20 ? std::optional<QDate>(QDate(1900 + data[20], 1 + data[0] % 12, 1)) : std::nullopt;

    const korvela::PlaceholderValues fill = korvela::ReportPlaceholders(r, QLocale(QLocale::Chinese, QLocale::China));
    FUZZ_CHECK(fill.size() == 27);
    const QStringList& names = korvela::placeholderTexts();
    for (std::size_t i = 0; i < 27; ++i) {
        FUZZ_CHECK(fill[i].first == names[qsizetype(i)]);
        FUZZ_CHECK(!fill[i].second.isEmpty());
    }
    const QString typed[] = {r.a1, r.a2, r.a3, r.a4, r.a5, r.a6, r.a7, r.a8, r.a9, r.a10, r.a11, r.a12};
    for (std::size_t i = 0; i < 12; ++i) {
        if (korvela::trimBlanks(typed[i]).isEmpty())
            FUZZ_CHECK(fill[i].second == u" ");
        else
            FUZZ_CHECK(fill[i].second == typed[i]);
    }
    for (std::size_t i = 0; i < 13; ++i)
        FUZZ_CHECK(fill[14 + i].second == (r.options[i] == 1 ? QStringLiteral("(√)") : QStringLiteral("( )")));
    return 0;
}
