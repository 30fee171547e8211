#!/usr/bin/env bash
# Builds the Debian package and proves it on this machine: installs it with apt-get, starts the
# program from its desktop entry's command on a virtual screen, upgrades it with a newer build and
# checks that every report and the department's template survive, removes it and checks that the
# reports stay. It installs into /opt/korvela, so it runs only as root and only when asked:
#   KORVELA_PACKAGE_TEST=1 scripts/package-test.sh        (CI sets CI=true instead)
set -euo pipefail
source "$(dirname "$0")/common.sh"

if [ "${CI:-}" != "true" ] && [ "${KORVELA_PACKAGE_TEST:-}" != "1" ]; then
    echo "package-test.sh installs Korvela into /opt/korvela; set KORVELA_PACKAGE_TEST=1 to run it." >&2
    exit 2
fi
[ "$(id -u)" -eq 0 ] || { echo "package-test.sh must run as root" >&2; exit 2; }

installed_here=
fail() {
    echo "PACKAGE TEST FAILED: $*" >&2
    # What this test installed goes again, so the next run starts from a clean machine.
    if [ -n "$installed_here" ]; then
        apt-get purge -y -qq korvela >/dev/null 2>&1 || true
        rm -rf /opt/korvela
    fi
    exit 1
}
PROGRAM=/opt/korvela
DB=$PROGRAM/Data/Data.Dat

install_packages
build
cd "$BUILD_DIR"

make_package() {
    cmake -DKORVELA_PACKAGE_VERSION="$1" . >/dev/null
    cmake --build . >/dev/null
    rm -f korvela_"$1"_amd64.deb
    cpack -G DEB >/dev/null
    [ -f "korvela_$1_amd64.deb" ] || fail "no korvela_$1_amd64.deb"
}

if dpkg-query -W -f='${Status}' korvela 2>/dev/null | grep -q "ok installed"; then
    fail "a korvela package is already installed here; remove it first"
fi

make_package 0.9.0
apt-get install -y -qq "./korvela_0.9.0_amd64.deb" >/dev/null
installed_here=1
[ -x /usr/bin/korvela ] || fail "no korvela command on the PATH"
[ -f "$DB" ] || fail "the install script made no database"
[ -f "$PROGRAM/Tmp2.Tmp" ] || fail "no template beside the program"
[ -f "$PROGRAM/about.html" ] || fail "no about page beside the program"
getent group korvela >/dev/null || fail "no group korvela"
for d in "$PROGRAM/Data" "$PROGRAM/doc"; do
    [ "$(stat -c %G "$d")" = korvela ] || fail "$d does not belong to the group korvela"
    [ $(( 0$(stat -c %a "$d") & 020 )) -ne 0 ] || fail "$d is not writable by the group"
done
for icon in 16x16/apps/korvela.png 32x32/apps/korvela.png 48x48/apps/korvela.png scalable/apps/korvela.svg; do
    [ -f "/usr/share/icons/hicolor/$icon" ] || fail "icon $icon missing"
done
desktop=/usr/share/applications/korvela.desktop
grep -qx 'Name=Korvela 报告系统' "$desktop" || fail "desktop entry name"
grep -qx 'Categories=Office;MedicalSoftware;' "$desktop" || fail "desktop entry categories"

# The file keeps every change's history: the sqlite3 shell, without Korvela's functions, cannot
# change the reports; a connection with them can, and check finds its history whole.
sqlite3 "$DB" "INSERT INTO A (A3) VALUES ('SHELL')" 2>/dev/null && fail "the sqlite3 shell changed the reports"
python3 "$ROOT/scripts/write-reports.py" "$DB" "INSERT INTO A (A1, A3, A13, A15) VALUES ('包测试', 'PKG-1', '2024-05-01', 1)" ||
    fail "a report could not be saved into the installed database"
korvela-admin check >/dev/null || fail "check found fault with the installed database after a save"
echo "department's own template" >> "$PROGRAM/Tmp2.Tmp"
template_sum=$(sha256sum "$PROGRAM/Tmp2.Tmp")

# Start it as the desktop entry does and wait for its window.
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "
    $exec_line >/tmp/korvela-package-test.log 2>&1 &
    pid=\$!
    xdotool search --sync --onlyvisible --name '^Velmora\$' >/dev/null &
    waiter=\$!
    for _ in \$(seq 60); do kill -0 \$waiter 2>/dev/null || break; sleep 0.5; done
    if kill -0 \$waiter 2>/dev/null; then kill \$waiter \$pid; exit 1; fi
    kill \$pid; wait \$pid 2>/dev/null; exit 0" || fail "the installed program showed no window"
pgrep -f "$PROGRAM/korvela" >/dev/null && fail "the program is still running"

# The daily backup: its units are sound, its timer is enabled, and the service's command run by
# hand as its user makes a checked copy, which brings back a deleted report.
for unit in korvela-backup.service korvela-backup.timer; do
    [ -f "/lib/systemd/system/$unit" ] || fail "no $unit"
done
systemd-analyze verify /lib/systemd/system/korvela-backup.timer /lib/systemd/system/korvela-backup.service 2>&1 |
    grep -v "man:korvela-admin" | grep . && fail "systemd-analyze verify found fault with the backup units"
[ -L /etc/systemd/system/timers.target.wants/korvela-backup.timer ] || fail "the backup timer is not enabled"
if [ -d /run/systemd/system ]; then
    systemctl list-timers --all | grep -q korvela-backup.timer || fail "systemctl list-timers shows no backup timer"
