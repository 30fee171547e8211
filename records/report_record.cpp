#include "records/report_record.h"

namespace korvela {

QString fieldColumn(Field field)
{
    return columnName(field).toLower();
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
    for (const FieldInfo& field : reportFields()) {
        Result<Value> v = row.field(fieldColumn(field.id));
        if (!v)
            return v.failure();
        switch (field.kind) {
        case FieldKind::Text:
        case FieldKind::List:
            record[field.id] = valueToText(*v);
            break;
        case FieldKind::Date:
            record.examDate = dateFromValue(*v);
            break;
        case FieldKind::Option:
            record.checked(field.id) = isChecked(*v);
            break;
        }
    }
    return record;
}

Value columnValue(const ReportRecord& record, Field field)
{
    switch (fieldInfo(field).kind) {
    case FieldKind::Text:
    case FieldKind::List:
        return record[field];
    case FieldKind::Date:
        return dateToValue(record.examDate);
    case FieldKind::Option:
        return std::int64_t(record.checked(field) ? 1 : 0);
    }
    return {};
}

} // namespace korvela
