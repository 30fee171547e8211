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

QString foldLatinCase(const QString& text)
{
    QString out = text;
    for (QChar& c : out)
        if (c >= u'A' && c <= u'Z')
            c = QChar(char16_t(c.unicode() + (u'a' - u'A')));
    return out;
}

// The expressions match the index a_key (A_key), so the lookup never scans the table. The
// server's index holds the first 200 characters of the key; the second condition compares the
// whole key.
QString keyCondition(SqlDialect dialect, int parameter)
{
    if (dialect == SqlDialect::Postgres)
        return QStringLiteral("lower(left(btrim(a3, ' '), 200) COLLATE \"C\") = left(?%1, 200)"
                              " AND lower(btrim(a3, ' ') COLLATE \"C\") = ?%1")
            .arg(parameter);
    return QStringLiteral("trim(A3, ' ') = ?%1 COLLATE NOCASE").arg(parameter);
}

Value keyArgument(SqlDialect dialect, const QString& key)
{
    return dialect == SqlDialect::Postgres ? foldLatinCase(trimBlanks(key)) : trimBlanks(key);
}

Statement selectByKey(SqlDialect dialect, const QString& key)
{
    // The server's table has rowid as a column of its own; the embedded one has to name it. On
    // the server the rows found stay locked to the end of the save, as the embedded store's
    // transaction locks the whole file: nobody changes them while the question is open.
    if (dialect == SqlDialect::Postgres)
        return {QStringLiteral("SELECT * FROM A WHERE %1 ORDER BY rowid FOR UPDATE").arg(keyCondition(dialect, 1)),
                {keyArgument(dialect, key)}};
    return {QStringLiteral("SELECT rowid, * FROM A WHERE %1 ORDER BY rowid").arg(keyCondition(dialect, 1)),
            {keyArgument(dialect, key)}};
}

Statement deleteByKey(SqlDialect dialect, const QString& key)
{
    return {QStringLiteral("DELETE FROM A WHERE ") + keyCondition(dialect, 1), {keyArgument(dialect, key)}};
}

std::optional<Statement> lockKey(SqlDialect dialect, const QString& key)
{
    if (dialect != SqlDialect::Postgres)
        return std::nullopt;
    // A transaction-level advisory lock on a 64-bit hash of the folded key: no row needs to exist.
    return Statement{QStringLiteral("SELECT pg_advisory_xact_lock(hashtextextended(?1, 0))"),
                     {keyArgument(dialect, key)}};
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
    const QString& key = record[Field::ScreeningNumber];
    if (Status s = db.begin(); !s)
        return {SaveResult::Failed, s.failure()};
    if (const auto lock = lockKey(db.dialect(), key))
        if (Status s = db.execute(*lock); !s)
            return failed(db, saveResults, s.failure());
    if (Status s = saveResults.open(selectByKey(db.dialect(), key)); !s)
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
    const auto lock = lockKey(db.dialect(), key);
    if (Status s = lock ? db.execute(*lock) : Status(); !s) {
        (void)db.rollback();
        return s;
    }
    if (Status s = db.execute(deleteByKey(db.dialect(), key)); !s) {
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
