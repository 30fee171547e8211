#include "form1.h"

namespace korvela {

void Form1::connectClassificationHandlers() {}

} // namespace korvela
