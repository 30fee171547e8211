// korvela-review: Korvela 随访与统计, the follow-up due list, the grade audit and the history of the
// department's reports. It reads the store the report program is configured with; it writes to it
// only when 恢复此版本 saves an earlier version of a report.

#include "core/logging.h"
#include "desktop/qt_file_chooser.h"
#include "desktop/qt_prompts.h"
#include "review/review_window.h"
#include "store/store_choice.h"

#include <QApplication>

using namespace korvela;

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("korvela-review"));
    QApplication::setApplicationDisplayName(QStringLiteral("Korvela 随访与统计"));
    QGuiApplication::setDesktopFileName(QStringLiteral("korvela-review"));
    installChineseTranslations(app);

    // The program folder is the executable's, as for the report program beside it.
    const QString folder = QApplication::applicationDirPath();
    qCInfo(lcStore) << "the reports are read from" << reportStoreName(folder);
    QtPrompts prompts;
    QtFileChooser files;
    // The store is read on the window's worker thread; a failure names the store it could not open.
    // 恢复此版本 opens it for writing, waiting for locks as the report program does.
    const auto opener = [folder](StoreAccess access) -> StoreOpener {
        return [folder, access]() -> Result<std::unique_ptr<ReportDatabase>> {
            Result<std::unique_ptr<ReportDatabase>> opened =
                openReportStore(folder, std::chrono::seconds(5), access);
            if (!opened)
                return Failure{opened.failure().code,
                               QStringLiteral("无法打开报告数据库 %1：%2")
                                   .arg(reportStoreName(folder), opened.failure().description)};
            return opened;
        };
    };
    ReviewServices services{opener(StoreAccess::ReadOnly), opener(StoreAccess::ReadWrite), prompts, files};
    ReviewWindow window(std::move(services));
    prompts.setParent(&window);
    files.setParent(&window);
    window.show();
    return QApplication::exec();
}
