#include "desktop/qt_file_chooser.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace korvela;

namespace {

// Answers the save dialog about to open: notes the folder it opened in, then chooses `path`, or
// cancels when `path` is empty.
void answerDialog(QStringList& openedIn, const QString& path)
{
    QTimer::singleShot(0, [&openedIn, path] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        openedIn << dialog->directory().absolutePath();
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog keeps its accept() protected
    });
}

TEST(SaveDialog, OpensInTheHomeFolderThenWhereTheLastFileWasChosen)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/导出";
    ASSERT_TRUE(QDir().mkdir(folder));
    QtFileChooser files;
    const SaveFileQuestion question{QStringLiteral("导出CSV文件"), QStringLiteral("名单.csv"),
                                    QStringLiteral("CSV文件 (*.csv)")};
    QStringList openedIn;

    answerDialog(openedIn, folder + u"/名单.csv");
    EXPECT_EQ(files.saveFileName(question), folder + u"/名单.csv");
    answerDialog(openedIn, {});
    EXPECT_TRUE(files.saveFileName(question).isEmpty());
    answerDialog(openedIn, {});
    (void)files.saveFileName(question);

    EXPECT_EQ(openedIn, (QStringList{QDir::homePath(), folder, folder})) << openedIn.join(u" ").toStdString();
}

} // namespace
