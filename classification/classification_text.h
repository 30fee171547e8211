#pragma once

#include <QString>

namespace korvela {

// The mammography findings text for the 钼靶 field, from the four choices of the classification
// panel: the HU type and the BI-TADS density type chosen for each side, each empty when nothing is
// chosen. The HU part always ends with "；"; the density part has no closing mark.
QString ComposeClassificationText(const QString& leftHu, const QString& rightHu, const QString& leftDensity,
                                  const QString& rightDensity);

} // namespace korvela
