#pragma once

#include "core/database.h"
#include "core/prompts.h"
#include "core/status.h"
#include "core/system_services.h"
#include "core/word_processor.h"
#include "report/report_output.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QTimer;

namespace korvela {

class AccessLog;
class ClassificationPanel;
class FoundReports;
class ReportSheet;
class ReportStore;
class SearchPanel;
struct ReportRecord;

// The program's one window, laid out like the paper report sheet: the report sheet with the
// report's fields, the search panel with the commands, and the classification panel over them
// when it is open. Its controls carry the names screen readers and the tests address them by.
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

    // The load steps: empty fields, the lists, the word processor, the doc folder. A failure means
    // the window must not be shown.
    Status load();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void saveReport();
    void deleteReport();
    void clearReport();
    void search();
    void showPrevious();
    void showNext();
    void printReport();
    void exportReport();
    void openClassification();
    void chooseClassification(const QString& findings);
    void closeClassification();
    void closeWindow();

private:
    void buildWindow();
    void askToQuit();
    void showFoundCount(int count);
    void fitFoundCount();
    // Puts found reports into the report fields, noting in `shown` the row id of the last one.
    std::function<Status(std::int64_t, const ReportRecord&)> showing(std::optional<std::int64_t>& shown);
    void browse(bool forward);
    // The row id of the found report the fields show, while they hold its screening number.
    std::optional<std::int64_t> shownReportId(const ReportRecord& report) const;
    // Queues the view of the found report shown, if one was; whatever is queued is written within
    // two seconds, and at the end.
    void logAccess(std::optional<std::int64_t> shownRowid = std::nullopt);
    void flushAccessLog();
    bool wordProcessorReady(Status& status);
    void unload();
    // Closes the report document, quits the word processor, forgets the found reports and closes
    // the connection; each step runs whatever became of the ones before it.
    void releaseResources();

    // Word-processor events.
    void documentBeforeClose(bool& cancel) override;
    void documentBeforeSave(bool saveAs, bool& cancel) override;

    Services m_services;
    ReportSheet* m_sheet = nullptr;
    SearchPanel* m_searchPanel = nullptr;
    ClassificationPanel* m_classification = nullptr;
    QLabel* m_foundCount = nullptr;
    std::unique_ptr<ReportStore> m_store;
    std::unique_ptr<FoundReports> m_found;
    std::unique_ptr<WordProcessor> m_wordProcessor;
    std::unique_ptr<AccessLog> m_accessLog;
    QTimer* m_accessFlush = nullptr;
    bool m_accessFlushFailing = false;
    // The found report last shown: its row id and screening number.
    struct ShownReport
    {
        std::int64_t rowid = 0;
        QString number;
    };
    std::optional<ShownReport> m_shown;
    SaveLock m_saveLock = SaveLock::Locked;
    bool m_unloaded = false;
};

} // namespace korvela
