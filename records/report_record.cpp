#include "records/report_record.h"

namespace korvela {

namespace {
QString ReportRecord::*const kTextColumns[] = {
    &ReportRecord::a1,  &ReportRecord::a2,  &ReportRecord::a3,  &ReportRecord::a4,  &ReportRecord::a5,
    &ReportRecord::a6,  &ReportRecord::a7,  &ReportRecord::a8,  &ReportRecord::a9,  &ReportRecord::a10,
    &ReportRecord::a11, &ReportRecord::a12, nullptr,            &ReportRecord::a14,
};
} // namespace

QString columnName(int n)
{
    return u'a' + QString::number(n);
}

Value dateToValue(const std::optional<QDate>& date)
{
    if (!date || !date->isValid())
        return std::monostate{};
    return date->toString(Qt::ISODate);
}

std::optional<QDate> dateFromValue(const Value& value)
{
    const auto* text = std::get_if<QString>(&value);
    if (!text)
        return std::nullopt;
    const QDate date = QDate::fromString(text->left(10), Qt::ISODate);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

bool isChecked(const Value& value)
{
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return *i == 1;
    if (const auto* d = std::get_if<double>(&value))
        return *d == 1.0;
    if (const auto* s = std::get_if<QString>(&value))
        return *s == u"1";
    return false;
}

Result<ReportRecord> recordFromRow(const ResultSet& row)
{
    ReportRecord record;
    for (int n = 1; n <= 14; ++n) {
        Result<Value> v = row.field(columnName(n));
        if (!v)
            return v.failure();
        if (n == 13)
            record.a13 = dateFromValue(*v);
        else
            record.*kTextColumns[n - 1] = valueToText(*v);
    }
    for (int i = 0; i < 13; ++i) {
        Result<Value> v = row.field(optionColumn(i));
        if (!v)
            return v.failure();
        record.options[std::size_t(i)] = isChecked(*v) ? 1 : 0;
    }
    return record;
}

Status writeRecord(ResultSet& row, const ReportRecord& record, bool withKey)
{
    for (int n = 1; n <= 14; ++n) {
        if (n == 3 && !withKey)
            continue;
        const Value v = n == 13 ? dateToValue(record.a13) : Value(record.*kTextColumns[n - 1]);
        if (Status s = row.setField(columnName(n), v); !s)
            return s;
    }
    for (int i = 0; i < 13; ++i) {
        const std::int64_t checked = record.options[std::size_t(i)] == 1 ? 1 : 0;
        if (Status s = row.setField(optionColumn(i), checked); !s)
            return s;
    }
    return {};
}

} // namespace korvela
