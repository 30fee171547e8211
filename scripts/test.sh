#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Tests that need a display or the real
# word processor run on a virtual screen.
set -euo pipefail
source "$(dirname "$0")/common.sh"

install_packages
build
cd "$BUILD_DIR"
exec xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure "$@"
