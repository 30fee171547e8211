#pragma once

#include <QObject>
#include <span>

class QAbstractItemModel;
class QBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;
class QVBoxLayout;
class QWidget;

namespace korvela {

// What a tab calls the parts every tab has. Their names begin with `prefix`: "followUp" names the
// tab followUpTab and its parts followUpRefresh, followUpCsv, followUpPdf, followUpPrint,
// followUpProgress, followUpStatus and followUpTable. The others are spoken names, but for the
// caption of the table's label; the outputs' spoken names say `what` they write.
struct TabTexts
{
    const char* prefix;
    const char16_t* tab;
    const char16_t* what;
    const char16_t* refresh;
    const char16_t* progress;
    const char16_t* status;
    const char16_t* table;
    const char16_t* tableDescription;
    const char16_t* tableLabel;
};

// The space between the groups of controls in a row, in pixels.
inline constexpr int kGroupSpace = 12;

// A control a tab chooses with, in the row at its top: its name, its spoken name, the caption of
// the label before it (none: nullptr) and the space before that.
struct ChoiceText
{
    const char* name;
    const char16_t* spoken;
    const char16_t* label = nullptr;
    int spaceBefore = 0;
};

// Names a control and gives it its spoken name.
template <typename W> W* named(W* control, const ChoiceText& text)
{
    control->setObjectName(QString::fromLatin1(text.name));
    control->setAccessibleName(QString::fromUtf16(text.spoken));
    return control;
}

// The parts both tabs have: 刷新 at the end of the row of choices, under it the three outputs,
// the progress of a reading and the line saying what is shown, and the table of `model`. It only
// shows and reports; the tab acts.
class TabFrame : public QObject
{
    Q_OBJECT
public:
    TabFrame(QWidget* tab, const TabTexts& texts, QAbstractItemModel& model);

    // Lays the tab out: its choices (controls of the tab named in `choices`, in the order they stand
    // on the screen) each after its label, 刷新, then the row of outputs. The keyboard walks them in
    // that order, then the table. The tab adds what comes below to the layout returned.
    QVBoxLayout* layOut(std::span<const ChoiceText> choices);
    // Adds the table, under its label, to `layout`.
    void addTable(QBoxLayout* layout, int stretch);
    QTableView* table() const { return m_table; }

    // A reading begins, saying so in the status line; it ends.
    void readingStarted(const QString& note);
    void readingEnded();
    void setRefreshEnabled(bool enabled);
    void say(const QString& status);

signals:
    void refreshRequested();
    void csvRequested();
    void pdfRequested();
    void printRequested();

private:
    QWidget* m_tab;
    QPushButton* m_refresh;
    QPushButton* m_outputs[3];
    QProgressBar* m_progress;
    QLabel* m_status;
    QTableView* m_table;
    QLabel* m_tableLabel;
};

} // namespace korvela
