#include "form1.h"

namespace korvela {

void Form1::connectSearchHandlers() {}

} // namespace korvela
