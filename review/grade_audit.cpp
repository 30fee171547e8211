#include "review/grade_audit.h"

#include "records/report_sql.h"
#include "review/follow_up.h"

#include <QCollator>
#include <QHash>
#include <QLocale>
#include <QStringList>
#include <algorithm>
#include <map>
#include <memory>

namespace korvela {

GradeBucket gradeBucket(const Value& stored)
{
    const QString text = trimBlanks(valueToText(stored));
    if (text.isEmpty())
        return GradeBucket::Ungraded;
    if (text.size() == 1 && text[0] >= u'0' && text[0] <= u'6')
        return GradeBucket(text[0].unicode() - u'0');
    return GradeBucket::Other;
}

QString gradeBucketName(GradeBucket bucket)
{
    switch (bucket) {
    case GradeBucket::Ungraded:
        return QStringLiteral("未评");
    case GradeBucket::Other:
        return QStringLiteral("其它");
    default:
        return QString::number(int(bucket));
    }
}

int GradeCounts::graded() const
{
    int n = 0;
    for (int b = int(GradeBucket::G0); b <= int(GradeBucket::G6); ++b)
        n += counts[std::size_t(b)];
    return n;
}

int GradeCounts::workUp() const
{
    return (*this)[GradeBucket::G0] + (*this)[GradeBucket::G4] + (*this)[GradeBucket::G5];
}

GradeCounts& GradeCounts::operator+=(const GradeCounts& other)
{
    for (std::size_t b = 0; b < counts.size(); ++b)
        counts[b] += other.counts[b];
    return *this;
}

PhysicianFigures& PhysicianFigures::operator+=(const PhysicianFigures& other)
{
    reports += other.reports;
    xray += other.xray;
    ultrasound += other.ultrasound;
    followUpsDue += other.followUpsDue;
    followUpsDone += other.followUpsDone;
    return *this;
}

AuditPeriod monthPeriod(int year, int month)
{
    const QDate first(year, month, 1);
    return {first, first.addMonths(1).addDays(-1)};
}

AuditPeriod quarterPeriod(int year, int quarter)
{
    const QDate first(year, 3 * (quarter - 1) + 1, 1);
    return {first, first.addMonths(3).addDays(-1)};
}

AuditPeriod yearPeriod(int year)
{
    return {QDate(year, 1, 1), QDate(year, 12, 31)};
}

namespace {

QString day(const QDate& d)
{
    return d.toString(Qt::ISODate);
}

QDate firstOfMonth(const QDate& d)
{
    return QDate(d.year(), d.month(), 1);
}

// Reports examined from ?1 to the day before ?2 that the search can find. The embedded store
// compares the stored texts, which may carry a time after the day, and leaves out texts that are
// no date.
QString inPeriod(const ReportSql& sql)
{
    const QString date = ReportSql::column(Field::ExamDate);
    return QStringLiteral("%1 AND %2 >= ?1 AND %2 < ?2 AND %3").arg(ReportSql::findable(), date, sql.isDay());
}

int count(const Value& v)
{
    const auto* n = std::get_if<std::int64_t>(&v);
    return n ? int(*n) : 0;
}

// The values of a result set's current row; the first failure to read one is kept, and every
// value read after it is null.
class RowReader
{
public:
    explicit RowReader(const ResultSet& rows)
        : m_rows(rows)
    {
    }

    Value operator()(const QString& column)
    {
        if (m_failure)
            return {};
        Result<Value> v = m_rows.field(column);
        if (!v) {
            m_failure = v.failure();
            return {};
        }
        return std::move(v).value();
    }

