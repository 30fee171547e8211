#include "app/busy.h"
#include "app/date_picker.h"
#include "app/form1.h"
#include "records/report_record.h"
#include "records/report_store.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace korvela {

void Form1::connectRecordHandlers()
{
    connect(cmdAdd, &QPushButton::clicked, this, &Form1::cmdAdd_Click);
    connect(cmdSave, &QPushButton::clicked, this, &Form1::cmdSave_Click);
    connect(cmddel, &QPushButton::clicked, this, &Form1::cmddel_Click);
    connect(cmdclose, &QPushButton::clicked, this, &Form1::cmdclose_Click);
}

ReportRecord Form1::ReadReportForm() const
{
    ReportRecord r;
    r.a1 = a1->text();
    r.a2 = a2->currentText();
    r.a3 = a3->text();
    r.a4 = a4->text();
    r.a5 = a5->text();
    r.a6 = a6->text();
    r.a7 = a7->currentText();
    r.a8 = a8->currentText();
    r.a9 = a9->currentText();
    r.a10 = a10->currentText();
    r.a11 = a11->text();
    r.a12 = a12->text();
    r.a13 = a13->value();
    r.a14 = a14->text();
    for (std::size_t i = 0; i < Check2.size(); ++i)
        r.options[i] = Check2[i]->isChecked() ? 1 : 0;
    return r;
}

// Shows the current row; a row that cannot be read leaves the fields as they were and the
// failure to the caller.
Status Form1::ShowReportRow(const ResultSet& row)
{
    Result<ReportRecord> read = recordFromRow(row);
    if (!read)
        return read.failure();
    const ReportRecord& r = *read;
    a1->setText(r.a1);
    a2->setEditText(r.a2);
    a3->setText(r.a3);
    a4->setText(r.a4);
    a5->setText(r.a5);
    a6->setText(r.a6);
    a7->setEditText(r.a7);
    a8->setEditText(r.a8);
    a9->setEditText(r.a9);
    a10->setEditText(r.a10);
    a11->setText(r.a11);
    a12->setText(r.a12);
    a13->setValue(r.a13);
    a14->setText(r.a14);
    for (std::size_t i = 0; i < Check2.size(); ++i)
        Check2[i]->setChecked(r.options[i] == 1);
    return {};
}

void Form1::ClearReportForm()
{
    for (QLineEdit* field : {a1, a3, a4, a5, a6, a11, a12, a14})
        field->clear();
    for (QComboBox* field : {a2, a7, a8, a9, a10})
        field->setEditText({});
    a13->setValue(QDate::currentDate());
    for (QCheckBox* option : Check2)
        option->setChecked(false);
}

void Form1::cmdAdd_Click()
{
    ClearReportForm();
    a1->setFocus();
}

void Form1::cmdSave_Click()
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

void Form1::cmddel_Click()
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
