#!/usr/bin/env bash
# Builds everything with AddressSanitizer + UndefinedBehaviorSanitizer and runs the whole test
# suite under them (on a virtual screen, like scripts/test.sh). The preset leaves out UBSan's vptr
# check, which cannot follow the objects that LibreOffice's UNO bridge makes at run time, and ASan's
# strndup interception, which misreads what libxkbcommon-x11 does when Qt connects to X.
set -euo pipefail
source "$(dirname "$0")/common.sh"
install_packages
cd "$ROOT"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
exec xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset sanitize "$@"
