#include "report/report_document.h"

#include "core/failure_codes.h"
#include "records/report_store.h"

namespace korvela {

namespace {

const QString kPristine = QStringLiteral("Tmp2.Tmp");
const QString kWorking = QStringLiteral("Tmp1.Tmp");

} // namespace

QString optionMark(bool checked)
{
    return checked ? QStringLiteral("(√)") : QStringLiteral("( )");
}

QString shortDate(const std::optional<QDate>& date)
{
    return date && date->isValid() ? date->toString(QStringLiteral("yyyy/M/d")) : QString();
}

const QStringList& placeholderTexts()
{
    static const QStringList texts = [] {
        QStringList t;
        for (const FieldInfo& field : reportFields())
            t << placeholderText(field.id);
        return t;
    }();
    return texts;
}

void Word_call(PlaceholderValues& fill, const QString& placeholder, const QString& value)
{
    fill.emplace_back(placeholder, trimBlanks(value).isEmpty() ? QStringLiteral(" ") : value);
}

PlaceholderValues ReportPlaceholders(const ReportRecord& report)
{
    PlaceholderValues fill;
    fill.reserve(kFieldCount);
    for (const FieldInfo& field : reportFields()) {
        switch (field.kind) {
        case FieldKind::Text:
        case FieldKind::List:
            Word_call(fill, placeholderText(field.id), report[field.id]);
            break;
        case FieldKind::Date:
            Word_call(fill, placeholderText(field.id), shortDate(report.examDate));
            break;
        case FieldKind::Option:
            Word_call(fill, placeholderText(field.id), optionMark(report.checked(field.id)));
            break;
        }
    }
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
    for (const QString& text : report.texts)
        length += text.size();
    if (length <= kMaxReportCharacters)
        return {};
    return Failure{FailureCode::ReportTooLong, QStringLiteral("报告各项内容共 %1 字，超过了报告单能容纳的 %2 字。请精简后再试。")
                                       .arg(length)
                                       .arg(kMaxReportCharacters)};
}

Status FillReportDocument(WordProcessor& wordProcessor, const ReportRecord& report)
{
    if (Status filled = wordProcessor.replacePlaceholders(ReportPlaceholders(report)); !filled)
        return filled;
    return wordProcessor.collapseSelection();
}

} // namespace korvela
