#pragma once

#include "review/history_models.h"
#include "review/review_output.h"
#include "review/review_services.h"

#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>

class QComboBox;
class QLineEdit;
class QPushButton;
class QSplitter;
class QTableView;

namespace korvela {

class DatePicker;
class TabFrame;

// 修改记录: the changes of the reports, newest first, chosen by screening number, person, action and
// days; for the change chosen, the report before and after it side by side and who looked at the
// reports of its screening number. 恢复此版本 saves a changed or deleted report's earlier version
// again, as the report window saves. Read when the tab is first shown, at 刷新 and whenever a
// choice changes.
class HistoryTab final : public QWidget
{
    Q_OBJECT
public:
    HistoryTab(ReviewWorker& worker, ReviewServices& services, QWidget* parent);

signals:
    void notice(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // What is read for the change chosen.
    struct Detail
    {
        std::optional<ChangeVersions> versions;
        std::vector<Access> accesses;
    };

    void makeChoices();
    QSplitter* makeDetail();
    void connectControls();
    ChangeFilter filter() const;
    void refresh();
    void showChanges(const Result<std::vector<Change>>& read, std::uint64_t request);
    void chooseChange();
    void showDetail(const Result<Detail>& read, std::uint64_t request);
    void restoreVersion();
    QString filterNote() const;
    QString fileName() const;
    ReviewDocument document(const ChangeListModel& shown) const;
    void exportCsv();
    void exportPdf();
    void print();

    ReviewWorker& m_worker;
    ReviewServices& m_services;
    ChangeListModel m_changes;
    VersionsModel m_versions;
    AccessModel m_accesses;
    std::uint64_t m_request = 0;
    std::uint64_t m_detailRequest = 0;
    bool m_shownOnce = false;
    // The change whose versions are shown.
    std::optional<Change> m_chosen;

    QLineEdit* m_number = nullptr;
    QLineEdit* m_who = nullptr;
    QComboBox* m_action = nullptr;
    DatePicker* m_from = nullptr;
    DatePicker* m_to = nullptr;
    TabFrame* m_frame = nullptr;
    QTableView* m_versionsTable = nullptr;
    QPushButton* m_restore = nullptr;
    QTableView* m_accessTable = nullptr;
};

} // namespace korvela
