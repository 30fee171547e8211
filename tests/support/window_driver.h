#pragma once

#include "records/report_record.h"

#include <QWidget>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace korvela {
class DatePicker;
}

namespace korvela::test {

// Drives a window the way a user does, by the names its controls carry: the report window's fields
// a1..a14 and Check2(0)..Check2(12), its search boxes b1, b3, b13, b14 and b113, the buttons, the
// labels; the review window's followUpRange, auditTable ... A name the window does not have fails
// the test.
class WindowDriver
{
public:
    explicit WindowDriver(QWidget* window = nullptr)
        : m_window(window)
    {}
    void setWindow(QWidget* window) { m_window = window; }
    QWidget& window() const { return *m_window; }

    // The control of that name, of that type.
    template <typename W> W* find(const QString& name) const
    {
        W* control = m_window->findChild<W*>(name);
        if (!control)
            missing(name);
        return control;
    }
    QWidget* widget(const QString& name) const { return find<QWidget>(name); }
    QLineEdit* lineEdit(const QString& name) const;
    QComboBox* comboBox(const QString& name) const;
    QCheckBox* checkBox(const QString& name) const;
    QPushButton* button(const QString& name) const;
    QLabel* label(const QString& name) const;
    DatePicker* datePicker() const; // a13
    QCheckBox* option(int i) const; // Check2(i)
    QLineEdit* field(Field field) const; // a text field, or a list field's text

    // Replaces the text of a text box, or of a list box's text field, as typing would.
    void type(const QString& name, const QString& text) const;
    // The text a text box, a list box or a label shows.
    QString text(const QString& name) const;
    // A left click in the middle of the button, as the user gives it: a disabled button ignores it.
    void click(const QString& name) const;
    // The report window's search: the five boxes b3, b1, b14, b13 and b113 filled, "查 询" clicked.
    void search(const QString& b3 = {}, const QString& b1 = {}, const QString& b14 = {}, const QString& b13 = {},
                const QString& b113 = {}) const;
    // Chooses the entry of a list box with the keyboard, as the user does, so the box says so.
    void pick(const QString& name, const QString& item) const;
    // The report the fields show, read through the field table.
    ReportRecord shownReport() const;

private:
    [[noreturn]] void missing(const QString& name) const;
    QWidget* m_window;
};

} // namespace korvela::test
