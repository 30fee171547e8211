#include "report/report_output.h"

#include "core/failure_codes.h"
#include "report/report_document.h"
#include "records/report_store.h"

namespace korvela {

namespace {

// The longest export file name, in bytes of its UTF-8 form: the file system takes 255, and while
// the office writes the file it keeps a lock file named ".~lock.<name>#" beside it, which must fit
// too or the save fails.
constexpr qsizetype kMaxFileNameBytes = 255 - 9;

QString fileNamePart(const QString& text)
{
    QString part = trimBlanks(text);
    for (QChar& c : part) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || QStringView(u"/\\:*?\"<>|").contains(c))
            c = u'_';
    }
    if (part == u"." || part == u"..")
        part.fill(u'_');
    return part;
}

// Drops whole characters from the end until `part` is `excess` bytes shorter, or empty.
void shorten(QString& part, qsizetype& excess)
{
    while (excess > 0 && !part.isEmpty()) {
        qsizetype cut = 1;
        if (part.size() >= 2 && part.back().isLowSurrogate() && part.at(part.size() - 2).isHighSurrogate())
            cut = 2;
        excess -= part.right(cut).toUtf8().size();
        part.chop(cut);
    }
}

// After a failure nothing half-made stays open in the word processor; its before-close event
// brings the windows back to their resting state.
Failure abandon(WordProcessor& wordProcessor, Failure failure)
{
    if (wordProcessor.hasOpenDocument())
        (void)wordProcessor.closeDocument();
    return failure;
}

} // namespace

QString exportPassword()
{
    return QStringLiteral("dolmari4069152");
}

QString exportFileName(const QString& programFolder, const QString& number, const QString& name)
{
    QString n = fileNamePart(number);
    QString p = fileNamePart(name);
    const auto fileName = [&]() -> QString { return n + u"（" + p + u"）.doc"; };
    qsizetype excess = fileName().toUtf8().size() - kMaxFileNameBytes;
    shorten(p, excess);
    shorten(n, excess);
    return programFolder + u"/doc/" + fileName();
}

Status ensureWordProcessor(std::unique_ptr<WordProcessor>& app, const WordProcessorFactory& make,
                           WordProcessorEvents& events)
{
    if (app && app->isRunning())
        return {};
    if (!make)
        return Failure{FailureCode::NoWordProcessor, QStringLiteral("没有可用的文字处理程序。")};
    // The ended instance goes before its successor starts on the same profile.
    app.reset();
    app = make();
    if (!app)
        return Failure{FailureCode::NoWordProcessor, QStringLiteral("无法创建文字处理程序。")};
    if (Status started = app->start(&events); !started)
        return started;
    return app->switchOffOptions();
}

Status printReport(SystemServices& system, WordProcessor& wordProcessor, const ReportRecord& report,
                   const std::function<void()>& minimiseWindow)
{
    if (Status fits = CheckReportLength(report); !fits)
        return fits;
    if (Status prepared = PrepareReportDocument(system, wordProcessor); !prepared)
        return abandon(wordProcessor, prepared.failure());
    if (Status filled = FillReportDocument(wordProcessor, report); !filled)
        return abandon(wordProcessor, filled.failure());
    minimiseWindow();
    // Maximised as it appears, rather than shown at its old size and then maximised: no flicker,
    // one layout of the page.
    if (Status shown = wordProcessor.showMaximized(); !shown)
        return abandon(wordProcessor, shown.failure());
    if (Status shown = wordProcessor.setVisible(true); !shown)
        return abandon(wordProcessor, shown.failure());
    return {};
}

Result<QString> exportReport(SystemServices& system, WordProcessor& wordProcessor, const ReportRecord& report,
                             SaveLock& saveLock)
{
    const QString folder = system.programFolder() + u"/doc";
    if (!system.folderExists(folder))
        return Failure{FailureCode::NoExportFolder, QStringLiteral("找不到保存报告文档的文件夹 %1。").arg(folder)};
    if (Status fits = CheckReportLength(report); !fits)
        return fits.failure();
    const QString target = exportFileName(system.programFolder(), report[Field::ScreeningNumber], report[Field::PatientName]);
    if (Status prepared = PrepareReportDocument(system, wordProcessor); !prepared)
        return abandon(wordProcessor, prepared.failure());
    if (Status filled = FillReportDocument(wordProcessor, report); !filled)
        return abandon(wordProcessor, filled.failure());
    Status saved;
    {
        SaveLockOpen open(saveLock);
        saved = wordProcessor.protectReadOnly(exportPassword());
        if (saved)
            saved = wordProcessor.saveAs(target);
        // The close raises the before-close event, which closes the same document once more from
        // inside this call, hides the word processor and brings the window to its normal state.
        if (saved)
            saved = wordProcessor.closeDocument();
        if (saved)
            saved = wordProcessor.setVisible(false);
    }
    if (!saved)
        return abandon(wordProcessor, saved.failure());
    return target;
}

} // namespace korvela
