// The window with the real LibreOffice under hostile input and faults: whatever is typed is
// printed and exported literally and only into doc/, and an office that dies or is missing never
// takes the program with it. Needs a display (xvfb-run in CI).
#include "support/fakes.h"
#include "app/report_window.h"
#include "reliability/hostile_texts.h"
#include "office/libreoffice_word_processor.h"
#include "report/report_document.h"
#include "report/report_output.h"
#include "store/sqlite_database.h"
#include "app/startup.h"
#include "support/temp_database.h"
#include "support/wait_until.h"

#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <signal.h>

using namespace korvela;
using namespace korvela::test;

namespace {

// What a filled value reads as in the document: line ends are the office's line breaks.
QString asFilled(QString value)
{
    return value.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
}

const QString kExported = QStringLiteral("该报告文档已成功保存在doc文件夹下面！");

// The real window on a program folder three levels down a sandbox, with the real template, and a
// LibreOffice profile outside the sandbox: a file a path piece in a value sent up or sideways
// would show in the sandbox.
class OfficeWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY"))
            << "LibreOffice needs a display: run under xvfb-run";
        folder = sandbox.path() + u"/site/programs/korvela";
        ASSERT_TRUE(QDir().mkpath(folder + u"/Data"));
        TempProgramFolder empty;
        ASSERT_TRUE(QFile::copy(empty.databaseFile(), folder + u"/Data/Data.Dat"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(KORVELA_TEMPLATE), folder + u"/Tmp2.Tmp"));
        system = std::make_unique<FakeSystem>(folder);
        ASSERT_TRUE(database.open(folder + u"/Data/Data.Dat", std::chrono::seconds(5)).ok());
        LibreOfficeSettings settings;
        settings.profileFolder = s_home.path() + u"/profile";
        form = std::make_unique<ReportWindow>(ReportWindow::Services{database, prompts, *system, [settings, this] {
                                                           ++made;
                                                           return std::make_unique<LibreOfficeWordProcessor>(
                                                               settings);
                                                       }});
        const Status loaded = form->load();
        ASSERT_TRUE(loaded.ok()) << loaded.failure().description.toStdString();
        form->show();
    }
    void TearDown() override
    {
        if (!form)
            return;
        form->close();
        EXPECT_TRUE(system->ended);
        form.reset();
    }

    LibreOfficeWordProcessor& office() { return static_cast<LibreOfficeWordProcessor&>(*form->app1()); }
    bool minimised() const { return form->windowState() & Qt::WindowMinimized; }

    void fillEveryField(const QString& number, const QString& value)
    {
        for (QLineEdit* field : {form->a1, form->a4, form->a5, form->a6, form->a11, form->a12, form->a14})
            field->setText(value);
        for (QComboBox* box : {form->a2, form->a7, form->a8, form->a9, form->a10})
            box->setEditText(value);
        form->a3->setText(number);
    }

    // Closes the shown report from its window as the user does, which brings the main window back.
    void closeAsTheUser()
    {
        ASSERT_TRUE(office().dispatchInDocumentWindow(QStringLiteral(".uno:CloseWin")).ok());
        ASSERT_TRUE(waitUntil([&] { return !office().hasOpenDocument() && !minimised(); }));
    }

    // Every file in the sandbox but the database's own and the office's lock files.
    QSet<QString> sandboxFiles() const
    {
        QSet<QString> files;
        QDirIterator it(sandbox.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!path.startsWith(folder + u"/Data/") && !it.fileName().startsWith(u".~lock."))
                files.insert(path);
        }
        return files;
    }

    // The text of an exported file, read back in the office.
    QString exportedText(const QString& path)
    {
        const Status opened = office().openDocument(path);
        EXPECT_TRUE(opened.ok()) << opened.failure().description.toStdString();
        Result<QString> text = office().documentText();
        (void)office().closeDocument();
        return text ? *text : QString();
    }

    static inline QTemporaryDir s_home; // one profile for the suite: only the first start sets it up
    QTemporaryDir sandbox;
    QString folder;
    std::unique_ptr<FakeSystem> system;
    FakePrompts prompts;
    SqliteReportDatabase database;
    std::unique_ptr<ReportWindow> form;
    int made = 0;
};