    const std::optional<Failure>& failure() const { return m_failure; }

private:
    const ResultSet& m_rows;
    std::optional<Failure> m_failure;
};

// Runs a statement and hands each of its rows to `row`.
template <typename Row> Status eachRow(ReportDatabase& db, const Statement& statement, Row row)
{
    std::unique_ptr<ResultSet> rows = db.createResultSet();
    if (Status s = rows->open(statement); !s)
        return s;
    for (; rows->hasCurrentRow(); (void)rows->moveNext()) {
        RowReader read(*rows);
        row(read);
        if (read.failure())
            return *read.failure();
    }
    return {};
}

} // namespace

std::vector<Statement> GradeAudit::statements(SqlDialect dialect, const AuditPeriod& period)
{
    const ReportSql sql(dialect);
    const std::vector<Value> days{day(period.from), day(period.to.addDays(1))};
    const QString physician = ReportSql::column(Field::Physician), xray = ReportSql::column(Field::XRayGrade),
                  ultrasound = ReportSql::column(Field::UltrasoundGrade),
                  examined = ReportSql::column(Field::ExamDate);
    // A follow-up due in the period was asked for 3 to 12 months before it: from the first day of
    // the month a year before the period's first month to the end of the month three months
    // before its last.
    const std::vector<Value> asked{day(firstOfMonth(period.from).addMonths(-12)),
                                   day(firstOfMonth(period.to).addMonths(-2))};
    return {
        // Every spelling of a physician a group of its own, so the name shown is the commonest one.
        {QStringLiteral("SELECT %1 AS physician, %2 AS xray, %3 AS ultrasound, count(*) AS reports FROM A"
                        " WHERE %4 GROUP BY %5, %2, %3")
             .arg(physician, xray, ultrasound, inPeriod(sql), sql.asStored(Field::Physician)),
         days},
        {QStringLiteral("SELECT %1 AS month, count(*) AS reports FROM A WHERE %2 GROUP BY %1")
             .arg(sql.month(), inPeriod(sql)),
         days},
        {QStringLiteral("SELECT %1 AS physician, %2 AS examined, %3 AS follow, %4 AS done FROM A AS R"
                        " WHERE %5 AND %6 AND %2 >= ?1 AND %2 < ?2")
             .arg(physician, examined, followUpOptionsValue(), laterReportCondition(sql),
                  ReportSql::findable(), asksForFollowUp()),
         asked},
    };
}

Result<GradeAudit> GradeAudit::read(ReportDatabase& db, const AuditPeriod& period)
{
    const std::vector<Statement> statements = GradeAudit::statements(db.dialect(), period);
    GradeAudit audit;
    audit.period = period;

    // Physicians as the save tells names apart; the figures of one are summed over the spellings,
    // and the name shown is the spelling of most of the period's reports.
    std::map<QString, PhysicianFigures> byKey;
    std::map<QString, std::map<QString, int>> spellings;
    // The follow-ups come a row each: their physicians are found by the stored text first.
    QHash<QString, PhysicianFigures*> byStored;
    const auto figuresOf = [&](const Value& stored, int reports) -> PhysicianFigures& {
        const QString text = valueToText(stored);
        if (reports == 0)
            if (PhysicianFigures* known = byStored.value(text))
                return *known;
        const QString name = trimBlanks(text);
        const QString key = foldLatinCase(name);
        spellings[key][name] += reports;
        PhysicianFigures& f = byKey[key];
        byStored.insert(text, &f);
        return f;
    };

    static const QString physician = QStringLiteral("physician"), xray = QStringLiteral("xray"),
                         ultrasound = QStringLiteral("ultrasound"), reports = QStringLiteral("reports"),
                         month = QStringLiteral("month"), examined = QStringLiteral("examined"),
                         follow = QStringLiteral("follow"), done = QStringLiteral("done");

    Status grades = eachRow(db, statements[0], [&](RowReader& row) {
        const int n = count(row(reports));
        PhysicianFigures& f = figuresOf(row(physician), n);
        f.reports += n;
        f.xray[gradeBucket(row(xray))] += n;
        f.ultrasound[gradeBucket(row(ultrasound))] += n;
    });
    if (!grades)
        return grades.failure();

    QHash<QString, int> perMonth;
    Status months = eachRow(
        db, statements[1], [&](RowReader& row) { perMonth[valueToText(row(month))] += count(row(reports)); });
    if (!months)
        return months.failure();
    for (QDate m = firstOfMonth(period.from); m <= period.to; m = m.addMonths(1))
        audit.reportsPerMonth.emplace_back(m, perMonth.value(m.toString(QStringLiteral("yyyy-MM"))));

    Status followUps = eachRow(db, statements[2], [&](RowReader& row) {
        const std::optional<QDate> date = examinationDate(row(examined));
        const int interval = followUpMonths(std::uint8_t(count(row(follow))));
        if (!date || interval == 0)
            return;
        const QDate due = dueDate(*date, interval);
        if (due < period.from || due > period.to)
            return;
        PhysicianFigures& f = figuresOf(row(physician), 0);
        ++f.followUpsDue;
        if (count(row(done)) != 0)
            ++f.followUpsDone;
    });
    if (!followUps)
        return followUps.failure();

    for (auto& [key, figures] : byKey) {
        const std::map<QString, int>& names = spellings[key];
        figures.physician = std::max_element(names.begin(), names.end(), [](const auto& a, const auto& b) {
                                return a.second < b.second;
                            })->first;
        audit.total += figures;
        audit.physicians.push_back(std::move(figures));
    }
    QCollator chinese{QLocale(QLocale::Chinese, QLocale::China)};
    std::sort(audit.physicians.begin(), audit.physicians.end(),
              [&](const PhysicianFigures& a, const PhysicianFigures& b) {
                  if (a.physician.isEmpty() != b.physician.isEmpty())
                      return b.physician.isEmpty();
                  return chinese.compare(a.physician, b.physician) < 0;
              });
    return audit;
}

namespace {

QString share(int part, int whole)
{
    if (whole == 0)
        return QStringLiteral("—");
    return QString::number(100.0 * part / whole, 'f', 1) + u'%';
}

} // namespace

QStringList auditHeaders()
{
    QStringList headers{QStringLiteral("主检医师"), QStringLiteral("报告数")};
    for (const QString& kind : {QStringLiteral("X线"), QStringLiteral("超声")})
        for (int b = 0; b < kGradeBuckets; ++b)
            headers << kind + gradeBucketName(GradeBucket(b));
    headers << QStringLiteral("X线0/4/5级占比") << QStringLiteral("期内应随诊") << QStringLiteral("已随诊")
            << QStringLiteral("随诊完成率");
    return headers;
}

QStringList auditRow(const PhysicianFigures& f, const QString& name)
{
    QStringList row{name, QString::number(f.reports)};
    for (const GradeCounts* counts : {&f.xray, &f.ultrasound})
        for (int n : counts->counts)
            row << QString::number(n);
    row << share(f.xray.workUp(), f.xray.graded()) << QString::number(f.followUpsDue)
        << QString::number(f.followUpsDone) << share(f.followUpsDone, f.followUpsDue);
    return row;
}

QString physicianCaption(const QString& physician)
{
    return physician.isEmpty() ? QStringLiteral("（未填写）") : physician;
}

} // namespace korvela
