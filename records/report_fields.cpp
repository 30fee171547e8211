#include "records/report_fields.h"

#include <cassert>

namespace korvela {

namespace {

using enum FieldKind;

// Cells are the controls' places on the painted sheet; tab positions are shared with the search
// and classification panels, which take the numbers not used here.
constexpr FieldInfo kFields[kFieldCount] = {
    {Field::PatientName, "A1", "a1", u"姓名", Text, u"<姓名>", {1560, 90, 2025, 300}, 0},
    {Field::Age, "A2", "a2", u"年龄", List, u"<年龄>", {5520, 120, 975, 300}, 1, 1, 100},
    {Field::ScreeningNumber, "A3", "a3", u"筛查编号", Text, u"<编号>", {8100, 120, 2055, 285}, 2},
    {Field::ClinicalExamination, "A4", "a4", u"临床检查", Text, u"<临床检查>", {1560, 570, 8355, 300}, 3},
    {Field::UltrasoundFindings, "A5", "a5", u"B超", Text, u"<B超>", {1560, 1050, 8355, 315}, 4},
    {Field::MammographyFindings, "A6", "a6", u"钼靶", Text, u"<钼靶>", {1560, 1560, 8355, 300}, 5},
    {Field::ClinicalGrade, "A7", "a7", u"临床检查评级", List, u"<pj1>", {2880, 2040, 615, 300}, 6, 0, 6},
    {Field::XRayGrade, "A8", "a8", u"X线检查评级", List, u"<pj2>", {4770, 2040, 615, 300}, 7, 0, 6},
    {Field::UltrasoundGrade, "A9", "a9", u"超声检查评级", List, u"<pj3>", {6720, 2040, 615, 300}, 8, 0, 6},
    {Field::OtherGrade, "A10", "a10", u"其它评级", List, u"<pj4>", {8340, 2040, 615, 300}, 9, 0, 6},
    {Field::Impression, "A11", "a11", u"初步诊断印象", Text, u"<初步诊断印象>", {1560, 2550, 8355, 285}, 10},
    {Field::RecommendedHandling, "A12", "a12", u"建议处理", Text, u"<建议处理>", {1560, 3030, 8355, 285}, 11},
    {Field::ExamDate, "A13", "a13", u"检查日期", Date, u"<检查日期>", {1590, 4470, 2040, 300}, 25},
    {Field::Physician, "A14", "a14", u"主检医师", Text, u"<主检医师>", {7140, 4470, 2025, 285}, 26},
    // Each handling option stands just right of its painted word.
    {Field::NoHandling, "A15", "Check2(0)", u"无", Option, u"<CL1>", {1860, 3540, 255, 225}, 12},
    {Field::Aspiration, "A16", "Check2(1)", u"穿刺抽液", Option, u"<CL2>", {3030, 3540, 255, 225}, 13},
    {Field::CoreNeedleBiopsy, "A17", "Check2(2)", u"空心针穿刺", Option, u"<CL3>", {4380, 3540, 255, 225}, 14},
    {Field::Biopsy, "A18", "Check2(3)", u"活检", Option, u"<CL4>", {5190, 3540, 255, 225}, 15},
    {Field::Mammotome, "A19", "Check2(4)", u"Mammotome", Option, u"<CL5>", {6810, 3540, 255, 225}, 16},
    {Field::Ductoscopy, "A20", "Check2(5)", u"乳管镜", Option, u"<CL6>", {7800, 3540, 255, 225}, 17},
    {Field::InpatientSurgery, "A21", "Check2(6)", u"住院手术", Option, u"<CL7>", {8940, 3540, 255, 225}, 18},
    {Field::FrozenSection, "A22", "Check2(7)", u"术中冰冻", Option, u"<CL8>", {10110, 3540, 255, 225}, 19},
    {Field::FollowUpThreeMonths, "A23", "Check2(8)", u"三个月后随诊", Option, u"<CL9>", {2760, 4020, 255, 225}, 20},
    {Field::FollowUpSixMonths, "A24", "Check2(9)", u"六个月后随诊", Option, u"<CL10>", {4260, 4020, 255, 225}, 21},
    {Field::FollowUpOneYear, "A25", "Check2(10)", u"一年后随诊", Option, u"<CL11>", {5670, 4020, 255, 225}, 22},
    {Field::UltrasoundPair, "A26", "Check2(11)", u"B超", Option, u"<CL12>", {6690, 4020, 255, 225}, 23},
    {Field::MammographyPair, "A27", "Check2(12)", u"钼靶", Option, u"<CL13>", {7500, 4020, 255, 225}, 24},
};

constexpr bool inColumnOrder()
{
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        if (index(kFields[i].id) != i)
            return false;
    }
    return true;
}
static_assert(inColumnOrder(), "the table is indexed by Field");
static_assert(kFields[index(Field::NoHandling)].kind == Option && kFields[kFieldCount - kOptionCount - 1].kind != Option,
              "the options are the last thirteen fields");

} // namespace

std::span<const FieldInfo, kFieldCount> reportFields()
{
    return kFields;
}

const FieldInfo& fieldInfo(Field field)
{
    return kFields[index(field)];
}

QString accessibleName(const FieldInfo& field)
{
    const QString label = QString::fromUtf16(field.label);
    return field.kind == FieldKind::Option ? u"处理方式：" + label : label;
}

} // namespace korvela
