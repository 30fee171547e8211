#include "classification/classification_text.h"

namespace korvela {

namespace {

// "左侧<left>，右侧<right>", either side left out when nothing was chosen for it.
QString bothSides(const QString& left, const QString& right)
{
    QString text;
    if (!left.isEmpty())
        text += u"左侧" + left;
    if (!right.isEmpty())
        text += (left.isEmpty() ? QStringLiteral("右侧") : QStringLiteral("，右侧")) + right;
    return text;
}

} // namespace

QString ComposeClassificationText(const QString& leftHu, const QString& rightHu, const QString& leftDensity,
                                  const QString& rightDensity)
{
    QString text;
    if (!leftHu.isEmpty() || !rightHu.isEmpty())
        text = u"HU分型：" + bothSides(leftHu, rightHu) + u"；";
    if (!leftDensity.isEmpty() || !rightDensity.isEmpty())
        text += u"BI-TADS分型：" + bothSides(leftDensity, rightDensity);
    return text;
}

} // namespace korvela
