// Report documents: the time from a click on "打印" to the report shown in the word processor, and
// on "另存为单个可阅读文件" to the file written, with a warm instance, beside the same LibreOffice
// work done by a minimal UNO program (uno_reference); and the time from the start of the program
// to its window shown, beside LibreOffice's bare start. Needs a display (xvfb-run).
//
//   document_bench [rounds=5]
//
// Prints one line per measure: RESULT<TAB>measure<TAB>Korvela ms<TAB>reference ms<TAB>ms

#include "app/report_window.h"
#include "records/report_fields.h"
#include "office/libreoffice_process.h"
#include "office/libreoffice_word_processor.h"
#include "desktop/linux_system_services.h"
#include "store/sqlite_database.h"
#include "store/store_choice.h"
#include "app/startup.h"
#include "support/office_probe.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sqlite3.h>
#include <vector>

using namespace korvela;
using Clock = std::chrono::steady_clock;

namespace {

class SilentPrompts final : public Prompts
{
public:
    PromptAnswer show(const Prompt& p) override
    {
        if (p.icon == PromptIcon::Error)
            std::fprintf(stderr, "failure shown: %s\n", qPrintable(p.text));
        return p.buttons == PromptButtons::YesNo ? PromptAnswer::Yes : PromptAnswer::Ok;
    }
};

double ms(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// A program folder as setup lays it out: the database, the template, the doc folder.
bool makeProgramFolder(const QString& folder)
{
    QDir().mkpath(folder + u"/Data");
    QDir().mkpath(folder + u"/doc");
    QFile::remove(folder + u"/Tmp2.Tmp");
    QFile::copy(QStringLiteral(KORVELA_TEMPLATE), folder + u"/Tmp2.Tmp");
    if (QFile::exists(folder + u"/Data/Data.Dat"))
        return true;
    QFile schema(QStringLiteral(KORVELA_SCHEMA));
    if (!schema.open(QIODevice::ReadOnly))
        return false;
    sqlite3* db = nullptr;
    sqlite3_open(QFile::encodeName(folder + u"/Data/Data.Dat").constData(), &db);
    const bool ok = sqlite3_exec(db, schema.readAll().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

void waitExposed(QWidget& window)
{
    while (!window.windowHandle() || !window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// A control of the window, found by its object name as a user's tools find it.
template <typename W> W& control(QWidget& window, const QString& name)
{
    W* found = window.findChild<W*>(name);
    if (!found) {
        std::fprintf(stderr, "the window has no control %s\n", qPrintable(name));
        std::exit(1);
    }
    return *found;
}

void click(QWidget& window, const char* button)
{
    control<QPushButton>(window, QString::fromLatin1(button)).click();
}

// The program's start as main() runs it, with the profile given: prints SHOWN once the window is
// on screen, then closes it the way the user does.
int startChild(const QString& folder, const QString& profile)
{
    LinuxSystemServices system(folder);
    SilentPrompts prompts;
    SqliteReportDatabase database;
    LibreOfficeSettings settings;
    settings.profileFolder = profile;
    std::unique_ptr<LibreOfficeWordProcessor> early;
    std::unique_ptr<ReportWindow> window;
    const StartOutcome outcome = startUp(
        system, prompts,
        [&] {
            early = std::make_unique<LibreOfficeWordProcessor>(settings);
            (void)early->launch();
            return database.open(databasePath(folder), std::chrono::seconds(5));
        },
        [&]() -> Status {
            window = std::make_unique<ReportWindow>(
                ReportWindow::Services{database, prompts, system,
                                [&]() -> std::unique_ptr<WordProcessor> { return std::move(early); }});
            if (Status loaded = window->load(); !loaded)
                return loaded;
            window->show();
            return {};
        });
    if (outcome != StartOutcome::WindowShown)
        return 1;
    waitExposed(*window);
    std::printf("SHOWN\n");
    std::fflush(stdout);
    window->close();
    window.reset();
    return 0;
}

// Runs a program and returns the time until it prints `line`; it then runs to its end.
double timeUntil(const QString& program, const QStringList& args, const QByteArray& line)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const auto t0 = Clock::now();
    p.start(program, args);
    QByteArray out;
    while (!out.contains(line)) {
        if (!p.waitForReadyRead(60000)) {
            std::fprintf(stderr, "%s gave no %s\n", qPrintable(program), line.constData());
            return 0;
        }
        out += p.readAllStandardOutput();
    }
    const double elapsed = ms(t0);
    p.waitForFinished(60000);
    return elapsed;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args[1] == u"--start")
        return startChild(args[2], args[3]);
    const int rounds = std::max(1, args.size() > 1 ? args[1].toInt() : 5);

    QTemporaryDir work;
    const QString folder = work.path() + u"/program";
    if (!makeProgramFolder(folder)) {
        std::fprintf(stderr, "cannot make the program folder\n");
        return 1;
    }
    const QString reference = QCoreApplication::applicationDirPath() + u"/uno_reference";

    // Print and export in the real window, the instance warm.
    std::vector<double> printed, exported;
    {
        LinuxSystemServices system(folder);
        SilentPrompts prompts;
        SqliteReportDatabase database;
        if (!database.open(databasePath(folder), std::chrono::seconds(5)))
            return 1;
        LibreOfficeSettings settings;
        settings.profileFolder = work.path() + u"/profile";
        // The instance the window works with: the one its factory made last.
        LibreOfficeWordProcessor* office = nullptr;
        ReportWindow window(ReportWindow::Services{database, prompts, system, [&] {
                                                       auto made = std::make_unique<LibreOfficeWordProcessor>(settings);
                                                       office = made.get();
                                                       return made;
                                                   }});
        if (!window.load() || !office) {
            std::fprintf(stderr, "the window did not load\n");
            return 1;
        }
        window.show();
        waitExposed(window);
        const auto type = [&](Field field, const QString& text) {
            control<QLineEdit>(window, controlName(field)).setText(text);
        };
        type(Field::PatientName, QStringLiteral("张三"));
        type(Field::ScreeningNumber, QStringLiteral("A01"));
        type(Field::ClinicalExamination, QStringLiteral("双乳对称，未触及明显肿块。"));
        type(Field::Impression, QStringLiteral("双乳增生"));
        type(Field::Physician, QStringLiteral("李四"));
        control<QCheckBox>(window, controlName(optionField(1))).setChecked(true);
        for (int round = 0; round <= rounds; ++round) { // round 0 warms up
            auto t0 = Clock::now();
            click(window, "Cmdprint");
            // Shown once the office has laid the window out and painted it: it answers at once
            // again. The reference program waits the same way.
            for (;;) {
                const auto probe = Clock::now();
                if (!test::OfficeProbe(*office).documentWindowVisible()) {
                    std::fprintf(stderr, "the report was not shown\n");
                    break;
                }
                if (ms(probe) < 10)
                    break;
            }
            if (round > 0)
                printed.push_back(ms(t0));
            // The user reads the report before closing it; the office handles the new window's focus.
            QThread::msleep(500);
            QCoreApplication::processEvents();
            (void)office->closeDocument();
            QCoreApplication::processEvents();

            t0 = Clock::now();
            click(window, "Command7");
            if (round > 0)
                exported.push_back(ms(t0));
            if (!QFile::exists(folder + u"/doc/A01（张三）.doc"))
                std::fprintf(stderr, "the export wrote no file\n");
            QCoreApplication::processEvents();
        }
    }

    // The reference runs the office with the same settings (language included: the Chinese user
    // interface takes longer to lay out).
    lo::seedProfile(work.path() + u"/reference-profile");
    QProcess uno;
    uno.start(reference, {QStringLiteral("work"), QStringLiteral(KORVELA_TEMPLATE), work.path(),
                          work.path() + u"/reference-profile", QString::number(rounds)});
    uno.waitForFinished(300000);
    const QString unoOut = QString::fromUtf8(uno.readAllStandardOutput());
    double unoPrint = 0, unoExport = 0;
    for (const QString& line : unoOut.split(u'\n')) {
        if (line.startsWith(u"print "))
            unoPrint = line.mid(6).toDouble();
        if (line.startsWith(u"export "))
            unoExport = line.mid(7).toDouble();
    }

    // Start: the program's own start and LibreOffice's bare start, alternately, profiles warm.
    std::vector<double> started, bare;
    const QString self = QCoreApplication::applicationFilePath();
    lo::seedProfile(work.path() + u"/bare-profile");

    for (int round = 0; round <= rounds; ++round) {
        const double ours =
            timeUntil(self, {QStringLiteral("--start"), folder, work.path() + u"/start-profile"}, "SHOWN");
        const double theirs =
            timeUntil(reference, {QStringLiteral("start"), work.path() + u"/bare-profile"}, "READY");
        if (round > 0) {
            started.push_back(ours);
            bare.push_back(theirs);
        }
    }

    std::printf(
        "RESULT\tprint: click to report shown, warm instance (reference: bare UNO program)\t%.2f\t%.2f\tms\n",
        median(printed), unoPrint);
    std::printf("RESULT\texport: click to file written, warm instance (reference: bare UNO "
                "program)\t%.2f\t%.2f\tms\n",
                median(exported), unoExport);
    std::printf("RESULT\tstart to window shown (reference: LibreOffice's bare start)\t%.2f\t%.2f\tms\n",
                median(started), median(bare));
    return 0;
}
