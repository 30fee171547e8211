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
# A new database and one of an earlier Korvela alike get the tables that keep every report's history.
if [ -e "$PROGRAM_DIR/Data/Data.Dat" ]; then
    "$PROGRAM_DIR/korvela-admin" upgrade --file "$PROGRAM_DIR/Data/Data.Dat"
fi
# The report template: a department's own edited template is never overwritten.
[ -f "$PROGRAM_DIR/Tmp2.Tmp" ] || "$ROOT/scripts/make-template.sh" "$PROGRAM_DIR/Tmp2.Tmp"
echo "Korvela is ready in $PROGRAM_DIR"

# korvela-admin lies beside the program, so its program folder is this one; a link to it goes
# where commands are found (root: /usr/local; another user: ~/.local, which Debian's ~/.profile
# puts on PATH at the next log-in), and its manual where man finds it from there.
if [ "$(id -u)" -eq 0 ]; then LINKS=/usr/local; else LINKS="$HOME/.local"; fi
mkdir -p "$LINKS/bin" "$LINKS/share/man/man1"
ln -sfn "$PROGRAM_DIR/korvela-admin" "$LINKS/bin/korvela-admin"
cp "$ROOT/admin/korvela-admin.1" "$LINKS/share/man/man1/korvela-admin.1"
if [ "$(command -v korvela-admin)" = "$LINKS/bin/korvela-admin" ]; then
    echo "The administrator's command: korvela-admin (manual: man korvela-admin)"
else
    echo "The administrator's command: $LINKS/bin/korvela-admin (on PATH from your next log-in;"
    echo "manual: man $LINKS/share/man/man1/korvela-admin.1)"
fi

if [ "${1:-}" = "--run" ]; then
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        echo "No display: starting Korvela on a virtual screen (Xvfb)."
        exec xvfb-run -a -s "-screen 0 1280x1024x24" "$PROGRAM_DIR/korvela"
    fi
    exec "$PROGRAM_DIR/korvela"
fi
