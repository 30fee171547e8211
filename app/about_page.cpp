#include "app/about_page.h"

#include "core/system_services.h"

#include <QUrl>

namespace korvela {

QString programVersion()
{
    return QStringLiteral(KORVELA_VERSION);
}

QString creditLine()
{
    return u"Korvela 报告系统\n开发组技术支持\n版本 " + programVersion() + u"\n版权所有，侵权必究";
}

QString aboutPagePath(const QString& programFolder)
{
    return programFolder + u"/about.html";
}

void openAboutPage(SystemServices& system)
{
    const QString page = aboutPagePath(system.programFolder());
    if (system.fileExists(page))
        system.openUrl(QUrl::fromLocalFile(page).toString());
}

} // namespace korvela
