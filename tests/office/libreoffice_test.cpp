// The report documents against the real LibreOffice: one private instance for the whole suite,
// on a display (xvfb-run in CI).
#include "office/libreoffice_doc_protection.h"
#include "office/libreoffice_process.h"
#include "office/libreoffice_word_processor.h"
#include "report/report_document.h"
#include "report/report_output.h"
#include "support/fakes.h"
#include "support/office_probe.h"
#include "support/wait_until.h"
#include "support/window_fixture.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <signal.h>

using namespace korvela;
using namespace korvela::test;

namespace {

QByteArray digest(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
}

// Records the events the office sends, and answers them as the window does, from a save lock of
// its own or the one a test points it to.
struct RecordingEvents : WordProcessorEvents
{
    SaveLock ownLock = SaveLock::Locked;
    SaveLock* saveLock = &ownLock;
    int beforeClose = 0;
    int beforeSave = 0;

    void reset()
    {
        ownLock = SaveLock::Locked;
        saveLock = &ownLock;
        beforeClose = beforeSave = 0;
    }
    void documentBeforeClose(bool& cancel) override
    {
        ++beforeClose;
        cancel = false;
    }
    void documentBeforeSave(bool, bool& cancel) override
    {
        ++beforeSave;
        cancel = *saveLock == SaveLock::Locked;
    }
};

LibreOfficeSettings settingsIn(const QString& folder)
{
    LibreOfficeSettings s;
    s.profileFolder = folder + u"/profile";
    return s;
}

// A program folder with the real template beside it.
struct ProgramFolder
{
    QTemporaryDir dir;
    FakeSystem system{dir.path()};
    ProgramFolder()
    {
        QFile::copy(QStringLiteral(KORVELA_TEMPLATE), dir.path() + u"/Tmp2.Tmp");
        QDir(dir.path()).mkdir(QStringLiteral("doc"));
    }
    QString path(const QString& name) const { return dir.path() + u'/' + name; }
};

ReportRecord sampleReport()
{
    ReportRecord r;
    r[Field::PatientName] = QStringLiteral("张<编号>三");
    r[Field::Age] = QStringLiteral("45");
    r[Field::ScreeningNumber] = QStringLiteral("A01");
    r[Field::ClinicalExamination] = QStringLiteral("双乳对称，未触及明显肿块。");
    r[Field::UltrasoundFindings] = QStringLiteral("   ");
    r[Field::MammographyFindings] = QStringLiteral("R&D $1 \\1 \\n");
    r[Field::ClinicalGrade] = QStringLiteral("2");
    r[Field::XRayGrade].clear();
    r[Field::UltrasoundGrade] = QStringLiteral("3");
    r[Field::OtherGrade] = QStringLiteral("0");
    r[Field::Impression] = QStringLiteral("双乳增生");
    r[Field::RecommendedHandling] = QStringLiteral("三个月后复查");
    r.examDate = QDate(2024, 5, 6);
    r[Field::Physician] = QStringLiteral(" 李四 ");
    r.checked(optionField(0)) = true;
    r.checked(optionField(2)) = false;
    r.checked(optionField(12)) = true;
    return r;
}

class LibreOfficeTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY"))
            << "LibreOffice needs a display: run under xvfb-run";
        s_home = new QTemporaryDir;
        s_office = new LibreOfficeWordProcessor(settingsIn(s_home->path()));
        s_events = new RecordingEvents;
        const Status started = s_office->start(s_events);
        ASSERT_TRUE(started.ok()) << started.failure().description.toStdString();
        const Status options = s_office->switchOffOptions();
        ASSERT_TRUE(options.ok()) << options.failure().description.toStdString();
    }
    static void TearDownTestSuite()
    {
        delete s_office;
        s_office = nullptr;
        delete s_events;
        delete s_home;
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_office && s_office->isRunning());
        s_events->reset();
    }
    void TearDown() override { (void)s_office->closeDocument(); }

    static LibreOfficeWordProcessor& office() { return *s_office; }
    static RecordingEvents& events() { return *s_events; }

    static QString writeDocument(const QString& folder, const QString& paragraph)
    {
        // A flat OpenDocument text: enough for the matching rules, written as plain text.
        const QString path = folder + u"/probe.fodt";
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        QString escaped = paragraph.toHtmlEscaped();
        f.write(QStringLiteral(
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                    "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" office:version=\"1.3\" "
                    "office:mimetype=\"application/vnd.oasis.opendocument.text\"><office:body><office:text>"
                    "<text:p>%1</text:p></office:text></office:body></office:document>")
                    .arg(escaped)
                    .toUtf8());
        return path;
    }

    static inline QTemporaryDir* s_home = nullptr;
    static inline LibreOfficeWordProcessor* s_office = nullptr;
    static inline RecordingEvents* s_events = nullptr;
};

