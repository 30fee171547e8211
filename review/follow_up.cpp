#include "review/follow_up.h"

#include "records/report_fields.h"
#include "records/report_record.h"
#include "records/report_sql.h"

#include <QHash>
#include <QStringList>
#include <algorithm>
#include <memory>

namespace korvela {

namespace {

// The options that ask for a follow-up, shortest interval first, and their fields.
constexpr std::pair<FollowUpOption, Field> kFollowUpOptions[] = {{ThreeMonths, Field::FollowUpThreeMonths},
                                                                 {SixMonths, Field::FollowUpSixMonths},
                                                                 {OneYear, Field::FollowUpOneYear}};

// The fields of an entry's texts, by FollowUpList::Text.
constexpr Field kTextFields[FollowUpList::kTextCount] = {Field::PatientName,     Field::Age,
                                                         Field::ScreeningNumber, Field::XRayGrade,
                                                         Field::UltrasoundGrade, Field::RecommendedHandling,
                                                         Field::Physician};

} // namespace

int followUpMonths(std::uint8_t options)
{
    if (options & ThreeMonths)
        return 3;
    if (options & SixMonths)
        return 6;
    if (options & OneYear)
        return 12;
    return 0;
}

QDate dueDate(const QDate& examined, int months)
{
    // QDate keeps a day its month lacks in that month, as the department counts months.
    return examined.addMonths(months);
}

QString followUpText(std::uint8_t options)
{
    QStringList parts;
    for (const auto& [option, field] : kFollowUpOptions)
        if (options & option)
            parts << QString::fromUtf16(fieldInfo(field).label);
    return parts.join(u'、');
}

QString personKey(const QString& text)
{
    return foldLatinCase(trimBlanks(text));
}

DueRange overdueRange(const QDate& today)
{
    return {std::nullopt, today.addDays(-1)};
}

DueRange thisWeekRange(const QDate& today)
{
    const QDate monday = today.addDays(1 - today.dayOfWeek());
    return {monday, monday.addDays(6)};
}

DueRange next30DaysRange(const QDate& today)
{
    return {today, today.addDays(29)};
}

QString followUpHeader(FollowUpColumn column)
{
    const auto label = [](Field field) { return QString::fromUtf16(fieldInfo(field).label); };
    switch (column) {
    case FollowUpColumn::Due:
        return QStringLiteral("应随诊日期");
    case FollowUpColumn::DaysOverdue:
        return QStringLiteral("逾期天数");
    case FollowUpColumn::Name:
        return label(Field::PatientName);
    case FollowUpColumn::Number:
        return label(Field::ScreeningNumber);
    case FollowUpColumn::Age:
        return label(Field::Age);
    case FollowUpColumn::Examined:
        return label(Field::ExamDate);
    case FollowUpColumn::Requested:
        return QStringLiteral("随诊要求");
    case FollowUpColumn::XRayGrade:
        return label(Field::XRayGrade);
    case FollowUpColumn::UltrasoundGrade:
        return label(Field::UltrasoundGrade);
    case FollowUpColumn::Handling:
        return label(Field::RecommendedHandling);
    case FollowUpColumn::Physician:
        return label(Field::Physician);
    }
    return {};
}

QString asksForFollowUp()
{
    QStringList asked;
    for (const auto& [option, field] : kFollowUpOptions)
        asked << ReportSql::column(field) + u" = 1";
    return u'(' + asked.join(QStringLiteral(" OR ")) + u')';
}

QString followUpOptionsValue()
{
    QStringList bits;
    for (const auto& [option, field] : kFollowUpOptions)
        bits << QStringLiteral("CASE WHEN %1 = 1 THEN %2 ELSE 0 END")
                    .arg(ReportSql::column(field))
                    .arg(int(option));
    return u'(' + bits.join(QStringLiteral(" + ")) + u')';
}

QString laterReportCondition(const ReportSql& sql)
{
    // The key expressions are those of the save's lookup, so each report costs one probe of the
    // key index; the report itself is passed over by its row id, which the index holds, so a
    // patient seen once costs no read of the table. Only the day of a date is compared, and a
    // later date that is no day does not count.
    const QString s = QStringLiteral("S"), r = QStringLiteral("R");
    return QStringLiteral("EXISTS (SELECT 1 FROM A AS S"
                          " WHERE %1 AND S.rowid <> R.rowid AND %2 <> '' AND %3 > %4 AND %5)")
        .arg(sql.sameKey(s, r), sql.key(r), sql.day(s), sql.day(r), sql.isDay(s));
}

std::optional<QDate> examinationDate(const Value& value)
{
    const auto* text = std::get_if<QString>(&value);
    if (text && text->size() >= 10) {
        const QChar* c = text->constData();
        const auto digit = [c](int i) { return c[i] >= u'0' && c[i] <= u'9' ? c[i].unicode() - u'0' : -1; };
        int parts[8];
        bool digits = c[4] == u'-' && c[7] == u'-';
        for (int i = 0, at = 0; digits && i < 10; ++i)
            if (i != 4 && i != 7)
                digits = (parts[at++] = digit(i)) >= 0;
        if (digits) {
            const QDate date(parts[0] * 1000 + parts[1] * 100 + parts[2] * 10 + parts[3],
                             parts[4] * 10 + parts[5], parts[6] * 10 + parts[7]);
            if (date.isValid())
                return date;
            return std::nullopt;
        }
    }
    return dateFromValue(value);
}

Statement FollowUpList::statement(SqlDialect dialect)
{
    // No order: the list is sorted by its due dates, which the program works out itself.
    const ReportSql sql(dialect);
    QStringList columns{QStringLiteral("rowid"), ReportSql::column(Field::ExamDate)};
    for (Field field : kTextFields)
        columns << ReportSql::column(field);
    return {QStringLiteral("SELECT %1, %2 AS follow FROM A AS R WHERE %3 AND %4 AND NOT %5")
                .arg(columns.join(u", "), followUpOptionsValue(), ReportSql::findable(), asksForFollowUp(),
                     laterReportCondition(sql)),
            {}};
}

Result<FollowUpList> FollowUpList::read(ReportDatabase& db)
{
    std::unique_ptr<ResultSet> rows = db.createResultSet();
    if (Status s = rows->open(statement(db.dialect())); !s)
        return s.failure();

    FollowUpList list;
    list.m_entries.reserve(std::size_t(rows->recordCount()));
    list.m_texts.reserve(rows->recordCount(), 32);
    // Physicians by their stored text first, so most rows cost one look-up.
    QHash<QString, int> physicianByText;
    QHash<QString, int> physicianByKey;
    QString textColumns[kTextCount];
    for (int c = 0; c < kTextCount; ++c)
        textColumns[c] = fieldColumn(kTextFields[c]);
    const QString rowidColumn = QStringLiteral("rowid");
    const QString dateColumn = fieldColumn(Field::ExamDate);
    const QString optionsColumn = QStringLiteral("follow");

    for (; rows->hasCurrentRow(); (void)rows->moveNext()) {
        Result<Value> date = rows->field(dateColumn);
        Result<Value> options = rows->field(optionsColumn);
        Result<Value> rowid = rows->field(rowidColumn);
        if (!date || !options || !rowid)
            return !date ? date.failure() : !options ? options.failure() : rowid.failure();
        const std::optional<QDate> examined = examinationDate(*date);
        const auto* optionBits = std::get_if<std::int64_t>(&*options);
        const int months = optionBits ? followUpMonths(std::uint8_t(*optionBits)) : 0;
        if (!examined || months == 0) {
            ++list.m_undated;
            continue;
        }
        Entry entry;
        entry.examined = *examined;
        entry.due = dueDate(*examined, months);
        entry.options = std::uint8_t(*optionBits);
        const auto* id = std::get_if<std::int64_t>(&*rowid);
        entry.rowid = id ? *id : 0;
        entry.texts = list.m_texts.rows();
        for (int c = 0; c < kTextCount; ++c) {
            Result<Value> v = rows->field(textColumns[c]);
            if (!v)
                return v.failure();
            const auto* stored = std::get_if<QString>(&*v);
            const QString text = stored ? *stored : valueToText(*v);
            list.m_texts.append(text);
            if (c != Physician)
                continue;
            auto known = physicianByText.constFind(text);
            if (known == physicianByText.constEnd()) {
                const QString key = personKey(text);
                auto group = physicianByKey.constFind(key);
                if (group == physicianByKey.constEnd()) {
                    group = physicianByKey.insert(key, int(list.m_physicians.size()));
                    list.m_physicians.push_back(trimBlanks(text));
                }
                known = physicianByText.insert(text, *group);
            }
            entry.physician = *known;
        }
        list.m_entries.push_back(entry);
    }
    list.m_texts.shrinkToFit();
    std::sort(list.m_entries.begin(), list.m_entries.end(), [](const Entry& a, const Entry& b) {
        if (a.due != b.due)
            return a.due < b.due;
        if (a.examined != b.examined)
            return a.examined < b.examined;
        return a.rowid < b.rowid;
    });
    return list;
}

} // namespace korvela
