#pragma once

#include <QFont>
#include <QString>

namespace korvela {

// Text sizes of the sheet. They are the design's point sizes at 96 dots per inch, given in
// device-independent pixels so that text scales with the twip-based layout on any screen.
namespace TextSize {
constexpr int Default = 12; // 9 pt: every control without a font of its own
constexpr int Button = 14;  // 10.5 pt: the buttons with Chinese captions
constexpr int Title = 16;   // 12 pt: the classification panel's title
} // namespace TextSize

// The Song face of the sheet: 宋体 where it is installed, otherwise the first installed Song-style
// Simplified Chinese face of the ones setup installs.
QString songFamily();
QFont songFont(int pixelSize);

// The sans-serif Chinese face of the header picture.
QFont headerFont(int pixelSize);

} // namespace korvela
