// The window with the real LibreOffice under hostile input and faults: whatever is typed is
// printed and exported literally and only into doc/, and an office that dies or is missing never
// takes the program with it. Needs a display (xvfb-run in CI).
#include "app/report_window.h"
#include "app/startup.h"
#include "office/libreoffice_word_processor.h"
#include "records/report_fields.h"
#include "reliability/hostile_texts.h"
#include "report/report_document.h"
#include "report/report_output.h"
#include "store/sqlite_database.h"
#include "store/store_choice.h"
#include "support/fakes.h"
#include "support/office_probe.h"
#include "support/temp_database.h"
#include "support/wait_until.h"
#include "support/window_fixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
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
// would show in the sandbox. The window is driven by its controls' names.
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
        form = std::make_unique<ReportWindow>(ReportWindow::Services{
            database, prompts, *system, [settings, this]() -> std::unique_ptr<WordProcessor> {
                auto office = std::make_unique<LibreOfficeWordProcessor>(settings);
                ++made;
                latest = office.get();
                return office;
            }});
        ui.setWindow(form.get());
        const Status loaded = form->load();
        ASSERT_TRUE(loaded.ok()) << loaded.failure().description.toStdString();
        ASSERT_TRUE(latest);
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

    // The instance the window works with: the one its factory made last.
    LibreOfficeWordProcessor& office() { return *latest; }
    bool minimised() const { return form->windowState() & Qt::WindowMinimized; }

    // Every text and list field gets `value`, the screening number `number`.
    void fillEveryField(const QString& number, const QString& value)
    {
        for (const FieldInfo& field : reportFields()) {
            if (field.kind == FieldKind::Text || field.kind == FieldKind::List)
                ui.type(controlName(field.id), field.id == Field::ScreeningNumber ? number : value);
        }
    }

    // Closes the shown report from its window as the user does, which brings the main window back.
    void closeAsTheUser()
    {
        ASSERT_TRUE(OfficeProbe(office()).dispatchInDocumentWindow(QStringLiteral(".uno:CloseWin")).ok());
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
        Result<QString> text = OfficeProbe(office()).documentText();
        (void)office().closeDocument();
        return text ? *text : QString();
    }

    static inline QTemporaryDir s_home; // one profile for the suite: only the first start sets it up
    QTemporaryDir sandbox;
    QString folder;
    std::unique_ptr<FakeSystem> system;
    FakePrompts prompts;
    SqliteReportDatabase database;
    int made = 0;
    LibreOfficeWordProcessor* latest = nullptr;
    std::unique_ptr<ReportWindow> form;
    WindowDriver ui;
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

        ui.click(QStringLiteral("Cmdprint"));
        ASSERT_TRUE(prompts.shown().empty()) << prompts.texts().join(u' ').toStdString();
        EXPECT_TRUE(minimised());
        EXPECT_TRUE(OfficeProbe(office()).documentWindowVisible());
        Result<QString> printed = OfficeProbe(office()).documentText();
        ASSERT_TRUE(printed.ok());
        EXPECT_TRUE(printed->contains(asFilled(number)));
        EXPECT_GE(printed->count(asFilled(value)), 12) << "every text field carries the value";
        for (const QString& placeholder : placeholderTexts())
            EXPECT_FALSE(printed->contains(placeholder, Qt::CaseInsensitive)) << placeholder.toStdString();
        closeAsTheUser();

        for (const QFileInfo& old : doc.entryInfoList(QDir::Files | QDir::Hidden))
            QFile::remove(old.filePath());
        const QSet<QString> before = sandboxFiles();
        ui.click(QStringLiteral("Command7"));
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
    ui.type(controlName(Field::ClinicalExamination), value);
    const ReportRecord typed = ui.shownReport();
    const QSet<QString> before = sandboxFiles();

    ui.click(QStringLiteral("Cmdprint"));
    ui.click(QStringLiteral("Command7"));
    ASSERT_EQ(prompts.shown().size(), 2u);
    EXPECT_TRUE(prompts.texts()[0].startsWith(QStringLiteral("报告未能送去打印：报告各项内容共")))
        << prompts.texts()[0].toStdString();
    EXPECT_TRUE(prompts.texts()[1].startsWith(QStringLiteral("报告文档未能保存：报告各项内容共")));
    EXPECT_FALSE(minimised());
    EXPECT_FALSE(office().hasOpenDocument());
    EXPECT_EQ(sandboxFiles(), before);
    EXPECT_EQ(ui.shownReport(), typed) << "nothing typed is lost";

    // Saved, it is kept whole.
    prompts.clear();
    ui.click(QStringLiteral("cmdSave"));
    EXPECT_EQ(prompts.texts(), QStringList{QStringLiteral("保存完毕！")});
}

