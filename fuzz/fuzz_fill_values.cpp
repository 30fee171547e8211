// The template's fill values: never crashes; 27 placeholders in order, each value as typed (a
// blank one as one space), the date in its short form, the options as their two marks.
#include "fuzz/fuzz_support.h"
#include "report/report_document.h"
#include "records/report_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using korvela::FieldKind;
    const auto texts = fuzzTexts(data, size, 13);
    korvela::ReportRecord r;
    std::size_t next = 0;
    for (const korvela::FieldInfo& field : korvela::reportFields()) {
        if (field.kind == FieldKind::Text || field.kind == FieldKind::List)
            r[field.id] = texts[next++];
    }
    for (int i = 0; i < int(korvela::kOptionCount); ++i)
        r.checked(korvela::optionField(i)) = size > std::size_t(i) && (data[i] & 1) != 0;
    r.examDate = size > 20 ? std::optional<QDate>(QDate(1900 + data[20], 1 + data[0] % 12, 1)) : std::nullopt;

    const korvela::PlaceholderValues fill = korvela::ReportPlaceholders(r);
    FUZZ_CHECK(fill.size() == 27);
    const QStringList& names = korvela::placeholderTexts();
    for (std::size_t i = 0; i < 27; ++i) {
        FUZZ_CHECK(fill[i].first == names[qsizetype(i)]);
        FUZZ_CHECK(!fill[i].second.isEmpty());
    }
    for (const korvela::FieldInfo& field : korvela::reportFields()) {
        const QString& value = fill[korvela::index(field.id)].second;
        switch (field.kind) {
        case FieldKind::Text:
        case FieldKind::List:
            if (korvela::trimBlanks(r[field.id]).isEmpty())
                FUZZ_CHECK(value == u" ");
            else
                FUZZ_CHECK(value == r[field.id]);
            break;
        case FieldKind::Date:
            FUZZ_CHECK(value == (r.examDate ? QStringLiteral("%1/%2/%3")
                                                  .arg(r.examDate->year())
                                                  .arg(r.examDate->month())
                                                  .arg(r.examDate->day())
                                            : QStringLiteral(" ")));
            break;
        case FieldKind::Option:
            FUZZ_CHECK(value == (r.checked(field.id) ? QStringLiteral("(√)") : QStringLiteral("( )")));
            break;
        }
    }
    return 0;
}
