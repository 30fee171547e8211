#include "app/report_window.h"
#include "core/logging.h"
#include "office/libreoffice_word_processor.h"
#include "desktop/linux_system_services.h"
#include "desktop/qt_prompts.h"
#include "store/store_choice.h"
#include "app/startup.h"

#include <QApplication>
#include <QLocale>
#include <memory>

using namespace korvela;

namespace {

// The program's word processor: LibreOffice Writer, in a profile of this program folder's own.
// The first instance is launched by the start routine as soon as the program may run, so that it
// boots while the database opens and the window is built; the window's load only waits for it.
struct WordProcessorLaunch
{
    LibreOfficeSettings settings;
    std::unique_ptr<LibreOfficeWordProcessor> early;

    void launchEarly()
    {
        early = std::make_unique<LibreOfficeWordProcessor>(settings);
        (void)early->launch(); // a failure comes back when the window starts it
    }
};

WordProcessorFactory makeWordProcessor(WordProcessorLaunch& launch)
{
    return [&launch]() -> std::unique_ptr<WordProcessor> {
        if (launch.early)
            return std::move(launch.early);
        return std::make_unique<LibreOfficeWordProcessor>(launch.settings);
    };
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvela"));
    installChineseTranslations(app);

    LinuxSystemServices system(QApplication::applicationDirPath());
    QtPrompts prompts;
    std::unique_ptr<ReportDatabase> database;
    WordProcessorLaunch wordProcessor{
        {LibreOfficeWordProcessor::defaultProfileFolder(system.programFolder())}, {}};
    std::unique_ptr<ReportWindow> window;

    const StartOutcome outcome = startUp(
        system, prompts,
        [&] {
            wordProcessor.launchEarly();
            // A store refused is logged as the start's failure, with its reason.
            if (const Result<StoreChoice> choice = chooseStore(system.programFolder()))
                qCInfo(lcStore) << "the reports are in" << choice->description();
            Result<std::unique_ptr<ReportDatabase>> opened =
                openReportStore(system.programFolder(), std::chrono::seconds(5));
            if (!opened)
                return opened.status();
            database = std::move(*opened);
            return Status();
        },
        [&]() -> Status {
            window = std::make_unique<ReportWindow>(
                ReportWindow::Services{*database, prompts, system, makeWordProcessor(wordProcessor)});
            if (Status loaded = window->load(); !loaded)
                return loaded;
            prompts.setParent(window.get());
            window->show();
            return {};
        });
    if (outcome != StartOutcome::WindowShown) {
        window.reset();
        return 0;
    }
    const int rc = QApplication::exec();
    window.reset();
    return rc;
}
