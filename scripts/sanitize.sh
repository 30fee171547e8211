#!/usr/bin/env bash
# Builds everything with AddressSanitizer + UndefinedBehaviorSanitizer and runs the whole test
# suite under them (on a virtual screen, like scripts/test.sh).
set -euo pipefail
source "$(dirname "$0")/common.sh"
install_packages
cd "$ROOT"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
exec xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset sanitize "$@"