fi
backup_command=$(sed -n 's/^ExecStart=//p' /lib/systemd/system/korvela-backup.service)
[ -d /var/lib/korvela-backup ] || fail "the backup user has no home for its credentials"
# As systemd runs it: the service's user, its group, its home.
as_backup_user() { runuser -u korvela-backup -g korvela -- env HOME=/var/lib/korvela-backup "$@"; }
as_backup_user $backup_command >/tmp/korvela-package-backup.log 2>&1 ||
    fail "the backup service's command failed as its user: $(cat /tmp/korvela-package-backup.log)"
copy=$(ls "$PROGRAM"/Data/backup/Data-*.Dat | tail -1)
[ -f "$copy.sha256" ] || fail "the backup made no checked copy"
as_backup_user /opt/korvela/korvela-admin backup --status >/dev/null ||
    fail "backup --status does not report the good copy"
python3 "$ROOT/scripts/write-reports.py" "$DB" "DELETE FROM A WHERE A3 = 'PKG-1'" || fail "the report could not be deleted"
korvela-admin restore "$copy" >/dev/null || fail "the restore of a good copy failed"
[ "$(sqlite3 "$DB" "SELECT A1 || A3 FROM A")" = "包测试PKG-1" ] || fail "the restore did not bring the report back"
[ "$(sqlite3 "$DB" "SELECT group_concat(action, ',') FROM report_history")" = "新建,restore" ] ||
    fail "the restored database's history is not the copy's with the restore's own row"
[ "$(stat -c %G "$DB")" = korvela ] || fail "the restored database left the group korvela"

# A department whose workstations use a report server: the system-wide service file names it, the
# backup user has its own .pgpass, and the timer's command backs up the server, not the local file.
pg_bin=/usr/lib/postgresql/15/bin
pg_port=55439
service_file=/etc/postgresql-common/pg_service.conf
[ ! -e "$service_file" ] || fail "$service_file exists already; this test would replace it"
pg_dir=$(mktemp -d /tmp/korvela-package-pg.XXXXXX)
chown postgres "$pg_dir"
stop_server() {
    runuser -u postgres -- "$pg_bin/pg_ctl" -D "$pg_dir/data" -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$pg_dir" "$service_file" /var/lib/korvela-backup/.pgpass
}
trap stop_server EXIT
runuser -u postgres -- "$pg_bin/initdb" -D "$pg_dir/data" -U postgres -E UTF8 --auth-local=peer \
    --auth-host=scram-sha-256 >/dev/null
runuser -u postgres -- "$pg_bin/pg_ctl" -D "$pg_dir/data" -l "$pg_dir/log" -w \
    -o "-p $pg_port -k $pg_dir -c listen_addresses=127.0.0.1" start >/dev/null
runuser -u postgres -- psql -h "$pg_dir" -p "$pg_port" -qc "CREATE ROLE korvela LOGIN CREATEROLE PASSWORD 'package-test'"
runuser -u postgres -- createdb -h "$pg_dir" -p "$pg_port" --owner=korvela --encoding=UTF8 --template=template0 korvela
printf '[korvela]\nhost=127.0.0.1\nport=%s\ndbname=korvela\nuser=korvela\nsslmode=disable\n' "$pg_port" >"$service_file"
install -o korvela-backup -g korvela -m 0600 /dev/null /var/lib/korvela-backup/.pgpass
echo "127.0.0.1:$pg_port:korvela:korvela:package-test" >/var/lib/korvela-backup/.pgpass
install -m 0600 /var/lib/korvela-backup/.pgpass "$pg_dir/admin.pgpass"
PGPASSFILE="$pg_dir/admin.pgpass" korvela-admin server-init >/dev/null || fail "server-init on the package's server"
PGPASSFILE="$pg_dir/admin.pgpass" psql "service=korvela" -qc \
    "INSERT INTO a (a1, a3, a13, a15) VALUES ('服务器包测试', 'PKG-S1', '2024-05-02', 1)"
as_backup_user $backup_command >/tmp/korvela-package-backup.log 2>&1 ||
    fail "the backup service's command did not back up the server: $(cat /tmp/korvela-package-backup.log)"
dump=$(ls "$PROGRAM"/Data/backup/korvela-*.dump | tail -1)
[ -f "$dump.sha256" ] || fail "the server's dump has no fingerprint"
pg_restore --data-only --table=a --file=- "$dump" | grep -q PKG-S1 || fail "the dump does not hold the server's report"
[ "$(stat -c %a "$dump")" = 640 ] || fail "the dump is readable beyond the group korvela ($(stat -c %a "$dump"))"
stop_server
trap - EXIT

make_package 0.9.1
apt-get install -y -qq "./korvela_0.9.1_amd64.deb" >/dev/null
[ "$(dpkg-query -W -f='${Version}' korvela)" = 0.9.1 ] || fail "the upgrade did not take"
[ "$(sqlite3 "$DB" "SELECT A1 || A3 || A15 FROM A")" = "包测试PKG-11" ] || fail "a report was lost in the upgrade"
[ "$(sha256sum "$PROGRAM/Tmp2.Tmp")" = "$template_sum" ] || fail "the upgrade replaced the department's template"

apt-get remove -y -qq korvela >/dev/null
[ ! -e /usr/bin/korvela ] || fail "the korvela command outlived the package"
[ "$(sqlite3 "$DB" "SELECT count(*) FROM A")" = 1 ] || fail "removing the program lost the reports"

# Leave the machine as it was, the reports of this test included.
apt-get purge -y -qq korvela >/dev/null
[ -f "$DB" ] || fail "purging the package lost the reports"
rm -rf "$PROGRAM"
cmake -DKORVELA_PACKAGE_VERSION="$(sed -n 's/^project(Korvela VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")" . >/dev/null
echo "Package test passed: the package installs, starts, backs up and restores, backs up a department's server as the timer's user, upgrades with reports kept, and removes cleanly"
