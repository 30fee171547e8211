#pragma once

#include "records/report_record.h"

#include <QObject>

#include <array>

class QCheckBox;
class QColor;
class QComboBox;
class QLineEdit;
class QPushButton;
class QWidget;

namespace korvela {

class DatePicker;
class PictureBox;
class TabOrder;

// The report sheet: the painted form (Picture2) whose cells hold the 27 report fields, one
// control per field of the field table, and the "..." button that opens the classification
// panel. The fields are the working copy of the report; nothing else holds the report being
// written.
class ReportSheet : public QObject
{
    Q_OBJECT
public:
    ReportSheet(QWidget* window, TabOrder& tabs);

    QWidget* widget() const;

    // The fields' values: texts untrimmed, the date, each option checked or not.
    ReportRecord read() const;
    void show(const ReportRecord& report);
    // Empty texts, today's date, no option checked; the lists keep their items.
    void clear();
    // The lists' items (ages 1 to 100, grades 0 to 6), the texts left empty.
    void fillLists();
    void setMammographyFindings(const QString& text);
    void focusFirstField();

signals:
    void classificationRequested();

private:
    QLineEdit* textOf(Field field) const;

    PictureBox* m_sheet = nullptr;
    // By field: the text of a text or list field (a list box's text field), the list box itself,
    // the check box of an option.
    std::array<QLineEdit*, kFieldCount> m_texts{};
    std::array<QComboBox*, kFieldCount> m_lists{};
    std::array<QCheckBox*, kFieldCount> m_options{};
    DatePicker* m_examDate = nullptr;
    QPushButton* m_chooseClassification = nullptr;
};

} // namespace korvela
