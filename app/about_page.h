#pragma once

#include <QString>

namespace korvela {

class SystemServices;

// The program's version, as the package and the about page carry it.
QString programVersion();
// The credit line under the buttons.
QString creditLine();
// "<program folder>/about.html": the page about the program that comes with it.
QString aboutPagePath(const QString& programFolder);
// Opens the about page in the user's browser, when the program folder has it.
void openAboutPage(SystemServices& system);

} // namespace korvela