TEST_F(LibreOfficeTest, LegacyPasswordKeyIsTheOneLibreOfficeChecks)
{
    EXPECT_EQ(lo::libreOfficePasswordKey(QStringLiteral("dolmari4069152")), 0x1E6FCD0Du);
    EXPECT_EQ(lo::libreOfficePasswordKey(QString()), 0u);
    // Only the first 15 characters count.
    EXPECT_EQ(lo::libreOfficePasswordKey(QStringLiteral("abcdefghijklmnopq")),
              lo::libreOfficePasswordKey(QStringLiteral("abcdefghijklmno")));
}

TEST_F(LibreOfficeTest, FillsTheTemplateInOnePassWithTheValuesLiterally)
{
    ProgramFolder folder;
    ReportRecord report = sampleReport();
    report[Field::ScreeningNumber] = QString(300, u'编');
    ASSERT_TRUE(PrepareReportDocument(folder.system, office()).ok());

    Result<QString> before = OfficeProbe(office()).documentText();
    ASSERT_TRUE(before.ok());
    for (const QString& placeholder : placeholderTexts())
        EXPECT_TRUE(before->contains(placeholder, Qt::CaseInsensitive))
            << "template lacks " << placeholder.toStdString();
    const qsizetype numberPlaces = before->count(QStringLiteral("<编号>"));
    EXPECT_GE(numberPlaces, 2) << "the screening number is printed in the sheet and in the footer";

    ASSERT_TRUE(FillReportDocument(office(), report).ok());
    Result<QString> after = OfficeProbe(office()).documentText();
    ASSERT_TRUE(after.ok());
    const QString& text = *after;
    for (const QString& placeholder : placeholderTexts()) {
        if (placeholder != u"<编号>") { // the patient's name carries that text literally
            EXPECT_FALSE(text.contains(placeholder, Qt::CaseInsensitive))
                << placeholder.toStdString() << " left";
        }
    }
    EXPECT_EQ(text.count(QString(300, u'编')), numberPlaces) << "a long value goes everywhere";
    EXPECT_EQ(text.count(QStringLiteral("张<编号>三")), before->count(QStringLiteral("<姓名>")));
    EXPECT_TRUE(text.contains(QStringLiteral("R&D $1 \\1 \\n")));
    EXPECT_TRUE(text.contains(QStringLiteral(" 李四 ")));
    EXPECT_TRUE(text.contains(QStringLiteral("2024/5/6")));
    EXPECT_TRUE(text.contains(QStringLiteral("无(√)")));
    EXPECT_TRUE(text.contains(QStringLiteral("穿刺抽液( )")));
    EXPECT_TRUE(text.contains(QStringLiteral("空心针穿刺( )")));
    EXPECT_TRUE(text.contains(QStringLiteral("钼靶(√)")));
    EXPECT_TRUE(text.contains(QStringLiteral("X线检查评级： ")));
    const QStringList paragraphs = text.split(u'\n');
    EXPECT_TRUE(paragraphs.contains(QStringLiteral(" "))) << "the blank ultrasound field is one space";
    EXPECT_FALSE(paragraphs.contains(QStringLiteral("   ")));
}

