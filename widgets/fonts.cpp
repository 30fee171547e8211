#include "widgets/fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace korvela {

namespace {

QString firstInstalled(const QStringList& wanted)
{
    const QStringList installed = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    for (const QString& family : wanted) {
        if (installed.contains(family, Qt::CaseInsensitive))
            return family;
    }
    return wanted.last();
}

QFont withPixelSize(const QString& family, int pixelSize)
{
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Normal);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

} // namespace

QString songFamily()
{
    // AR PL UMing measures like 宋体 (a 12-pixel line at 9 pt, half-width Latin letters), so the
    // captions take the room the sheet was designed with; Noto Serif CJK SC runs wider and taller.
    static const QString family =
        firstInstalled({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("AR PL UMing CN"),
                        QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Source Han Serif SC")});
    return family;
}

QFont songFont(int pixelSize)
{
    return withPixelSize(songFamily(), pixelSize);
}

QFont headerFont(int pixelSize)
{
    static const QString family =
        firstInstalled({QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"), QStringLiteral("黑体"),
                        QStringLiteral("SimHei"), QStringLiteral("Noto Sans CJK SC"),
                        QStringLiteral("Source Han Sans SC"), QStringLiteral("WenQuanYi Zen Hei")});
    QFont font = withPixelSize(family, pixelSize);
    font.setWeight(QFont::Bold);
    return font;
}

} // namespace korvela
