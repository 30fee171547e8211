#pragma once

#include "core/database.h"

#include <QDate>
#include <QString>
#include <array>
#include <vector>

namespace korvela {

// Where a stored grade (A8 X线检查评级, A9 超声检查评级) is counted: 0 to 6 when, trimmed of
// blanks, it is that one digit ("3", " 3 "); 未评 when it is empty or missing; 其它 for anything
// else ("3类", "4a", and the full-width "３": the report window stores what was typed, and a
// full-width digit was typed differently from the list's items).
enum class GradeBucket : int { G0, G1, G2, G3, G4, G5, G6, Ungraded, Other };
inline constexpr int kGradeBuckets = 9;
GradeBucket gradeBucket(const Value& stored);
// "0" .. "6", "未评", "其它".
QString gradeBucketName(GradeBucket bucket);

struct GradeCounts
{
    std::array<int, kGradeBuckets> counts{};

    int& operator[](GradeBucket b) { return counts[std::size_t(b)]; }
    int operator[](GradeBucket b) const { return counts[std::size_t(b)]; }
    // Reports graded 0 to 6.
    int graded() const;
    // Reports graded 0, 4 or 5: sent for further work-up.
    int workUp() const;
    GradeCounts& operator+=(const GradeCounts& other);
};

// The days of an audit, both included.
struct AuditPeriod
{
    QDate from;
    QDate to;
};
AuditPeriod monthPeriod(int year, int month);
AuditPeriod quarterPeriod(int year, int quarter);
AuditPeriod yearPeriod(int year);

// One physician's figures for a period.
struct PhysicianFigures
{
    // As one of the physician's reports writes the name, trimmed; empty when none was written.
    QString physician;
    int reports = 0;
    GradeCounts xray;
    GradeCounts ultrasound;
    // Follow-ups whose due date lies in the period, by the physician of the report that asked for
    // them, and how many of those are done (the patient has a later report).
    int followUpsDue = 0;
    int followUpsDone = 0;

    PhysicianFigures& operator+=(const PhysicianFigures& other);
};

// The figures count the reports the search can find: those with a screening number.
struct GradeAudit
{
    AuditPeriod period;
    // By name (Chinese order); the reports without a physician last.
    std::vector<PhysicianFigures> physicians;
    PhysicianFigures total;
    // Every month of the period from its first, with its count of reports.
    std::vector<std::pair<QDate, int>> reportsPerMonth;

    // Reads the period's figures with three statements.
    static Result<GradeAudit> read(ReportDatabase& db, const AuditPeriod& period);
    // The statements read() runs, in its order: the reports by physician and grades, the reports
    // by month, the follow-ups that may fall due in the period.
    static std::vector<Statement> statements(SqlDialect dialect, const AuditPeriod& period);
};

// The columns of the audit table.
QStringList auditHeaders();
// One row of the audit table, in the order of auditHeaders(); shares as "12.5%", "—" without
// anything to share.
QStringList auditRow(const PhysicianFigures& figures, const QString& name);
// The physician's name as the audit shows it: "（未填写）" for none.
QString physicianCaption(const QString& physician);

} // namespace korvela
