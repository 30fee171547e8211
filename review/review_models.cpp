#include "review/review_models.h"

#include <QFont>

namespace korvela {

FollowUpModel::FollowUpModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

void FollowUpModel::setList(std::shared_ptr<const FollowUpList> list, const QDate& today)
{
    m_list = std::move(list);
    m_today = today;
    if (m_physician >= 0 && (!m_list || m_physician >= int(m_list->physicians().size())))
        m_physician = -1;
    refilter();
}

void FollowUpModel::setRange(const DueRange& range)
{
    m_range = range;
    refilter();
}

void FollowUpModel::setPhysician(int physician)
{
    m_physician = physician;
    refilter();
}

void FollowUpModel::refilter()
{
    beginResetModel();
    m_shown.clear();
    if (m_list) {
        const std::vector<FollowUpList::Entry>& entries = m_list->entries();
        // The entries are in due order: the range is one stretch of them.
        const auto first =
            m_range.from
                ? std::lower_bound(entries.begin(), entries.end(), *m_range.from,
                                   [](const FollowUpList::Entry& e, const QDate& d) { return e.due < d; })
                : entries.begin();
        const auto last =
            m_range.to
                ? std::upper_bound(first, entries.end(), *m_range.to,
                                   [](const QDate& d, const FollowUpList::Entry& e) { return d < e.due; })
                : entries.end();
        m_shown.reserve(std::size_t(last - first));
        for (auto e = first; e != last; ++e)
            if (m_physician < 0 || e->physician == m_physician)
                m_shown.push_back(int(e - entries.begin()));
    }
    endResetModel();
}

int FollowUpModel::overdueCount() const
{
    int n = 0;
    for (int i : m_shown)
        if (m_list->entries()[std::size_t(i)].due < m_today)
            ++n;
    return n;
}

int FollowUpModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_shown.size());
}

int FollowUpModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kFollowUpColumns;
}

QVariant FollowUpModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_shown.size()))
        return {};
    const auto column = FollowUpColumn(index.column());
    if (role == Qt::TextAlignmentRole) {
        const bool number = column == FollowUpColumn::DaysOverdue || column == FollowUpColumn::Age;
        return int((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const FollowUpList::Entry& e = shownEntry(index.row());
    switch (column) {
    case FollowUpColumn::Due:
        return e.due.toString(Qt::ISODate);
    case FollowUpColumn::DaysOverdue:
        return e.due < m_today ? QString::number(e.due.daysTo(m_today)) : QString();
    case FollowUpColumn::Name:
        return m_list->text(e, FollowUpList::Name);
    case FollowUpColumn::Number:
        return m_list->text(e, FollowUpList::Number);
    case FollowUpColumn::Age:
        return m_list->text(e, FollowUpList::Age);
    case FollowUpColumn::Examined:
        return e.examined.toString(Qt::ISODate);
    case FollowUpColumn::Requested:
        return followUpText(e.options);
    case FollowUpColumn::XRayGrade:
        return m_list->text(e, FollowUpList::XRayGrade);
    case FollowUpColumn::UltrasoundGrade:
        return m_list->text(e, FollowUpList::UltrasoundGrade);
    case FollowUpColumn::Handling:
        return m_list->text(e, FollowUpList::Handling);
    case FollowUpColumn::Physician:
        return m_list->text(e, FollowUpList::Physician);
    }
    return {};
}

QVariant FollowUpModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    return followUpHeader(FollowUpColumn(section));
}

AuditModel::AuditModel(QObject* parent)
    : QAbstractTableModel(parent)
    , m_headers(auditHeaders())
{
}

void AuditModel::setAudit(std::shared_ptr<const GradeAudit> audit)
{
    beginResetModel();
    m_audit = std::move(audit);
    m_rows.clear();
    if (m_audit) {
        for (const PhysicianFigures& f : m_audit->physicians)
            m_rows.push_back(auditRow(f, physicianCaption(f.physician)));
        m_rows.push_back(auditRow(m_audit->total, QStringLiteral("合计")));
    }
    endResetModel();
}

int AuditModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int AuditModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_headers.size());
}

QVariant AuditModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return m_rows[std::size_t(index.row())][index.column()];
    case Qt::TextAlignmentRole:
        return int((index.column() == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
    case Qt::FontRole:
        if (index.row() == int(m_rows.size()) - 1) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    default:
        return {};
    }
}

QVariant AuditModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_headers[section];
    if (orientation == Qt::Horizontal && role == Qt::ToolTipRole && section == m_headers.size() - 4)
        return QStringLiteral("X线检查评级为0、4或5级的报告占评为0至6级的报告的比例");
    return {};
}

} // namespace korvela