TEST_F(LibreOfficeTest, PlaceholdersMatchWithoutCaseButNotInFullWidth)
{
    QTemporaryDir dir;
    const QString probe =
        writeDocument(dir.path(), QStringLiteral("<PJ1>|＜pj1＞|<ｐｊ1>|<CL1><CL10>|<Cl13>|<pj1>"));
    ASSERT_TRUE(office().openDocument(probe).ok());
    ASSERT_TRUE(office()
                    .replacePlaceholders({{QStringLiteral("<pj1>"), QStringLiteral("X\r\nY")},
                                          {QStringLiteral("<CL1>"), QStringLiteral("a")},
                                          {QStringLiteral("<CL10>"), QStringLiteral("b")},
                                          {QStringLiteral("<CL13>"), QStringLiteral("<pj1>")}})
                    .ok());
    Result<QString> text = OfficeProbe(office()).documentText();
    ASSERT_TRUE(text.ok());
    // A line break stays one line break; the value "<pj1>" is not replaced again.
    EXPECT_EQ(text->split(u'\n').join(u'|'), QStringLiteral("X|Y|＜pj1＞|<ｐｊ1>|ab|<pj1>|X|Y"));
}

TEST_F(LibreOfficeTest, ExportIsReadOnlyUntilUnlockedWithThePassword)
{
    ProgramFolder folder;
    ASSERT_TRUE(PrepareReportDocument(folder.system, office()).ok());
    const QByteArray workingCopy = digest(folder.path(QStringLiteral("Tmp1.Tmp")));
    ASSERT_TRUE(office().closeDocument().ok());
    events().reset();

    SaveLock lock = SaveLock::Locked;
    events().saveLock = &lock; // the export's own save passes only because the export opens the lock
    ReportRecord report = sampleReport();
    report[Field::PatientName] = QStringLiteral("  张三 ");
    report[Field::ScreeningNumber] = QStringLiteral(" A01 ");
    Result<QString> exported = exportReport(folder.system, office(), report, lock);
    ASSERT_TRUE(exported.ok()) << exported.failure().description.toStdString();
    EXPECT_EQ(*exported, folder.path(QStringLiteral("doc/A01（张三）.doc")));
    EXPECT_EQ(lock, SaveLock::Locked);
    EXPECT_EQ(events().beforeSave, 1);
    EXPECT_EQ(events().beforeClose, 1);
    EXPECT_FALSE(office().hasOpenDocument());
    EXPECT_EQ(digest(folder.path(QStringLiteral("Tmp1.Tmp"))), workingCopy)
        << "the working copy is never written";

    QFile file(*exported);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    Result<lo::DocProtection> fields = lo::readDocProtection(file.readAll());
    ASSERT_TRUE(fields.ok()) << fields.failure().description.toStdString();
    EXPECT_TRUE(fields->readOnlyLock);
    EXPECT_TRUE(fields->lockMeansReadOnly);
    EXPECT_TRUE(fields->enforced);
    EXPECT_EQ(fields->kind, 3);
    EXPECT_FALSE(fields->formsProtection);
    EXPECT_EQ(fields->key, 0x1E6FCD0Du);

    // Reopened as a user would: no password to open it, but it refuses editing until "Edit
    // Document" is given the password.
    Result<ReopenedFile> plain = OfficeProbe(office()).reopen(*exported, std::nullopt);
    ASSERT_TRUE(plain.ok()) << plain.failure().description.toStdString();
    EXPECT_TRUE(plain->readOnly);
    Result<ReopenedFile> wrong = OfficeProbe(office()).reopen(*exported, QStringLiteral("dolmari4069153"));
    ASSERT_TRUE(wrong.ok());
    EXPECT_TRUE(wrong->readOnly);
    EXPECT_TRUE(wrong->askedPasswordToEdit);
    EXPECT_FALSE(wrong->editableAfterwards);
    Result<ReopenedFile> right = OfficeProbe(office()).reopen(*exported, QStringLiteral("dolmari4069152"));
    ASSERT_TRUE(right.ok());
    EXPECT_TRUE(right->readOnly);
    EXPECT_TRUE(right->askedPasswordToEdit);
    EXPECT_TRUE(right->editableAfterwards);
}

