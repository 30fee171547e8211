#pragma once

#include "core/database.h"
#include "records/report_sql.h"
#include "review/compact_texts.h"

#include <QDate>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace korvela {

// What a report asks for with its options 三个月后随诊, 六个月后随诊 and 一年后随诊 (A23, A24, A25), as
// the bits of one number.
enum FollowUpOption : std::uint8_t { ThreeMonths = 1, SixMonths = 2, OneYear = 4 };

// The months after the examination the patient is to come back: 3, 6 or 12, the shortest when
// several options are checked; 0 when none is.
int followUpMonths(std::uint8_t options);

// The day the patient is due: the examination day that many months later. A day its month lacks
// becomes that month's last day (2024-11-30 + 3 months = 2025-02-28).
QDate dueDate(const QDate& examined, int months);

// "三个月后随诊、一年后随诊": the checked options' labels, shortest interval first.
QString followUpText(std::uint8_t options);

// A stored examination date as dateFromValue() reads it; the stored form "yyyy-MM-dd" (with
// anything after it) is read straight from its digits, as a list of a few hundred thousand
// follow-ups reads as many dates.
std::optional<QDate> examinationDate(const Value& stored);

// A patient and a physician are told apart as the save tells screening numbers apart: trimmed of
// blanks, Latin letters in either case.
QString personKey(const QString& text);

// Due dates from `from` to `to`, both days included; an end left open is unbounded.
struct DueRange
{
    std::optional<QDate> from;
    std::optional<QDate> to;

    bool contains(const QDate& day) const { return (!from || day >= *from) && (!to || day <= *to); }
};
// 逾期: due before today.
DueRange overdueRange(const QDate& today);
// 本周: Monday to Sunday of today's week.
DueRange thisWeekRange(const QDate& today);
// 未来30天: today and the 29 days after it.
DueRange next30DaysRange(const QDate& today);

// The columns of the follow-up list, in the order it shows them.
enum class FollowUpColumn {
    Due,
    DaysOverdue,
    Name,
    Number,
    Age,
    Examined,
    Requested,
    XRayGrade,
    UltrasoundGrade,
    Handling,
    Physician,
};
inline constexpr int kFollowUpColumns = 11;
QString followUpHeader(FollowUpColumn column);

// Every follow-up a report asks for that is not done yet. A follow-up is done once the same
// patient (screening number as the save compares it) has a report with a later examination date;
// a report of the same day is no later. Reports without a screening number are left out, as the
// search leaves them out; one whose number is only blanks is never done.
class FollowUpList
{
public:
    struct Entry
    {
        QDate due;
        QDate examined;
        std::int64_t rowid = 0;
        std::uint8_t options = 0;
        // The physician, as an index into physicians().
        int physician = 0;
        // The row of texts().
        int texts = 0;
    };
    // The stored texts of an entry, columns of texts().
    enum Text { Name, Age, Number, XRayGrade, UltrasoundGrade, Handling, Physician, kTextCount };

    // By due date, then examination date, then order of entry.
    const std::vector<Entry>& entries() const { return m_entries; }
    const CompactTexts& texts() const { return m_texts; }
    QString text(const Entry& entry, Text column) const { return m_texts.cell(entry.texts, column); }
    // The physicians of the entries, each once (as the first of their reports wrote the name).
    const std::vector<QString>& physicians() const { return m_physicians; }
    // Reports that ask for a follow-up but hold no examination date: they cannot be due.
    int undated() const { return m_undated; }

    // Reads the list (one statement over the whole table).
    static Result<FollowUpList> read(ReportDatabase& db);

    // The list's statement, as read() runs it.
    static Statement statement(SqlDialect dialect);

private:
    std::vector<Entry> m_entries;
    CompactTexts m_texts{kTextCount};
    std::vector<QString> m_physicians;
    int m_undated = 0;
};

// The condition, in a statement over table A whose row is named R, that the same patient has a
// report with a later examination date. On either engine it reads the key index for each report
// it is asked about.
QString laterReportCondition(const ReportSql& sql);
// "(A23 = 1 OR A24 = 1 OR A25 = 1)", and the options as one FollowUpOption number.
QString asksForFollowUp();
QString followUpOptionsValue();

} // namespace korvela
