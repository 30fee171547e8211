#include "report/report_document.h"

#include "core/failure_codes.h"
#include "records/report_store.h"

namespace korvela {

namespace {

const QString kPristine = QStringLiteral("Tmp2.Tmp");
const QString kWorking = QStringLiteral("Tmp1.Tmp");

} // namespace

QString optionMark(int value)
{
    return value == 1 ? QStringLiteral("(√)") : QStringLiteral("( )");
}

QString shortDate(const std::optional<QDate>& date, const QLocale& locale)
{
    return date && date->isValid() ? locale.toString(*date, QLocale::ShortFormat) : QString();
}

const QStringList& placeholderTexts()
{
    static const QStringList texts = [] {
        QStringList t = {
            QStringLiteral("<姓名>"),     QStringLiteral("<年龄>"),         QStringLiteral("<编号>"),
            QStringLiteral("<临床检查>"), QStringLiteral("<B超>"),          QStringLiteral("<钼靶>"),
            QStringLiteral("<pj1>"),      QStringLiteral("<pj2>"),          QStringLiteral("<pj3>"),
            QStringLiteral("<pj4>"),      QStringLiteral("<初步诊断印象>"), QStringLiteral("<建议处理>"),
            QStringLiteral("<检查日期>"), QStringLiteral("<主检医师>")};
        for (int n = 1; n <= 13; ++n)
            t << QStringLiteral("<CL%1>").arg(n);
        return t;
    }();
    return texts;
}

void Word_call(PlaceholderValues& fill, const QString& placeholder, const QString& value)
{
    fill.emplace_back(placeholder, trimBlanks(value).isEmpty() ? QStringLiteral(" ") : value);
}

PlaceholderValues ReportPlaceholders(const ReportRecord& r, const QLocale& locale)
{
    const QStringList& p = placeholderTexts();
    const QString values[] = {
        r.a1, r.a2, r.a3, r.a4, r.a5, r.a6, r.a7, r.a8, r.a9, r.a10, r.a11, r.a12, shortDate(r.a13, locale),
        r.a14};
    PlaceholderValues fill;
    fill.reserve(p.size());
    for (std::size_t i = 0; i < std::size(values); ++i)
        Word_call(fill, p[qsizetype(i)], values[i]);
    for (std::size_t i = 0; i < r.options.size(); ++i)
        Word_call(fill, p[qsizetype(std::size(values) + i)], optionMark(r.options[i]));
    return fill;
}

QString pristineTemplatePath(const QString& programFolder)
{
    return programFolder + u'/' + kPristine;
}

QString workingCopyPath(const QString& programFolder)
{
    return programFolder + u'/' + kWorking;
}

QStringList workingCopyLockPaths(const QString& programFolder)
{
    // Word's "~$" owner file, and the lock LibreOffice keeps while the file is open.
    return {programFolder + u"/~$" + kWorking, programFolder + u"/.~lock." + kWorking + u'#'};
}

Status PrepareReportDocument(SystemServices& system, WordProcessor& wordProcessor)
{
    // The working copy of the previous report, still shown, goes first, unsaved: the copy below
    // replaces its file.
    if (wordProcessor.hasOpenDocument()) {
        if (Status closed = wordProcessor.closeDocument(); !closed)
            return closed;
    }
    const QString folder = system.programFolder();
    const QString pristine = pristineTemplatePath(folder);
    const QString working = workingCopyPath(folder);
    if (system.fileExists(pristine)) {
        if (system.fileExists(working) && !system.deleteFile(working))
            return Failure{FailureCode::TemplateNotRefreshed,
                           QStringLiteral("无法删除旧的报告工作副本 %1。").arg(working)};
        if (!system.copyFile(pristine, working))
            return Failure{FailureCode::TemplateNotRefreshed,
                           QStringLiteral("无法由报告模板 %1 复制出 %2。").arg(pristine, working)};
    } else if (!system.fileExists(working)) {
        return Failure{FailureCode::NoTemplate, QStringLiteral("找不到报告模板 %1。").arg(pristine)};
    }
    for (const QString& lock : workingCopyLockPaths(folder)) {
        if (system.fileExists(lock) && !system.deleteFile(lock))
            return Failure{FailureCode::LockFileNotRemoved, QStringLiteral("无法删除锁定文件 %1。").arg(lock)};
    }
    return wordProcessor.openDocument(working);
}

Status CheckReportLength(const ReportRecord& report)
{
    qsizetype length = 0;
    for (const QString* text : {&report.a1, &report.a2, &report.a3, &report.a4, &report.a5, &report.a6,
                                &report.a7, &report.a8, &report.a9, &report.a10, &report.a11, &report.a12,
                                &report.a14})
        length += text->size();
    if (length <= kMaxReportCharacters)
        return {};
    return Failure{FailureCode::ReportTooLong, QStringLiteral("报告各项内容共 %1 字，超过了报告单能容纳的 %2 字。请精简后再试。")
                                       .arg(length)
                                       .arg(kMaxReportCharacters)};
}

Status FillReportDocument(WordProcessor& wordProcessor, const ReportRecord& report, const QLocale& locale)
{
    if (Status filled = wordProcessor.replacePlaceholders(ReportPlaceholders(report, locale)); !filled)
        return filled;
    return wordProcessor.collapseSelection();
}

} // namespace korvela