TEST_F(LibreOfficeTest, SavesFromTheWindowAreRefusedWhileTheSaveLockIsLocked)
{
    ProgramFolder folder;
    ASSERT_TRUE(PrepareReportDocument(folder.system, office()).ok());
    ASSERT_TRUE(FillReportDocument(office(), sampleReport()).ok());
    const QString working = folder.path(QStringLiteral("Tmp1.Tmp"));
    const QByteArray before = digest(working);

    for (const char* command : {".uno:Save", ".uno:SaveAs", ".uno:SaveACopy"}) {
        const int asked = events().beforeSave;
        ASSERT_TRUE(OfficeProbe(office()).dispatchInDocumentWindow(QString::fromLatin1(command)).ok());
        EXPECT_TRUE(waitUntil([&] { return events().beforeSave > asked; })) << command;
    }
    QThread::msleep(300);
    EXPECT_EQ(digest(working), before);

    // The open lock lets the window's save through: the guard refuses, it does not break saving.
    events().ownLock = SaveLock::Open;
    const int asked = events().beforeSave;
    ASSERT_TRUE(OfficeProbe(office()).dispatchInDocumentWindow(QStringLiteral(".uno:Save")).ok());
    EXPECT_TRUE(waitUntil([&] { return events().beforeSave > asked && digest(working) != before; }));
    // Let the office finish writing before the document is closed.
    QByteArray last;
    EXPECT_TRUE(waitUntil([&] {
        const QByteArray now = digest(working);
        const bool settled = now == last;
        last = now;
        QThread::msleep(150);
        return settled;
    }));
}

TEST_F(LibreOfficeTest, ClosingInTheWindowRaisesBeforeCloseAndTheProgramCloses)
{
    // File > Close, Ctrl+W, the title bar's close box and File > Exit: each closes the shown,
    // changed report without a question, and File > Exit leaves the instance running.
    QTemporaryDir dir;
    const QString probe = writeDocument(dir.path(), QStringLiteral("<姓名>"));
    int closes = 0;
    for (const char* command : {".uno:CloseDoc", ".uno:CloseWin", ".uno:CloseFrame", ".uno:Quit"}) {
        SCOPED_TRACE(command);
        const Status opened = office().openDocument(probe);
        ASSERT_TRUE(opened.ok()) << opened.failure().description.toStdString();
        ASSERT_TRUE(
            office().replacePlaceholders({{QStringLiteral("<姓名>"), QStringLiteral("changed")}}).ok());
        ASSERT_TRUE(office().showMaximized().ok());
        EXPECT_TRUE(OfficeProbe(office()).documentWindowVisible());
        ASSERT_TRUE(OfficeProbe(office()).dispatchInDocumentWindow(QString::fromLatin1(command)).ok());
        EXPECT_TRUE(waitUntil([&] { return !office().hasOpenDocument(); }));
        EXPECT_EQ(events().beforeClose, ++closes);
        EXPECT_TRUE(office().isRunning());
    }
}

// The real window with the real office, driven by its controls' names.
class ReportWindowWithOffice : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const LibreOfficeSettings settings = settingsIn(s_home.path());
        w = std::make_unique<WindowFixture>([settings, this]() -> std::unique_ptr<WordProcessor> {
            auto office = std::make_unique<LibreOfficeWordProcessor>(settings);
            ++made;
            latest = office.get();
            return office;
        });
        ASSERT_TRUE(latest && latest->isRunning());
        ASSERT_TRUE(QFile::copy(QStringLiteral(KORVELA_TEMPLATE), w->folder.path() + u"/Tmp2.Tmp"));
        w->type(controlName(Field::PatientName), QStringLiteral("张三"));
        w->type(controlName(Field::ScreeningNumber), QStringLiteral("A01"));
    }
    void TearDown() override
    {
        w->window().close();
        EXPECT_TRUE(w->system.ended);
        w.reset();
    }

    // The instance the window works with: the one its factory made last.
    LibreOfficeWordProcessor& office() { return *latest; }
    bool minimised() const { return w->window().windowState() & Qt::WindowMinimized; }

    static inline QTemporaryDir s_home; // one profile: only the first start sets it up
    int made = 0;
    LibreOfficeWordProcessor* latest = nullptr;
    std::unique_ptr<WindowFixture> w;
};

