#pragma once

#include "app/report_window.h"
#include "records/report_record.h"
#include "support/fakes.h"
#include "support/temp_database.h"
#include "support/test_store.h"

#include <QWidget>

#include <memory>

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

// Drives a window the way a user does, by the names its controls carry: the report fields a1..a14
// and Check2(0)..Check2(12), the search boxes b1, b3, b13, b14 and b113, the buttons, the labels.
// A name the window does not have fails the test.
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
    // The report the fields show, read through the field table.
    ReportRecord shownReport() const;

private:
    [[noreturn]] void missing(const QString& name) const;
    QWidget* m_window;
};

// The real main window, loaded, on a real database in a temporary program folder, with prompts
// and system services that tests answer and inspect.
class WindowFixture : public WindowDriver
{
public:
    // `wordProcessor` may be empty: the window then has none.
    // `serverDatabase`: a second workstation on that server database.
    explicit WindowFixture(WordProcessorFactory wordProcessor = {}, StoreKind kind = StoreKind::Sqlite,
                           const QString& serverDatabase = {});
    ~WindowFixture();


    TestStore store;
    const TempProgramFolder& folder = store.folder();
    ReportDatabase& database = store.db();
    FakeSystem system;
    FakePrompts prompts;

private:
    std::unique_ptr<ReportWindow> m_form;
};

} // namespace korvela::test
