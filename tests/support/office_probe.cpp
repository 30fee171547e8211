#include "support/office_probe.h"
