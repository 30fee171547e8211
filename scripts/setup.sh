#!/usr/bin/env bash
# Sets Korvela up on Debian 12: installs the packages it needs, builds it, and lays out a ready
# program folder (default ~/Korvela; korvela and korvela-admin side by side) outside the build
# tree, so rebuilding or deleting the build never touches a report. The database and the template
# are created only when missing.
#   scripts/setup.sh            set up
#   scripts/setup.sh --run      set up, then start Korvela
set -euo pipefail
source "$(dirname "$0")/common.sh"

PROGRAM_DIR="${KORVELA_HOME:-$HOME/Korvela}"

install_packages
build

mkdir -p "$PROGRAM_DIR/Data"
cmake --install "$BUILD_DIR" --prefix "$PROGRAM_DIR" --component program >/dev/null
"$ROOT/scripts/make-database.sh" "$PROGRAM_DIR/Data/Data.Dat"
# The report template: a department's own edited template is never overwritten.
[ -f "$PROGRAM_DIR/Tmp2.Tmp" ] || "$ROOT/scripts/make-template.sh" "$PROGRAM_DIR/Tmp2.Tmp"
echo "Korvela is ready in $PROGRAM_DIR"
# korvela-admin lies beside the program, so its program folder is this one.
echo "The administrator's command: $PROGRAM_DIR/korvela-admin (manual: man -l $ROOT/admin/korvela-admin.1)"

if [ "${1:-}" = "--run" ]; then
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        echo "No display: starting Korvela on a virtual screen (Xvfb)."
        exec xvfb-run -a -s "-screen 0 1280x1024x24" "$PROGRAM_DIR/korvela"
    fi
    exec "$PROGRAM_DIR/korvela"
fi
