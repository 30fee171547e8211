#pragma once

#include <QString>

#include <array>
#include <cstddef>
#include <span>

namespace korvela {

// The 27 fields of a report, in column order: A1 is PatientName, A27 MammographyPair.
enum class Field : int {
    PatientName,
    Age,
    ScreeningNumber, // the report's key
    ClinicalExamination,
    UltrasoundFindings,
    MammographyFindings,
    ClinicalGrade,
    XRayGrade,
    UltrasoundGrade,
    OtherGrade,
    Impression,
    RecommendedHandling,
    ExamDate,
    Physician,
    // The thirteen handling options.
    NoHandling,
    Aspiration,
    CoreNeedleBiopsy,
    Biopsy,
    Mammotome,
    Ductoscopy,
    InpatientSurgery,
    FrozenSection,
    FollowUpThreeMonths,
    FollowUpSixMonths,
    FollowUpOneYear,
    UltrasoundPair,
    MammographyPair,
};

inline constexpr std::size_t kFieldCount = 27;
inline constexpr std::size_t kOptionCount = 13;

constexpr std::size_t index(Field field) { return std::size_t(field); }

// Text: a text box. List: an editable list box whose text is stored (its items are `listFirst` to
// `listLast`). Date: the examination date picker. Option: a check box stored as 1 or 0.
enum class FieldKind { Text, List, Date, Option };

// Where a control sits, in twips (15 to a pixel) of the report sheet.
struct Cell
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct FieldInfo
{
    Field id;
    // The column of table A ("A1".."A27"); the database compares column names without case.
    const char* column;
    // The control's object name, which screen readers, the layout and the tests address it by:
    // a1..a14 are the report fields, named after the column they hold, and Check2(0)..Check2(12)
    // the handling options, in the order of columns A15..A27.
    const char* control;
    // The words painted beside it on the sheet; the control's accessible name.
    const char16_t* label;
    FieldKind kind;
    // What stands for the value in the report template.
    const char16_t* placeholder;
    Cell cell;
    int tabPosition;
    int listFirst = 0;
    int listLast = -1;
};

// Every field once, in column order.
std::span<const FieldInfo, kFieldCount> reportFields();
const FieldInfo& fieldInfo(Field field);

// The handling option i (0..12), the field of column A(15 + i).
constexpr Field optionField(int i) { return Field(int(Field::NoHandling) + i); }

inline QString columnName(Field field) { return QString::fromLatin1(fieldInfo(field).column); }
inline QString controlName(Field field) { return QString::fromLatin1(fieldInfo(field).control); }
inline QString placeholderText(Field field) { return QString::fromUtf16(fieldInfo(field).placeholder); }

// The accessible name of a field's control: a handling option is spoken with its group's name.
QString accessibleName(const FieldInfo& field);

} // namespace korvela
