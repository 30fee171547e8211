#include "form1.h"
#include "linux_system_services.h"
#include "qt_prompts.h"
#include "sqlite_database.h"
#include "startup.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

using namespace korvela;

namespace {

// The program speaks Simplified Chinese whatever the machine's language, message-box buttons
// included.
void installChineseTranslations(QApplication& app)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const char* name : {"qtbase_zh_CN", "qt_zh_CN"}) {
        auto* translator = new QTranslator(&app);
        if (translator->load(QString::fromLatin1(name), folder))
            QApplication::installTranslator(translator);
        else
            delete translator;
    }
}

// The program's word processor. Until the LibreOffice bridge is built in, there is none.
WordProcessorFactory makeWordProcessor()
{
    return {};
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvela"));
    installChineseTranslations(app);

    LinuxSystemServices system(QApplication::applicationDirPath());
    QtPrompts prompts;
    SqliteReportDatabase database;
    std::unique_ptr<Form1> window;

    const StartOutcome outcome = startUp(
        system, prompts,
        [&] { return database.open(databasePath(system.programFolder()), std::chrono::seconds(5)); },
        [&]() -> Status {
            window = std::make_unique<Form1>(Form1::Services{database, prompts, system, makeWordProcessor()});
            if (Status loaded = window->Form_Load(); !loaded)
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
