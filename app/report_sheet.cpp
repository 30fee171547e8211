#include "app/report_sheet.h"

#include "app/sheet_layout.h"
#include "widgets/date_picker.h"
#include "widgets/pictures.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace korvela {

ReportSheet::ReportSheet(QWidget* window, TabOrder& tabs)
    : QObject(window)
{
    // The system window colour: the background of text boxes.
    const QColor windowColour = window->palette().color(QPalette::Base);
    m_sheet = place(new PictureBox(reportFormPicture(), windowColour, window), QStringLiteral("Picture2"), 150,
                    1470, 10575, 4875);
    tabs.add(m_sheet, 28);

    // The labels are painted, so each field carries its label's words as its accessible name.
    for (const FieldInfo& field : reportFields()) {
        const std::size_t i = index(field.id);
        const QString name = accessibleName(field);
        QWidget* control = nullptr;
        switch (field.kind) {
        case FieldKind::Text:
            control = m_texts[i] = makeTextBox(m_sheet, name);
            break;
        case FieldKind::List:
            control = m_lists[i] = makeListBox(m_sheet, name);
            m_texts[i] = m_lists[i]->lineEdit();
            break;
        case FieldKind::Date:
            control = m_examDate = new DatePicker(m_sheet);
            m_examDate->setAccessibleName(name);
            break;
        case FieldKind::Option: {
            auto* box = new QCheckBox(m_sheet);
            box->setTristate(false);
            fillBackground(box, windowColour);
            box->setAccessibleName(name);
            control = m_options[i] = box;
            break;
        }
        }
        placeIn(control, QString::fromLatin1(field.control), field.cell);
        tabs.add(control, field.tabPosition);
    }

    m_chooseClassification = place(new QPushButton(QStringLiteral("..."), m_sheet), QStringLiteral("Command2"),
                                   9960, 1560, 405, 315);
    m_chooseClassification->setAccessibleName(QStringLiteral("选择钼靶分型"));
    tabs.add(m_chooseClassification, 80);
    connect(m_chooseClassification, &QPushButton::clicked, this, &ReportSheet::classificationRequested);
}

QWidget* ReportSheet::widget() const
{
    return m_sheet;
}

QLineEdit* ReportSheet::textOf(Field field) const
{
    return m_texts[index(field)];
}

ReportRecord ReportSheet::read() const
{
    ReportRecord report;
    for (const FieldInfo& field : reportFields()) {
        const std::size_t i = index(field.id);
        if (m_texts[i])
            report.texts[i] = m_texts[i]->text();
        else if (m_options[i])
            report.options[i] = m_options[i]->isChecked();
    }
    report.examDate = m_examDate->value();
    return report;
}

// A list box's text is set directly, whether or not the value is one of its items.
void ReportSheet::show(const ReportRecord& report)
{
    for (const FieldInfo& field : reportFields()) {
        const std::size_t i = index(field.id);
        if (m_texts[i])
            m_texts[i]->setText(report.texts[i]);
        else if (m_options[i])
            m_options[i]->setChecked(report.options[i]);
        else
            m_examDate->setValue(report.examDate);
    }
}

void ReportSheet::clear()
{
    ReportRecord empty;
    empty.examDate = QDate::currentDate();
    show(empty);
}

void ReportSheet::fillLists()
{
    for (const FieldInfo& field : reportFields()) {
        if (QComboBox* list = m_lists[index(field.id)]) {
            for (int n = field.listFirst; n <= field.listLast; ++n)
                list->addItem(QString::number(n));
            // Adding the first item to an editable list puts it in the text; the fields start empty.
            list->setEditText({});
        }
    }
}

void ReportSheet::setMammographyFindings(const QString& text)
{
    textOf(Field::MammographyFindings)->setText(text);
}

void ReportSheet::focusFirstField()
{
    textOf(Field::PatientName)->setFocus();
}

} // namespace korvela
