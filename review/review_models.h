#pragma once

#include "review/follow_up.h"
#include "review/grade_audit.h"

#include <QAbstractTableModel>
#include <memory>

namespace korvela {

// The follow-up list as a table: the entries due in the chosen range, of the chosen physician.
// Choosing another range or physician filters the list read last; nothing is read again.
class FollowUpModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit FollowUpModel(QObject* parent = nullptr);

    void setList(std::shared_ptr<const FollowUpList> list, const QDate& today);
    void setRange(const DueRange& range);
    // -1 for every physician, else an index into the list's physicians().
    void setPhysician(int physician);

    const FollowUpList* list() const { return m_list.get(); }
    const std::shared_ptr<const FollowUpList>& sharedList() const { return m_list; }
    const QDate& today() const { return m_today; }
    const DueRange& range() const { return m_range; }
    int physician() const { return m_physician; }
    // The entries shown, of the list's entries().
    int shownCount() const { return int(m_shown.size()); }
    const FollowUpList::Entry& shownEntry(int row) const
    {
        return m_list->entries()[std::size_t(m_shown[std::size_t(row)])];
    }
    // Of the entries shown, those due before today.
    int overdueCount() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void refilter();

    std::shared_ptr<const FollowUpList> m_list;
    QDate m_today;
    DueRange m_range;
    int m_physician = -1;
    std::vector<int> m_shown;
};

// The audit as a table: a row per physician and the total.
class AuditModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit AuditModel(QObject* parent = nullptr);

    void setAudit(std::shared_ptr<const GradeAudit> audit);
    const GradeAudit* audit() const { return m_audit.get(); }
    const std::shared_ptr<const GradeAudit>& sharedAudit() const { return m_audit; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::shared_ptr<const GradeAudit> m_audit;
    std::vector<QStringList> m_rows;
    QStringList m_headers;
};

} // namespace korvela
