#include "support/fake_word_processor.h"
#include "support/fakes.h"
#include "report/report_document.h"
#include "report/report_output.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace korvela;
using namespace korvela::test;

namespace {

struct FileNameCase
{
    const char16_t* number;
    const char16_t* name;
    const char16_t* file;
};

class ExportFileName : public ::testing::TestWithParam<FileNameCase>
{
};

TEST_P(ExportFileName, AlwaysLandsInDoc)
{
    const FileNameCase c = GetParam();
    const QString path = exportFileName(QStringLiteral("/srv/korvela"), QString::fromUtf16(c.number),
                                        QString::fromUtf16(c.name));
    EXPECT_EQ(path, u"/srv/korvela/doc/" + QString::fromUtf16(c.file));
    EXPECT_EQ(QFileInfo(path).absolutePath(), u"/srv/korvela/doc");
}

INSTANTIATE_TEST_SUITE_P(
    Names, ExportFileName,
    ::testing::Values(FileNameCase{u"A01", u"张三", u"A01（张三）.doc"},
                      FileNameCase{u"  A01 ", u"  张三  ", u"A01（张三）.doc"},
                      FileNameCase{u"A01", u"", u"A01（）.doc"}, FileNameCase{u"A01", u"   ", u"A01（）.doc"},
                      FileNameCase{u"A 01", u"张 三", u"A 01（张 三）.doc"},
                      FileNameCase{u"../../etc", u"x", u".._.._etc（x）.doc"},
                      FileNameCase{u"A/01", u"a\\b:c*d?e\"f<g>h|i", u"A_01（a_b_c_d_e_f_g_h_i）.doc"},
                      FileNameCase{u"A01\t", u"张\n三\x7f", u"A01_（张_三_）.doc"},
                      FileNameCase{u"..", u".", u"__（_）.doc"},
                      FileNameCase{u"\tA01", u"...", u"_A01（...）.doc"}));

TEST(ExportFileNameLength, ATooLongNameIsShortenedToWhatTheFileSystemTakesWithTheLockFile)
{
    const QString name(300, u'张'); // 900 bytes in UTF-8
    const QString path = exportFileName(QStringLiteral("/p"), QStringLiteral("A01"), name);
    const QString file = QFileInfo(path).fileName();
    EXPECT_LE(file.toUtf8().size(), 246);
    EXPECT_TRUE(file.startsWith(u"A01（张张"));
    EXPECT_TRUE(file.endsWith(u"）.doc"));

    // A character outside the basic plane is never split.
    const QString emoji = QString::fromUtf16(u"\U0001F600").repeated(100);
    const QString shortened = QFileInfo(exportFileName(QStringLiteral("/p"), emoji, emoji)).fileName();
    EXPECT_LE(shortened.toUtf8().size(), 246);
    EXPECT_FALSE(shortened.toUtf8().contains("\xEF\xBF\xBD")) << "no broken surrogate";
}

// Records every event with the state it was raised in, answering as the window's handlers do.
struct Observer : WordProcessorEvents
{
    WordProcessor* wordProcessor = nullptr;
    const SaveLock* saveLock = nullptr;
    QStringList seen;

    void documentBeforeClose(bool& cancel) override
    {
        seen << QStringLiteral("beforeClose");
        cancel = false;
        if (wordProcessor) {
            (void)wordProcessor->closeDocument();
            (void)wordProcessor->setVisible(false);
        }
    }
    void documentBeforeSave(bool, bool& cancel) override
    {
        const bool locked = *saveLock == SaveLock::Locked;
        seen << (locked ? QStringLiteral("beforeSave locked") : QStringLiteral("beforeSave open"));
        cancel = locked;
    }
};

struct Flows : ::testing::Test
{
    QTemporaryDir dir;
    FakeSystem system{dir.path()};
    std::shared_ptr<WordProcessorScript> script = std::make_shared<WordProcessorScript>();
    FakeWordProcessor wordProcessor{script};
    SaveLock saveLock = SaveLock::Locked;
    Observer observer;
    ReportRecord report;