TEST_F(OfficeWindow, HostileValuesArePrintedAndExportedLiterallyAndOnlyIntoDoc)
{
    const QDir doc(folder + u"/doc");
    for (const QString& value : hostileTexts()) {
        if (value.size() > kMaxReportCharacters)
            continue; // refused, below
        SCOPED_TRACE(shortName(value).toStdString());
        const QString number = u"K-" + value;
        fillEveryField(number, value);
        prompts.clear();

        form->Cmdprint_Click();
        ASSERT_TRUE(prompts.shown().empty()) << prompts.texts().join(u' ').toStdString();
        EXPECT_TRUE(minimised());
        EXPECT_TRUE(office().documentWindowVisible());
        Result<QString> printed = office().documentText();
        ASSERT_TRUE(printed.ok());
        EXPECT_TRUE(printed->contains(asFilled(number)));
        EXPECT_GE(printed->count(asFilled(value)), 12) << "every text field carries the value";
        for (const QString& placeholder : placeholderTexts())
            EXPECT_FALSE(printed->contains(placeholder, Qt::CaseInsensitive)) << placeholder.toStdString();
        closeAsTheUser();

        for (const QFileInfo& old : doc.entryInfoList(QDir::Files | QDir::Hidden))
            QFile::remove(old.filePath());
        const QSet<QString> before = sandboxFiles();
        form->Command7_Click();
        ASSERT_EQ(prompts.texts(), QStringList{kExported}) << prompts.texts().join(u' ').toStdString();
        EXPECT_FALSE(minimised());
        const QString expected = exportFileName(folder, number, value);
        EXPECT_EQ(QFileInfo(expected).absolutePath(), doc.absolutePath());
        EXPECT_EQ(sandboxFiles() - before, QSet<QString>{expected}) << "one new file, the export, in doc";

        const QString exported = exportedText(expected);
        EXPECT_TRUE(exported.contains(asFilled(number)));
        EXPECT_GE(exported.count(asFilled(value)), 12);
    }
}

TEST_F(OfficeWindow, AReportTooLongForTheSheetIsRefusedAndKeptInTheWindow)
{
    const QString value = hostileTexts().last();
    ASSERT_GT(value.size(), kMaxReportCharacters);
    fillEveryField(QStringLiteral("K-1"), QStringLiteral("x"));
    form->a4->setText(value);
    const ReportRecord typed = form->ReadReportForm();
    const QSet<QString> before = sandboxFiles();

    form->Cmdprint_Click();
    form->Command7_Click();
    ASSERT_EQ(prompts.shown().size(), 2u);
    EXPECT_TRUE(prompts.texts()[0].startsWith(QStringLiteral("报告未能送去打印：报告各项内容共")))
        << prompts.texts()[0].toStdString();
    EXPECT_TRUE(prompts.texts()[1].startsWith(QStringLiteral("报告文档未能保存：报告各项内容共")));
    EXPECT_FALSE(minimised());
    EXPECT_FALSE(office().hasOpenDocument());
    EXPECT_EQ(sandboxFiles(), before);
    EXPECT_EQ(form->ReadReportForm(), typed) << "nothing typed is lost";

    // Saved, it is kept whole.
    prompts.clear();
    form->cmdSave_Click();
    EXPECT_EQ(prompts.texts(), QStringList{QStringLiteral("保存完毕！")});
}

