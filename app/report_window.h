#pragma once

#include "core/database.h"
#include "core/status.h"
#include "core/prompts.h"
#include "core/system_services.h"
#include "core/word_processor.h"
#include "report/report_output.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace korvela {

class DatePicker;
struct ReportRecord;

// The program's one window: the report form, the search and command panel, the classification
// panel. Controls carry the names the rest of the program (and the tests) address them by.
class ReportWindow : public QWidget, private WordProcessorEvents
{
    Q_OBJECT
public:
    struct Services
    {
        ReportDatabase& database;
        Prompts& prompts;
        SystemServices& system;
        WordProcessorFactory wordProcessor; // may be empty: no word processor (tests)
    };

    explicit ReportWindow(Services services, QWidget* parent = nullptr);
    ~ReportWindow() override;

    // The load steps. A failure means the window must not be shown.
    Status load();

    // Report fields, in column order. a13 holds the examination date.
    QLineEdit* a1 = nullptr;
    QComboBox* a2 = nullptr;
    QLineEdit* a3 = nullptr;
    QLineEdit* a4 = nullptr;
    QLineEdit* a5 = nullptr;
    QLineEdit* a6 = nullptr;
    QComboBox* a7 = nullptr;
    QComboBox* a8 = nullptr;
    QComboBox* a9 = nullptr;
    QComboBox* a10 = nullptr;
    QLineEdit* a11 = nullptr;
    QLineEdit* a12 = nullptr;
    DatePicker* a13 = nullptr;
    QLineEdit* a14 = nullptr;
    std::array<QCheckBox*, 13> Check2{};
    QPushButton* Command2 = nullptr;

    // Top level.
    QWidget* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QWidget* Picture2 = nullptr;
    QWidget* Picture1 = nullptr;
    QWidget* Picture3 = nullptr;

    // Search and command panel.
    QLabel* lblSui2 = nullptr;
    QLabel* lblSui3 = nullptr;
    std::array<QLabel*, 3> Label2{};
    std::array<QLabel*, 2> Label3{};
    QLineEdit* b3 = nullptr;
    QLineEdit* b1 = nullptr;
    QLineEdit* b14 = nullptr;
    QLineEdit* b13 = nullptr;
    QLineEdit* b113 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* cmdAdd = nullptr;
    QPushButton* Command7 = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* Cmdprint = nullptr;
    QPushButton* cmddel = nullptr;
    QPushButton* cmdclose = nullptr;

    // Classification panel.
    std::array<QFrame*, 4> Frame1{};
    std::array<QRadioButton*, 10> Option1{};
    std::array<QRadioButton*, 10> Option2{};
    std::array<QRadioButton*, 4> Option3{};
    std::array<QRadioButton*, 4> Option4{};
    QPushButton* Command5 = nullptr;
    QPushButton* Command6 = nullptr;
    QFrame* Line1 = nullptr;
    QFrame* Line2 = nullptr;

    // Window state.
    ResultSet& SaveResults() { return *m_saveResults; }
    ResultSet& SearchResults() { return *m_searchResults; }
    SaveLock saveLock() const { return m_saveLock; }
    WordProcessor* app1() const { return m_app1.get(); }

    // Transfers between the report fields and the report record.
    ReportRecord ReadReportForm() const;
    Status ShowReportRow(const ResultSet& row);
    void ClearReportForm();

    // Handlers, named after their control and event.
    void cmdAdd_Click();
    void cmdSave_Click();
    void cmddel_Click();
    void cmdclose_Click();
    void Command1_Click();
    void Command3_Click();
    void Command4_Click();
    void Command2_Click();
    void Command5_Click();
    void Command6_Click();
    void Cmdprint_Click();
    void Command7_Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Each part of the window connects its own handlers, in its own file.
    void buildLayout();            // report_window_layout.cpp
    void connectRecordHandlers();  // report_window_records.cpp
    void connectSearchHandlers();  // report_window_search.cpp
    void connectClassificationHandlers(); // report_window_classification.cpp
    void connectReportHandlers();  // report_window_report.cpp
    void Form_KeyPress(int keyAscii);
    void Form_Unload();
    // Closes the report document, quits the word processor, closes the result sets and the
    // connection; each step runs whatever became of the ones before it.
    void releaseResources();

    // Word-processor events.
    void documentBeforeClose(bool& cancel) override;
    void documentBeforeSave(bool saveAs, bool& cancel) override;
    void app1_DocumentBeforeClose(bool& cancel);
    void app1_DocumentBeforeSave(bool& cancel);

    Services m_services;
    std::unique_ptr<ResultSet> m_saveResults;
    std::unique_ptr<ResultSet> m_searchResults;
    std::unique_ptr<WordProcessor> m_app1;
    SaveLock m_saveLock = SaveLock::Locked;
    bool m_unloaded = false;
};

} // namespace korvela
