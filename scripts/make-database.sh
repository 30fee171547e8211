#!/usr/bin/env bash
# Creates the report database at the given path from data/schema.sql, only when no file is there.
# An existing database is never overwritten or altered.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
target="$1"
if [ -e "$target" ]; then
    echo "Keeping the existing database $target"
    exit 0
fi
mkdir -p "$(dirname "$target")"
tmp="$target.new.$$"
sqlite3 "$tmp" < "$ROOT/data/schema.sql" >/dev/null
mv -n "$tmp" "$target"
rm -f "$tmp"
echo "Created the database $target"
