#!/usr/bin/env bash
# Makes the report template Tmp2.Tmp, a Word 97-2003 document, from its text source
# data/report_template.fodt, with LibreOffice in a throw-away profile (a LibreOffice the user
# runs is not touched).
#   scripts/make-template.sh OUTPUT [SOURCE]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
OUTPUT="$1"
SOURCE="${2:-$ROOT/data/report_template.fodt}"
SOFFICE="${KORVELA_SOFFICE:-/usr/lib/libreoffice/program/soffice}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$SOURCE" "$work/Tmp2.fodt"
if ! "$SOFFICE" "-env:UserInstallation=file://$work/profile" --headless --norestore --nologo \
        --convert-to "doc:MS Word 97" --outdir "$work" "$work/Tmp2.fodt" >"$work/log" 2>&1 \
        || [ ! -s "$work/Tmp2.doc" ]; then
    cat "$work/log" >&2
    echo "make-template.sh: LibreOffice could not convert $SOURCE" >&2
    exit 1
fi
mkdir -p "$(dirname "$OUTPUT")"
mv "$work/Tmp2.doc" "$OUTPUT"
