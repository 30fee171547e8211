#pragma once

#include "records/change_log.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <optional>
#include <span>
#include <vector>

namespace korvela {

// "2024-12-18 09:30:05": a time the history keeps in UTC, as the workstation's clock shows it.
QString localTimeText(const QDateTime& at);

// Rows of texts under fixed headers: what the history tab's three tables show.
class TextTableModel : public QAbstractTableModel
{
public:
    explicit TextTableModel(std::span<const char16_t* const> headers, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

protected:
    void setRows(std::vector<QStringList> rows);

private:
    QStringList m_headers;
    std::vector<QStringList> m_rows;
};

// The changes read last, a row each: 时间, 操作, 筛查编号, 姓名, 修改人, 工作站.
class ChangeListModel final : public TextTableModel
{
public:
    explicit ChangeListModel(QObject* parent = nullptr);

    void setChanges(std::vector<Change> changes);
    const std::vector<Change>& changes() const { return m_changes; }

private:
    std::vector<Change> m_changes;
};

// One change's report before and after it, side by side: a row per field (its caption, the value
// before, the value after); a field the change altered is bold and red.
class VersionsModel final : public TextTableModel
{
public:
    explicit VersionsModel(QObject* parent = nullptr);

    // No change: no rows.
    void setVersions(const std::optional<ChangeVersions>& versions);

    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<bool> m_changed;
};

// Who looked at the reports of one screening number: 时间, 操作, 查阅人, 工作站, 说明.
class AccessModel final : public TextTableModel
{
public:
    explicit AccessModel(QObject* parent = nullptr);

    void setAccesses(const std::vector<Access>& accesses);
};

} // namespace korvela
