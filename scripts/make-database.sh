#!/usr/bin/env bash
# Creates the report database at the given path from data/schema.sql, only when no file is there.
# An existing database is never overwritten or altered, and none is made where the reports were
# moved to a server (move-to-server left Data.Dat.moved-to-server-<time>): a new empty file there
# would take the department's saves away from the server.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
target="$1"
if [ -e "$target" ]; then
    echo "Keeping the existing database $target"
    exit 0
fi
for moved in "$target".moved-to-server-*; do
    if [ -e "$moved" ]; then
        echo "Not creating $target: its reports were moved to the report server ($moved)."
        exit 0
    fi
done
mkdir -p "$(dirname "$target")"
tmp="$target.new.$$"
sqlite3 "$tmp" < "$ROOT/data/schema.sql" >/dev/null
mv -n "$tmp" "$target"
rm -f "$tmp"
echo "Created the database $target"
