#include "records/report_store.h"

#include "core/logging.h"

namespace korvela {

QString trimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

// The expression matches the index A_key, so the lookup never scans the table.
Statement selectByKey(const QString& key)
{
    return {QStringLiteral("SELECT rowid, * FROM A WHERE trim(A3, ' ') = ?1 COLLATE NOCASE ORDER BY rowid"),
            {trimBlanks(key)}};
}

Statement deleteByKey(const QString& key)
{
    return {QStringLiteral("DELETE FROM A WHERE trim(A3, ' ') = ?1 COLLATE NOCASE"), {trimBlanks(key)}};
}

bool requireNumberAndName(Prompts& prompts, const QString& number, const QString& name)
{
    if (trimBlanks(number).isEmpty()) {
        prompts.message(QStringLiteral("筛查编号不能为空！"), PromptIcon::Error);
        return false;
    }
    if (trimBlanks(name).isEmpty()) {
        prompts.message(QStringLiteral("患者姓名不能为空！"), PromptIcon::Error);
        return false;
    }
    return true;
}

namespace {

SaveResult failed(ReportDatabase& db, ResultSet& saveResults, const Failure& failure)
{
    saveResults.cancelUpdate();
    (void)db.rollback();
    return {SaveResult::Failed, failure};
}

} // namespace

SaveResult saveReport(ReportDatabase& db, ResultSet& saveResults, Prompts& prompts, const ReportRecord& record)
{
    if (Status s = db.begin(); !s)
        return {SaveResult::Failed, s.failure()};
    if (Status s = saveResults.open(selectByKey(record[Field::ScreeningNumber])); !s)
        return failed(db, saveResults, s.failure());

    if (saveResults.recordCount() != 0) {
        if (!prompts.ask(record[Field::PatientName] + u" 这名患者的报告已经存在，是否更改？")) {
            (void)db.rollback();
            return {SaveResult::Declined, {}};
        }
        if (Status s = writeRecord(saveResults, record, false); !s)
            return failed(db, saveResults, s.failure());
    } else {
        if (Status s = saveResults.addNew(); !s)
            return failed(db, saveResults, s.failure());
        if (Status s = writeRecord(saveResults, record, true); !s)
            return failed(db, saveResults, s.failure());
    }
    if (Status s = saveResults.update(); !s)
        return failed(db, saveResults, s.failure());
    if (Status s = db.commit(); !s)
        return failed(db, saveResults, s.failure());
    return {SaveResult::Saved, {}};
}

Status deleteReport(ReportDatabase& db, const QString& key)
{
    if (Status s = db.begin(); !s)
        return s;
    if (Status s = db.execute(deleteByKey(key)); !s) {
        (void)db.rollback();
        return s;
    }
    if (Status s = db.commit(); !s) {
        (void)db.rollback();
        return s;
    }
    return {};
}

void showSaveFailure(Prompts& prompts, const Failure& failure)
{
    logFailure(lcStore(), QStringLiteral("save failed"), failure);
    prompts.message(failure.description + u" 请查看项目录入是否正确！如有其它问题请与开发者联系！", PromptIcon::None,
                    u"数据保存/替换错误:" + QString::number(failure.code));
}

void showDeleteFailure(Prompts& prompts, const Failure& failure)
{
    logFailure(lcStore(), QStringLiteral("delete failed"), failure);
    prompts.message(failure.description + u"如有问题请与开发者联系!", PromptIcon::None,
                    u"数据删除错误:" + QString::number(failure.code));
}

} // namespace korvela