    void SetUp() override
    {
        QFile pristine(dir.path() + u"/Tmp2.Tmp");
        ASSERT_TRUE(pristine.open(QIODevice::WriteOnly));
        QDir(dir.path()).mkdir(QStringLiteral("doc"));
        observer.wordProcessor = &wordProcessor;
        observer.saveLock = &saveLock;
        ASSERT_TRUE(wordProcessor.start(&observer).ok());
        report[Field::PatientName] = QStringLiteral(" 张三 ");
        report[Field::ScreeningNumber] = QStringLiteral("A01");
        script->calls.clear();
    }
};

TEST_F(Flows, ExportSavesProtectedAndClosesWithTheEventNestedInTheClose)
{
    Result<QString> exported = exportReport(system, wordProcessor, report, saveLock);
    ASSERT_TRUE(exported.ok()) << exported.failure().description.toStdString();
    EXPECT_EQ(*exported, dir.path() + u"/doc/A01（张三）.doc");
    EXPECT_EQ(script->protectedWith, u"dolmari4069152");
    EXPECT_EQ(script->savedPath, *exported);
    EXPECT_EQ(saveLock, SaveLock::Locked);
    const QString open = u"open " + dir.path() + u"/Tmp1.Tmp";
    EXPECT_EQ(
        script->calls,
        QStringList({open, QStringLiteral("replace"), QStringLiteral("collapse"), QStringLiteral("protect"),
                     QStringLiteral("beforeSave"), u"save " + *exported, QStringLiteral("close"),
                     QStringLiteral("beforeClose"), QStringLiteral("close again"), QStringLiteral("hide"),
                     QStringLiteral("afterBeforeClose"), QStringLiteral("hide")}));
    // The export's own save is let through because the lock is open just then.
    EXPECT_EQ(observer.seen,
              QStringList({QStringLiteral("beforeSave open"), QStringLiteral("beforeClose")}));
    EXPECT_FALSE(wordProcessor.hasOpenDocument());
    EXPECT_FALSE(script->visible);
}

TEST_F(Flows, ExportFailuresLeaveTheSaveLockedAndNoReportOpen)
{
    for (const char* step : {"open", "replace", "protect", "save", "hide"}) {
        SCOPED_TRACE(step);
        script->failOn.clear();
        script->failOn[QString::fromLatin1(step)] = Failure{99, QStringLiteral("出错")};
        Result<QString> exported = exportReport(system, wordProcessor, report, saveLock);
        ASSERT_FALSE(exported.ok());
        EXPECT_EQ(exported.failure().code, 99);
        EXPECT_EQ(saveLock, SaveLock::Locked);
        EXPECT_FALSE(wordProcessor.hasOpenDocument());
    }
}

TEST_F(Flows, ExportWithoutTheDocFolderTouchesNothing)
{
    ASSERT_TRUE(QDir(dir.path()).rmdir(QStringLiteral("doc")));
    Result<QString> exported = exportReport(system, wordProcessor, report, saveLock);
    ASSERT_FALSE(exported.ok());
    EXPECT_TRUE(exported.failure().description.contains(QStringLiteral("doc")));
    EXPECT_TRUE(script->calls.isEmpty());
    EXPECT_FALSE(QFile::exists(dir.path() + u"/Tmp1.Tmp"));
}

TEST_F(Flows, ASaveRefusedByTheWindowFailsTheExport)
{
    // A window whose lock does not open for the save: the export must not claim success.
    struct Refusing : WordProcessorEvents
    {
        void documentBeforeClose(bool& cancel) override { cancel = false; }
        void documentBeforeSave(bool, bool& cancel) override { cancel = true; }
    } refusing;
    ASSERT_TRUE(wordProcessor.start(&refusing).ok());
    Result<QString> exported = exportReport(system, wordProcessor, report, saveLock);
    EXPECT_FALSE(exported.ok());
    EXPECT_TRUE(script->savedPath.isEmpty());
}

TEST_F(Flows, PrintMinimisesBetweenFillAndShow)
{
    bool minimised = false;
    ASSERT_TRUE(printReport(system, wordProcessor, report, [&] {
                    minimised = true;
                    script->calls << QStringLiteral("minimise");
                }).ok());
    EXPECT_TRUE(minimised);
    EXPECT_EQ(script->calls.mid(1),
              QStringList({QStringLiteral("replace"), QStringLiteral("collapse"), QStringLiteral("minimise"),
                           QStringLiteral("maximize"), QStringLiteral("show")}));
    EXPECT_TRUE(wordProcessor.hasOpenDocument());
    EXPECT_TRUE(script->visible && script->maximized);
}

TEST_F(Flows, AFailedPrintLeavesNoReportOpen)
{
    script->failOn[QStringLiteral("maximize")] = Failure{29, QStringLiteral("窗口")};
    const Status printed = printReport(system, wordProcessor, report, [] {});
    ASSERT_FALSE(printed.ok());
    EXPECT_EQ(printed.failure().code, 29);
    EXPECT_FALSE(wordProcessor.hasOpenDocument());
    EXPECT_TRUE(observer.seen.contains(QStringLiteral("beforeClose")));
}

TEST_F(Flows, AReportTooLongForTheSheetIsRefusedBeforeTheWordProcessorIsTouched)
{
    // Up to the limit the report goes out, whichever fields hold the text.
    report[Field::PatientName].clear();
    report[Field::ScreeningNumber] = QStringLiteral("A01");
    report[Field::ClinicalExamination] = QString(kMaxReportCharacters - 3 - 2, u'长');
    report[Field::Physician] = QStringLiteral("李四");
    ASSERT_TRUE(exportReport(system, wordProcessor, report, saveLock).ok());
    ASSERT_TRUE(printReport(system, wordProcessor, report, [] {}).ok());
    (void)wordProcessor.closeDocument();

    report[Field::RecommendedHandling] = QStringLiteral("x");
    script->calls.clear();
    bool minimised = false;
    const Status printed = printReport(system, wordProcessor, report, [&] { minimised = true; });
    ASSERT_FALSE(printed.ok());
    EXPECT_TRUE(printed.failure().description.contains(QString::number(kMaxReportCharacters + 1)))
        << printed.failure().description.toStdString();
    Result<QString> exported = exportReport(system, wordProcessor, report, saveLock);
    ASSERT_FALSE(exported.ok());
    EXPECT_EQ(exported.failure().description, printed.failure().description);
    EXPECT_TRUE(script->calls.isEmpty());
    EXPECT_FALSE(minimised);
    EXPECT_EQ(saveLock, SaveLock::Locked);
}

TEST(EnsureWordProcessor, ReplacesAnEndedInstanceAndKeepsARunningOne)
{
    auto script = std::make_shared<WordProcessorScript>();
    Observer events;
    std::unique_ptr<WordProcessor> app;
    const WordProcessorFactory make = FakeWordProcessor::factory(script);

    ASSERT_TRUE(ensureWordProcessor(app, make, events).ok());
    EXPECT_EQ(script->instancesMade, 1);
    EXPECT_EQ(script->calls, QStringList({QStringLiteral("start"), QStringLiteral("options")}));
    WordProcessor* first = app.get();
    ASSERT_TRUE(ensureWordProcessor(app, make, events).ok());
    EXPECT_EQ(app.get(), first);

    static_cast<FakeWordProcessor*>(app.get())->kill();
    ASSERT_TRUE(ensureWordProcessor(app, make, events).ok());
    EXPECT_EQ(script->instancesMade, 2);
    EXPECT_TRUE(app->isRunning());

    std::unique_ptr<WordProcessor> none;
    EXPECT_FALSE(ensureWordProcessor(none, WordProcessorFactory{}, events).ok());
    script->failOn[QStringLiteral("start")] = Failure{21, QStringLiteral("无法启动")};
    static_cast<FakeWordProcessor*>(app.get())->kill();
    const Status restarted = ensureWordProcessor(app, make, events);
    ASSERT_FALSE(restarted.ok());
    EXPECT_EQ(restarted.failure().code, 21);
}

} // namespace