TEST_F(OfficeWindow, AnOfficeKilledWhileTheReportIsShownBringsTheWindowBackAndIsReplaced)
{
    form->a1->setText(QStringLiteral("张三"));
    form->a3->setText(QStringLiteral("A01"));
    form->Cmdprint_Click();
    ASSERT_TRUE(prompts.shown().empty()) << prompts.texts().join(u' ').toStdString();
    ASSERT_TRUE(minimised());
    const qint64 pid = office().officeProcessId();
    ASSERT_GT(pid, 0);

    ::kill(static_cast<pid_t>(pid), SIGKILL);
    EXPECT_TRUE(waitUntil([&] { return !minimised(); })) << "the main window comes back";
    EXPECT_FALSE(office().hasOpenDocument());
    EXPECT_TRUE(prompts.shown().empty());

    form->Cmdprint_Click();
    ASSERT_TRUE(prompts.shown().empty()) << prompts.texts().join(u' ').toStdString();
    EXPECT_EQ(made, 2);
    EXPECT_NE(office().officeProcessId(), pid);
    EXPECT_TRUE(office().documentWindowVisible());
    Result<QString> text = office().documentText();
    ASSERT_TRUE(text.ok());
    EXPECT_TRUE(text->contains(QStringLiteral("张三")));
    closeAsTheUser();
}

TEST_F(OfficeWindow, AnOfficeKilledBetweenTwoExportsIsReplacedAtTheSecond)
{
    form->a1->setText(QStringLiteral("张三"));
    form->a3->setText(QStringLiteral("A01"));
    const QString file = exportFileName(folder, QStringLiteral("A01"), QStringLiteral("张三"));
    form->Command7_Click();
    ASSERT_EQ(prompts.texts(), QStringList{kExported});
    ASSERT_TRUE(QFile::remove(file));
    const qint64 pid = office().officeProcessId();
    ASSERT_GT(pid, 0);

    ::kill(static_cast<pid_t>(pid), SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return !office().isRunning(); }));
    form->a1->setText(QStringLiteral("张三丰"));
    const QString second = exportFileName(folder, QStringLiteral("A01"), QStringLiteral("张三丰"));
    form->Command7_Click();
    EXPECT_EQ(prompts.texts(), QStringList(2, kExported));
    EXPECT_EQ(made, 2);
    EXPECT_NE(office().officeProcessId(), pid);
    EXPECT_FALSE(minimised());
    ASSERT_TRUE(QFile::exists(second));
    EXPECT_TRUE(exportedText(second).contains(QStringLiteral("张三丰")));

    // And the print after it works on the same fresh instance.
    prompts.clear();
    form->Cmdprint_Click();
    ASSERT_TRUE(prompts.shown().empty()) << prompts.texts().join(u' ').toStdString();
    EXPECT_EQ(made, 2);
    EXPECT_TRUE(office().documentWindowVisible());
    closeAsTheUser();
}

// The start routine with the real word processor, whose program is not installed.
TEST(MissingOffice, TheStartEndsWithTheInitialisationFailure)
{
    TempProgramFolder folder;
    QTemporaryDir home;
    FakeSystem system(folder.path());
    FakePrompts prompts;
    SqliteReportDatabase database;
    LibreOfficeSettings settings;
    settings.profileFolder = home.path() + u"/profile";
    settings.soffice = home.path() + u"/not-installed/soffice";
    std::unique_ptr<ReportWindow> window;

    const StartOutcome outcome = startUp(
        system, prompts, [&] { return database.open(databasePath(folder.path()), std::chrono::seconds(5)); },
        [&]() -> Status {
            window = std::make_unique<ReportWindow>(ReportWindow::Services{
                database, prompts, system, [settings] { return std::make_unique<LibreOfficeWordProcessor>(settings); }});
            if (Status loaded = window->load(); !loaded)
                return loaded;
            window->show();
            return {};
        });
    EXPECT_EQ(outcome, StartOutcome::InitFailed);
    EXPECT_EQ(prompts.texts(), QStringList{QStringLiteral("数据初使化失败！")});
    ASSERT_TRUE(window);
    EXPECT_FALSE(window->isVisible());
}

} // namespace