TEST_F(ReportWindowWithOffice, PrintShowsTheReportAndClosingItBringsTheWindowBack)
{
    w->click(QStringLiteral("Cmdprint"));
    ASSERT_TRUE(w->prompts.shown().empty()) << w->prompts.texts().join(u' ').toStdString();
    EXPECT_TRUE(minimised());
    EXPECT_TRUE(OfficeProbe(office()).documentWindowVisible());
    Result<QString> text = OfficeProbe(office()).documentText();
    ASSERT_TRUE(text.ok());
    EXPECT_TRUE(text->contains(QStringLiteral("张三")));

    ASSERT_TRUE(OfficeProbe(office()).dispatchInDocumentWindow(QStringLiteral(".uno:CloseWin")).ok());
    EXPECT_TRUE(waitUntil([&] { return !office().hasOpenDocument(); }));
    EXPECT_FALSE(minimised());

    // The print and its close leave saves from the office's window refused: the report shown
    // again cannot be saved over the working copy from there.
    w->click(QStringLiteral("Cmdprint"));
    ASSERT_TRUE(w->prompts.shown().empty()) << w->prompts.texts().join(u' ').toStdString();
    ASSERT_TRUE(office().hasOpenDocument());
    const QString working = w->folder.path() + u"/Tmp1.Tmp";
    const QByteArray before = digest(working);
    ASSERT_FALSE(before.isEmpty());
    ASSERT_TRUE(OfficeProbe(office()).dispatchInDocumentWindow(QStringLiteral(".uno:Save")).ok());
    EXPECT_FALSE(waitUntil([&] { return digest(working) != before; }, 2000)) << "the save went through";
    EXPECT_TRUE(office().hasOpenDocument());
}

TEST_F(ReportWindowWithOffice, AnInstanceTheUserEndedIsReplacedAtTheNextPrint)
{
    const qint64 pid = OfficeProbe(office()).officeProcessId();
    ASSERT_GT(pid, 0);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return !office().isRunning(); }));

    w->click(QStringLiteral("Cmdprint"));
    ASSERT_TRUE(w->prompts.shown().empty()) << w->prompts.texts().join(u' ').toStdString();
    EXPECT_EQ(made, 2);
    EXPECT_TRUE(office().isRunning());
    EXPECT_NE(OfficeProbe(office()).officeProcessId(), pid);
    EXPECT_TRUE(office().hasOpenDocument());
}

TEST(LibreOfficeInstance, AStrayOfTheProfileIsEndedAndNoOtherOffice)
{
    QTemporaryDir home;
    const LibreOfficeSettings settings = settingsIn(home.path());
    lo::OfficeCommand ours{settings.soffice, QDir::cleanPath(settings.profileFolder),
                           lo::pipeNameFor(QDir::cleanPath(settings.profileFolder))};
    // The user's own LibreOffice, on a profile of its own.
    lo::OfficeCommand theirs{settings.soffice, home.path() + u"/users-profile",
                             QStringLiteral("someone_else")};
    ASSERT_TRUE(QDir().mkpath(ours.profileFolder));
    const pid_t stray = lo::spawnOffice(ours, home.path() + u"/stray.log");
    const pid_t user = lo::spawnOffice(theirs, home.path() + u"/user.log");
    ASSERT_GT(stray, 0);
    ASSERT_GT(user, 0);
    // A new profile makes LibreOffice restart itself once: wait until both have settled.
    pid_t strayOffice = -1;
    pid_t userOffice = -1;
    QElapsedTimer steady;
    ASSERT_TRUE(waitUntil(
        [&] {
            const pid_t s = lo::findOfficeBinary(ours);
            const pid_t u = lo::findOfficeBinary(theirs);
            if (s <= 0 || u <= 0 || s != strayOffice || u != userOffice)
                steady.start();
            strayOffice = s;
            userOffice = u;
            return steady.elapsed() > 2000;
        },
        60000));

    {
        LibreOfficeWordProcessor office(settings);
        RecordingEvents events;
        ASSERT_TRUE(office.start(&events).ok());
        EXPECT_FALSE(lo::processAlive(strayOffice)) << "the leftover of the profile is ended";
        EXPECT_TRUE(lo::reapChild(stray));
        EXPECT_EQ(lo::findOfficeBinary(ours), OfficeProbe(office).officeProcessId());
        EXPECT_TRUE(lo::processAlive(userOffice)) << "the user's LibreOffice is never touched";
        EXPECT_TRUE(office.quit().ok());
        EXPECT_TRUE(lo::findInstances(ours).empty()) << "quitting leaves no process behind";
    }
    ::kill(userOffice, SIGTERM);
    EXPECT_TRUE(waitUntil([&] { return lo::reapChild(user); }));
}

} // namespace
