#pragma once

#include "review/grade_audit.h"

#include <QChart>
#include <memory>

namespace korvela {

// The bars of the X-ray grades per physician, stacked from 0 to 6, 未评 and 其它.
std::unique_ptr<QChart> xrayGradeChart(const GradeAudit& audit);

// The reports of every month of the period, as a line.
std::unique_ptr<QChart> reportsPerMonthChart(const GradeAudit& audit);

} // namespace korvela
