#include "records/report_record.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace korvela {

namespace {

// Sets a field of the record from its stored value.
void setField(ReportRecord& record, const FieldInfo& field, const Value& value)
{
    switch (field.kind) {
    case FieldKind::Text:
    case FieldKind::List:
        record[field.id] = valueToText(value);
        break;
    case FieldKind::Date:
        record.examDate = dateFromValue(value);
        break;
    case FieldKind::Option:
        record.checked(field.id) = isChecked(value);
        break;
    }
}

// A JSON value as the column held it; JSON keeps every number as a double.
std::optional<Value> fromJson(const QJsonValue& json)
{
    switch (json.type()) {
    case QJsonValue::Null:
        return Value();
    case QJsonValue::String:
        return Value(json.toString());
    case QJsonValue::Double: {
        const double d = json.toDouble();
        if (d == std::trunc(d) && std::abs(d) < 9.0e15)
            return Value(std::int64_t(d));
        return Value(d);
    }
    default:
        return std::nullopt;
    }
}

} // namespace

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
        setField(record, field, *v);
    }
    return record;
}

Result<ReportRecord> recordFromJson(const QString& text)
{
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(text.toUtf8(), &error);
    const QJsonArray values = json.array();
    if (error.error != QJsonParseError::NoError || !json.isArray() || values.size() != qsizetype(kFieldCount))
        return Failure{FailureCode::VersionUnreadable,
                       QStringLiteral("保存的版本不是 %1 项数据（%2）").arg(kFieldCount).arg(text.left(80))};
    ReportRecord record;
    for (const FieldInfo& field : reportFields()) {
        const std::optional<Value> v = fromJson(values[qsizetype(index(field.id))]);
        if (!v)
            return Failure{FailureCode::VersionUnreadable,
                           QStringLiteral("保存的版本中 %1 的值无法读取").arg(QString::fromLatin1(field.column))};
        setField(record, field, *v);
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
