#pragma once

#include "search/search_statement.h"

#include <QObject>

#include <array>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace korvela {

class PictureBox;
class TabOrder;

// What the five search boxes hold, as typed.
struct SearchBoxes
{
    QString number;    // b3
    QString name;      // b1
    QString physician; // b14
    QString from;      // b13
    QString to;        // b113
};

// The filled boxes as the access log records a search: "筛查编号=SC*; 姓名=王*; 主检医师=李*;
// 日期从=2024-3-1; 日期到=2024-3-31", each trimmed of blanks, a prefix marked with "*"; empty when
// every box is.
QString describeSearch(const SearchBoxes& boxes);

// The green panel at the right (Picture1): the search boxes, the browse buttons, the buttons of
// the report's commands and the credit line. It only reads and reports; the window acts.
class SearchPanel : public QObject
{
    Q_OBJECT
public:
    SearchPanel(QWidget* window, TabOrder& tabs);

    QWidget* widget() const;
    SearchBoxes boxes() const;
    // Puts the focus into the date box a failed search names, its text selected.
    void focusUnreadableDate(int failureCode);
    void setBrowseEnabled(bool enabled);
    void setCreditLine(const QString& text);

    // The buttons that stay disabled while their command runs.
    QPushButton* saveButton() const;
    QPushButton* exportButton() const;

signals:
    void searchRequested();
    void previousRequested();
    void nextRequested();
    void clearRequested();
    void exportRequested();
    void saveRequested();
    void printRequested();
    void deleteRequested();
    void closeRequested();

private:
    QPushButton* button(const char* name) const;

    PictureBox* m_panel = nullptr;
    std::array<QLineEdit*, 5> m_boxes{};
    QLabel* m_credit = nullptr;
};

} // namespace korvela
