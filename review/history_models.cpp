#include "review/history_models.h"

#include "records/report_fields.h"

#include <QBrush>
#include <QFont>

namespace korvela {

namespace {

constexpr const char16_t* kChangeHeaders[] = {u"时间", u"操作", u"筛查编号", u"姓名", u"修改人", u"工作站"};
constexpr const char16_t* kVersionHeaders[] = {u"项目", u"修改前", u"修改后"};
constexpr const char16_t* kAccessHeaders[] = {u"时间", u"操作", u"查阅人", u"工作站", u"说明"};

// A field's value as the comparison shows it; a checked option is "√".
QString fieldText(const ReportRecord& record, const FieldInfo& field)
{
    switch (field.kind) {
    case FieldKind::Text:
    case FieldKind::List:
        return record[field.id];
    case FieldKind::Date:
        return record.examDate ? record.examDate->toString(Qt::ISODate) : QString();
    case FieldKind::Option:
        return record.checked(field.id) ? QStringLiteral("√") : QString();
    }
    return {};
}

} // namespace

QString localTimeText(const QDateTime& at)
{
    return at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

TextTableModel::TextTableModel(std::span<const char16_t* const> headers, QObject* parent)
    : QAbstractTableModel(parent)
{
    for (const char16_t* header : headers)
        m_headers << QString::fromUtf16(header);
}

void TextTableModel::setRows(std::vector<QStringList> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int TextTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TextTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_headers.size());
}

QVariant TextTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    return m_rows[std::size_t(index.row())].value(index.column());
}

QVariant TextTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return m_headers.value(section);
}

ChangeListModel::ChangeListModel(QObject* parent)
    : TextTableModel(kChangeHeaders, parent)
{
}

void ChangeListModel::setChanges(std::vector<Change> changes)
{
    m_changes = std::move(changes);
    std::vector<QStringList> rows;
    rows.reserve(m_changes.size());
    for (const Change& c : m_changes)
        rows.push_back({localTimeText(c.at), c.action, c.number, c.name, c.who, c.host});
    setRows(std::move(rows));
}

VersionsModel::VersionsModel(QObject* parent)
    : TextTableModel(kVersionHeaders, parent)
{
}

void VersionsModel::setVersions(const std::optional<ChangeVersions>& versions)
{
    std::vector<QStringList> rows;
    m_changed.clear();
    if (versions) {
        for (const FieldInfo& field : reportFields()) {
            const QString was = versions->before ? fieldText(*versions->before, field) : QString();
            const QString is = versions->after ? fieldText(*versions->after, field) : QString();
            rows.push_back({accessibleName(field), was, is});
            m_changed.push_back(was != is);
        }
    }
    setRows(std::move(rows));
}

QVariant VersionsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || !m_changed[std::size_t(index.row())])
        return TextTableModel::data(index, role);
    switch (role) {
    case Qt::FontRole: {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    case Qt::ForegroundRole:
        return QBrush(QColor(176, 0, 0));
    case Qt::AccessibleDescriptionRole:
        return QStringLiteral("已修改");
    default:
        return TextTableModel::data(index, role);
    }
}

AccessModel::AccessModel(QObject* parent)
    : TextTableModel(kAccessHeaders, parent)
{
}

void AccessModel::setAccesses(const std::vector<Access>& accesses)
{
    std::vector<QStringList> rows;
    rows.reserve(accesses.size());
    for (const Access& a : accesses)
        rows.push_back({localTimeText(a.at), a.event, a.who, a.host, a.detail});
    setRows(std::move(rows));
}

} // namespace korvela
