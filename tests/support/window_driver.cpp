#include "support/window_driver.h"

#include "widgets/date_picker.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <stdexcept>

namespace korvela::test {

void WindowDriver::missing(const QString& name) const
{
    ADD_FAILURE() << "the window has no control " << name.toStdString() << " of the type asked for";
    throw std::runtime_error("missing control " + name.toStdString());
}

QLineEdit* WindowDriver::lineEdit(const QString& name) const { return find<QLineEdit>(name); }
QComboBox* WindowDriver::comboBox(const QString& name) const { return find<QComboBox>(name); }
QCheckBox* WindowDriver::checkBox(const QString& name) const { return find<QCheckBox>(name); }
QPushButton* WindowDriver::button(const QString& name) const { return find<QPushButton>(name); }
QLabel* WindowDriver::label(const QString& name) const { return find<QLabel>(name); }
DatePicker* WindowDriver::datePicker() const { return find<DatePicker>(QStringLiteral("a13")); }

QCheckBox* WindowDriver::option(int i) const
{
    return checkBox(QStringLiteral("Check2(%1)").arg(i));
}

QLineEdit* WindowDriver::field(Field f) const
{
    const QString name = controlName(f);
    if (fieldInfo(f).kind == FieldKind::List)
        return comboBox(name)->lineEdit();
    return lineEdit(name);
}

void WindowDriver::type(const QString& name, const QString& text) const
{
    QWidget* w = widget(name);
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        combo->setEditText(text);
        return;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(text);
        return;
    }
    missing(name);
}

QString WindowDriver::text(const QString& name) const
{
    QWidget* w = widget(name);
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->currentText();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    missing(name);
}

void WindowDriver::click(const QString& name) const
{
    QTest::mouseClick(find<QAbstractButton>(name), Qt::LeftButton);
}

void WindowDriver::search(const QString& b3, const QString& b1, const QString& b14, const QString& b13,
                          const QString& b113) const
{
    type(QStringLiteral("b3"), b3);
    type(QStringLiteral("b1"), b1);
    type(QStringLiteral("b14"), b14);
    type(QStringLiteral("b13"), b13);
    type(QStringLiteral("b113"), b113);
    click(QStringLiteral("Command1"));
}

void WindowDriver::pick(const QString& name, const QString& item) const
{
    QComboBox* box = comboBox(name);
    box->setFocus();
    const int target = box->findText(item);
    ASSERT_GE(target, 0) << name.toStdString() << " has no entry " << item.toStdString();
    while (box->currentIndex() < target)
        QTest::keyClick(box, Qt::Key_Down);
    while (box->currentIndex() > target)
        QTest::keyClick(box, Qt::Key_Up);
}

ReportRecord WindowDriver::shownReport() const
{
    ReportRecord r;
    for (const FieldInfo& f : reportFields()) {
        switch (f.kind) {
        case FieldKind::Text:
        case FieldKind::List:
            r[f.id] = field(f.id)->text();
            break;
        case FieldKind::Date:
            r.examDate = datePicker()->value();
            break;
        case FieldKind::Option:
            r.checked(f.id) = checkBox(controlName(f.id))->isChecked();
            break;
        }
    }
    return r;
}

} // namespace korvela::test
