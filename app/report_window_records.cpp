#include "app/busy.h"
#include "app/date_picker.h"
#include "app/report_window.h"
#include "records/report_record.h"
#include "records/report_store.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace korvela {

void ReportWindow::connectRecordHandlers()
{
    connect(cmdAdd, &QPushButton::clicked, this, &ReportWindow::cmdAdd_Click);
    connect(cmdSave, &QPushButton::clicked, this, &ReportWindow::cmdSave_Click);
    connect(cmddel, &QPushButton::clicked, this, &ReportWindow::cmddel_Click);
    connect(cmdclose, &QPushButton::clicked, this, &ReportWindow::cmdclose_Click);
}

ReportRecord ReportWindow::ReadReportForm() const
{
    QLineEdit* const texts[] = {a1, a2->lineEdit(), a3, a4, a5, a6, a7->lineEdit(), a8->lineEdit(),
                                a9->lineEdit(), a10->lineEdit(), a11, a12, nullptr, a14};
    ReportRecord r;
    for (int n = 0; n < 14; ++n)
        if (texts[n])
            r.texts[std::size_t(n)] = texts[n]->text();
    r.examDate = a13->value();
    for (int i = 0; i < 13; ++i)
        r.checked(optionField(i)) = Check2[std::size_t(i)]->isChecked();
    return r;
}

Status ReportWindow::ShowReportRow(const ResultSet& row)
{
    Result<ReportRecord> read = recordFromRow(row);
    if (!read)
        return read.failure();
    const ReportRecord& r = *read;
    QLineEdit* const texts[] = {a1, a2->lineEdit(), a3, a4, a5, a6, a7->lineEdit(), a8->lineEdit(),
                                a9->lineEdit(), a10->lineEdit(), a11, a12, nullptr, a14};
    for (int n = 0; n < 14; ++n)
        if (texts[n])
            texts[n]->setText(r.texts[std::size_t(n)]);
    a13->setValue(r.examDate);
    for (int i = 0; i < 13; ++i)
        Check2[std::size_t(i)]->setChecked(r.checked(optionField(i)));
    return {};
}

void ReportWindow::ClearReportForm()
{
    for (QLineEdit* field : {a1, a3, a4, a5, a6, a11, a12, a14})
        field->clear();
    for (QComboBox* field : {a2, a7, a8, a9, a10})
        field->setEditText({});
    a13->setValue(QDate::currentDate());
    for (QCheckBox* option : Check2)
        option->setChecked(false);
}

void ReportWindow::cmdAdd_Click()
{
    ClearReportForm();
    a1->setFocus();
}

void ReportWindow::cmdSave_Click()
{
    if (!requireNumberAndName(m_services.prompts, a3->text(), a1->text()))
        return;
    SaveResult result;
    {
        DisabledWhileBusy busy(cmdSave);
        WaitCursor wait(this);
        result = saveReport(m_services.database, SaveResults(), m_services.prompts, ReadReportForm());
    }
    if (result.kind == SaveResult::Saved)
        m_services.prompts.message(QStringLiteral("保存完毕！"), PromptIcon::Information);
    else if (result.kind == SaveResult::Failed)
        showSaveFailure(m_services.prompts, result.failure);
}

void ReportWindow::cmddel_Click()
{
    if (!requireNumberAndName(m_services.prompts, a3->text(), a1->text()))
        return;
    if (!m_services.prompts.ask(QStringLiteral("确定要删除此信息？")))
        return;
    Status deleted;
    {
        WaitCursor wait(this);
        deleted = deleteReport(m_services.database, a3->text());
    }
    if (!deleted) {
        showDeleteFailure(m_services.prompts, deleted.failure());
        return;
    }
    m_services.prompts.message(QStringLiteral("删除完毕!"), PromptIcon::Information);
    ClearReportForm();
}

} // namespace korvela