TEST_F(OfficeWindow, AnOfficeKilledWhileTheReportIsShownBringsTheWindowBackAndIsReplaced)
{
    ui.type(controlName(Field::PatientName), QStringLiteral("张三"));
    ui.type(controlName(Field::ScreeningNumber), QStringLiteral("A01"));
    ui.click(QStringLiteral("Cmdprint"));
    ASSERT_TRUE(prompts.shown().empty()) << prompts.texts().join(u' ').toStdString();
    ASSERT_TRUE(minimised());
    const qint64 pid = OfficeProbe(office()).officeProcessId();
    ASSERT_GT(pid, 0);

    ::kill(static_cast<pid_t>(pid), SIGKILL);
    EXPECT_TRUE(waitUntil([&] { return !minimised(); })) << "the main window comes back";
    EXPECT_FALSE(office().hasOpenDocument());
    EXPECT_TRUE(prompts.shown().empty());

    ui.click(QStringLiteral("Cmdprint"));
    ASSERT_TRUE(prompts.shown().empty()) << prompts.texts().join(u' ').toStdString();
    EXPECT_EQ(made, 2);
    EXPECT_NE(OfficeProbe(office()).officeProcessId(), pid);
    EXPECT_TRUE(OfficeProbe(office()).documentWindowVisible());
    Result<QString> text = OfficeProbe(office()).documentText();
    ASSERT_TRUE(text.ok());
    EXPECT_TRUE(text->contains(QStringLiteral("张三")));
    closeAsTheUser();
}

TEST_F(OfficeWindow, AnOfficeKilledBetweenTwoExportsIsReplacedAtTheSecond)
{
    ui.type(controlName(Field::PatientName), QStringLiteral("张三"));
    ui.type(controlName(Field::ScreeningNumber), QStringLiteral("A01"));
    const QString file = exportFileName(folder, QStringLiteral("A01"), QStringLiteral("张三"));
    ui.click(QStringLiteral("Command7"));
    ASSERT_EQ(prompts.texts(), QStringList{kExported});
    ASSERT_TRUE(QFile::remove(file));
    const qint64 pid = OfficeProbe(office()).officeProcessId();
    ASSERT_GT(pid, 0);

    ::kill(static_cast<pid_t>(pid), SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return !office().isRunning(); }));
    ui.type(controlName(Field::PatientName), QStringLiteral("张三丰"));
    const QString second = exportFileName(folder, QStringLiteral("A01"), QStringLiteral("张三丰"));
    ui.click(QStringLiteral("Command7"));
    EXPECT_EQ(prompts.texts(), QStringList(2, kExported));
    EXPECT_EQ(made, 2);
    EXPECT_NE(OfficeProbe(office()).officeProcessId(), pid);
    EXPECT_FALSE(minimised());
    ASSERT_TRUE(QFile::exists(second));
    EXPECT_TRUE(exportedText(second).contains(QStringLiteral("张三丰")));

    // And the print after it works on the same fresh instance.
    prompts.clear();
    ui.click(QStringLiteral("Cmdprint"));
    ASSERT_TRUE(prompts.shown().empty()) << prompts.texts().join(u' ').toStdString();
    EXPECT_EQ(made, 2);
    EXPECT_TRUE(OfficeProbe(office()).documentWindowVisible());
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
