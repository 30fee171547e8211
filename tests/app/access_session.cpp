// The report window on the store of the program folder given (Data/Data.Dat, or the server of the
// service korvela), without a word processor: searches for the screening number given, prints
// "searched" and goes on running until it is killed.
#include "app/report_window.h"
#include "desktop/linux_system_services.h"
#include "desktop/qt_prompts.h"
#include "store/store_choice.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>

using namespace korvela;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    Result<std::unique_ptr<ReportDatabase>> store = openReportStore(folder, std::chrono::seconds(5));
    if (!store) {
        std::fprintf(stderr, "%s\n", qPrintable(store.failure().description));
        return 1;
    }
    LinuxSystemServices system(folder);
    QtPrompts prompts;
    ReportWindow window({**store, prompts, system, {}});
    if (!window.load())
        return 1;
    window.show();
    window.findChild<QLineEdit*>(QStringLiteral("b3"))->setText(QString::fromLocal8Bit(argv[2]));
    window.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    std::printf("searched\n");
    std::fflush(stdout);
    return QApplication::exec();
}
