#!/usr/bin/env python3
"""Runs every benchmark and prints one table: what Korvela takes, the reference measured in the
same run (the sqlite3 program, a bare SQLite, libpq or UNO program, psql on the same server,
LibreOffice's own start) and the ratio. Report databases are made once and kept in the data folder.

The report server's benchmarks run on a PostgreSQL server of this script's own: a cluster made by
initdb in a temporary folder, listening only on a Unix socket there, with the server's default
settings (every commit waits for the disk), run by pg_ctl as the user postgres when this runs as
root (the server refuses to run as root). Its report databases are filled with the rows of the
kept report files (COPY), then vacuumed and analysed. Korvela reaches them through the libpq
service "korvela", named in a service file of the server's (PGSERVICEFILE), as a workstation does.

    bench/run.py [--build build] [--data /tmp/korvela-bench] [--rounds 5] [--sizes 100000,1000000]
"""
import argparse
import glob
import os
import platform
import pwd
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(cmd, log, env=None, fatal=True):
    """The program's standard output; a failure ends the run, or gives None when not `fatal`."""
    full_env = dict(os.environ)
    full_env.setdefault("QT_QPA_PLATFORM", "offscreen")
    full_env.update(env or {})
    out = subprocess.run(cmd, capture_output=True, text=True, env=full_env)
    with open(log, "w") as f:
        f.write(out.stdout)
        f.write(out.stderr)
    if out.returncode != 0:
        if not fatal:
            return None
        sys.exit(f"{' '.join(cmd)} failed, see {log}")
    return out.stdout


def ratio(ours, ref):
    return f"{ours / ref:.2f}" if ref else "–"


COLUMNS = [f"a{i}" for i in range(1, 28)]


class Server:
    """A PostgreSQL server in a temporary folder, stopped and removed by stop()."""

    @staticmethod
    def binaries():
        """The newest installed server's programs folder, or None."""
        bins = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"), key=lambda p: int(p.split("/")[4]))
        return os.path.dirname(bins[-1]) if bins else None

    def __init__(self, logs):
        self.bin = Server.binaries()
        self.logs = logs
        self.dir = tempfile.mkdtemp(prefix="korvela-bench-pg-")
        self.as_postgres = os.geteuid() == 0
        if self.as_postgres:
            pw = pwd.getpwnam("postgres")
            os.chown(self.dir, pw.pw_uid, pw.pw_gid)
        self.service_file = os.path.join(self.dir, "pg_service.conf")
        self.running = False
        data = os.path.join(self.dir, "data")
        try:
            # --no-sync only spares initdb's own flushing of the new cluster; the server runs with
            # its defaults.
            self.tool("initdb", "-D", data, "-U", "postgres", "-A", "trust", "-E", "UTF8", "--locale=C.UTF-8",
                      "--no-sync")
            self.tool("pg_ctl", "-D", data, "-l", os.path.join(self.dir, "server.log"), "-o",
                      f"-c listen_addresses='' -k {self.dir}", "-w", "start")
            self.running = True
        except BaseException:
            self.stop()
            raise

    def tool(self, name, *args):
        cmd = [os.path.join(self.bin, name), *args]
        if self.as_postgres:
            cmd = ["runuser", "-u", "postgres", "--", *cmd]
        run(cmd, os.path.join(self.logs, f"server-{name}.txt"))

    def connection(self, db):
        return f"host={self.dir} user=postgres dbname={db}"

    def psql(self, db, *args, stdin=None):
        out = subprocess.run([os.path.join(self.bin, "psql"), "-X", "-q", "-v", "ON_ERROR_STOP=1", "-At",
                              "-d", self.connection(db), *args], stdin=stdin, capture_output=True, text=True,
                             env={**os.environ, "PGCLIENTENCODING": "UTF8"})
        if out.returncode != 0:
            sys.exit(f"psql on {db} failed: {out.stderr}")
        return out.stdout.strip()

    def create(self, db):
        """A new empty report database, made from data/schema-postgresql.sql."""
        self.psql("postgres", "-c", f"DROP DATABASE IF EXISTS {db}", "-c", f"CREATE DATABASE {db}")
        self.psql(db, "-f", os.path.join(ROOT, "data", "schema-postgresql.sql"))

    def copy_from(self, db, report_file):
        """COPYs the rows of a report file, in their order, into table a; gives the seconds taken."""
        started = time.monotonic()
        rows = subprocess.Popen(["sqlite3", "-csv", report_file,
                                 f"SELECT {','.join(c.upper() for c in COLUMNS)} FROM A ORDER BY rowid"],
                                stdout=subprocess.PIPE)
        self.psql(db, "-c", f"\\copy a ({','.join(COLUMNS)}) FROM pstdin WITH (FORMAT csv)", stdin=rows.stdout)
        rows.stdout.close()
        if rows.wait() != 0:
            sys.exit(f"sqlite3 could not read {report_file}")
        return time.monotonic() - started

    def count(self, db):
        return int(self.psql(db, "-c", "SELECT count(*) FROM a"))

    def point_service(self, db):
        """Points the service "korvela" at `db`; gives the environment that names the service file."""
        with open(self.service_file, "w") as f:
            f.write(f"[korvela]\nhost={self.dir}\nuser=postgres\ndbname={db}\n")
        return {"PGSERVICEFILE": self.service_file}

    def stop(self):
        if self.running:
            self.running = False
            self.tool("pg_ctl", "-D", os.path.join(self.dir, "data"), "-m", "fast", "-w", "stop")
        if os.path.exists(os.path.join(self.dir, "server.log")):
            shutil.copyfile(os.path.join(self.dir, "server.log"), os.path.join(self.logs, "server.txt"))
        shutil.rmtree(self.dir, ignore_errors=True)


def search_rows(text, size, where, reference, store_alone=False):
    """The table rows of one search_bench run; with `store_alone` also those of the statement and
    the result set alone, without the window."""
    rows = []
    for block in text.split("\n\n"):
        title = re.search(r"^\((\w)\) (.*)$", block, re.M)
        ours = re.search(r"click to first report shown: median ([0-9.]+) ms", block)
        floor = re.search(r"floor, same SELECT on [^:]+:\s+median ([0-9.]+) ms", block)
        peak = re.search(r"memory: rss \d+ kB, peak (\d+) kB \(floor peak (\d+) kB\)", block)
        alone = re.search(r"result set opened alone: median ([0-9.]+) ms.*floor in turn with it: median ([0-9.]+) ms",
                          block)
        if not (title and ours and floor):
            continue
        name = f"search ({title.group(1)}) {title.group(2)}, {int(size):,} reports{where}"
        rows.append((f"{name} (reference: {reference})", "ms", float(ours.group(1)), float(floor.group(1))))
        if store_alone and alone:
            rows.append((f"{name}, BuildSearchStatement + ResultSet open of every found row, no window "
                         f"(reference: {reference})", "ms",
                         float(alone.group(1)), float(alone.group(2))))
        if title.group(1) == "a" and peak:
            rows.append((f"peak memory after (a), {int(size):,} reports{where} (reference: {reference})", "MB",
                         int(peak.group(1)) / 1024, int(peak.group(2)) / 1024))
        above = re.search(r"memory above the process before the search: (-?\d+) kB", block)
        if title.group(1) == "a" and above:
            rows.append((f"memory above the process before (a), {int(size):,} reports{where} (target: 60 MB)", "MB",
                         int(above.group(1)) / 1024, 0))
        step = re.search(r"browse step: > median ([0-9.]+) ms, slowest ([0-9.]+) ms; < median ([0-9.]+) ms", block)
        if title.group(1) == "a" and step:
            rows.append((f"browse step > after (a), {int(size):,} reports{where}, median, access log on (target: 5 ms)", "ms",
                         float(step.group(1)), 0))
            rows.append((f"browse step > after (a), {int(size):,} reports{where}, slowest of 2000", "ms",
                         float(step.group(2)), 0))
            rows.append((f"browse step < after (a), {int(size):,} reports{where}, median", "ms",
                         float(step.group(3)), 0))
        written = re.search(r"access log: (\d+) views written in one transaction: median ([0-9.]+) ms, "
                            r"slowest ([0-9.]+) ms", block)
        if title.group(1) == "a" and written:
            rows.append((f"access log write every 2 s while browsing ({written.group(1)} views), "
                         f"{int(size):,} reports{where}, median", "ms", float(written.group(2)), 0))
            rows.append((f"access log write every 2 s while browsing ({written.group(1)} views), "
                         f"{int(size):,} reports{where}, slowest of 50", "ms", float(written.group(3)), 0))
    return rows


def server_benchmarks(build, a, logs, rows, collect, notes):
    """The searches, saves and the move on a report server of this run's own."""
    server = Server(logs)
    try:
        sizes = a.sizes.split(",")
        for size in sizes:
            db = f"reports_{size}"
            server.create(db)
            seconds = server.copy_from(db, os.path.join(a.data, f"reports-{size}.Dat"))
            server.psql(db, "-c", "VACUUM ANALYZE a", "-c", "CHECKPOINT")
            with open(f"{logs}/server-load-{size}.txt", "w") as f:
                f.write(f"{server.count(db)} reports copied into {db} in {seconds:.1f} s\n")
            # The window writes its access log into the store it searches.
            run([os.path.join(build, "admin", "korvela-admin"), "upgrade"], f"{logs}/server-upgrade-{size}.txt",
                env=server.point_service(db))
            text = run([f"{build}/bench/search_bench", "--server", a.rounds], f"{logs}/server-search-{size}.txt",
                       env=server.point_service(db))
            rows.extend(search_rows(text, size, " on the server", "bare libpq program", store_alone=True))
            collect(run([f"{build}/bench/review_bench", "--server", a.rounds], f"{logs}/server-review-{size}.txt",
                        env=server.point_service(db)))

        # The saves add and remove their own rows only; the searches above are done by now. The
        # store keeps its history (upgraded above); a copy without it is the reference for what
        # keeping every change costs.
        admin = os.path.join(build, "admin", "korvela-admin")
        saves = f"reports_{sizes[0]}"
        server.create("saves_plain")
        server.copy_from("saves_plain", os.path.join(a.data, f"reports-{sizes[0]}.Dat"))
        collect(run([f"{build}/bench/server_save_bench", "1000", "saves_plain"], f"{logs}/server-save.txt",
                    env=server.point_service(saves)))

        # Moving a workstation's report file to the server, into an empty report database, beside
        # the same rows read from the same file by sqlite3 and COPYed by psql into another one (the
        # least a move can do: read every row once, write them all in one statement). The move's
        # server keeps the history, each copied report's first row written as it arrives.
        size = sizes[0]
        source = os.path.join(a.data, f"reports-{size}.Dat")
        if not os.path.exists(admin):
            notes.append(f"move-to-server: skipped, {admin} is not built")
        else:
            # A copy, since the move may mark or put aside the file it moved.
            moved = os.path.join(server.dir, "Data.Dat")
            shutil.copyfile(source, moved)
            server.create("move_ours")
            env = server.point_service("move_ours")
            run([admin, "upgrade"], f"{logs}/move-upgrade.txt", env=env)
            started = time.monotonic()
            out = subprocess.run([admin, "move-to-server", "--file", moved], capture_output=True, text=True,
                                 env={**os.environ, **env})
            ours = time.monotonic() - started
            with open(f"{logs}/move-to-server.txt", "w") as f:
                f.write(out.stdout + out.stderr)
            found = server.count("move_ours") if out.returncode == 0 else 0
            if out.returncode != 0 or found != int(size):
                notes.append(f"move-to-server: failed (exit {out.returncode}, {found} of {int(size):,} reports on the "
                             f"server), see {logs}/move-to-server.txt")
            else:
                server.create("move_reference")
                theirs = server.copy_from("move_reference", source)
                if server.count("move_reference") != int(size):
                    sys.exit("the reference COPY did not copy every report")
                rows.append((f"move-to-server, {int(size):,} reports (reference: sqlite3 piped into psql \\copy; "
                             f"higher is better)", "reports/s", int(size) / ours, int(size) / theirs))
    finally:
        server.stop()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", default=os.path.join(ROOT, "build"))
    p.add_argument("--data", default="/tmp/korvela-bench")
    p.add_argument("--rounds", default="5")
    p.add_argument("--sizes", default="100000,1000000")
    a = p.parse_args()
    build = os.path.abspath(a.build)
    logs = os.path.join(a.data, "logs")
    os.makedirs(logs, exist_ok=True)
    subprocess.run(["cmake", "--build", build], check=True, capture_output=True)
    rows = []
    notes = []

    # Every bench program prints its results as lines "RESULT<TAB>measure<TAB>ours<TAB>reference<TAB>unit".
    def collect(text):
        for line in text.splitlines():
            if line.startswith("RESULT\t"):
                _, measure, ours, ref, unit = line.split("\t")
                rows.append((measure, unit, float(ours), float(ref)))

    collect(run([f"{build}/bench/save_bench", "100000", "300"], f"{logs}/save.txt"))

    # import-legacy: the old program's 20,000 reports into an empty Data.Dat (needs the shared fixtures).
    text = run([f"{build}/bench/import_bench", a.rounds], f"{logs}/import-legacy.txt")
    if "RESULT\t" in text:
        collect(text)
    else:
        notes.append(f"import-legacy: skipped, see {logs}/import-legacy.txt")

    for size in a.sizes.split(","):
        db = os.path.join(a.data, f"reports-{size}.Dat")
        if not os.path.exists(db):
            run([f"{build}/bench/make_reports", db, size], f"{logs}/make-{size}.txt")
        # The window writes its access log into the file it searches.
        run([f"{build}/admin/korvela-admin", "upgrade", "--file", db], f"{logs}/upgrade-{size}.txt")
        text = run([f"{build}/bench/search_bench", db, a.rounds], f"{logs}/search-{size}.txt")
        rows.extend(search_rows(text, size, "", "bare SQLite program"))
        collect(run([f"{build}/bench/review_bench", db, a.rounds], f"{logs}/review-{size}.txt"))

    # The 修改记录 tab at a million changes, on a report file of its own (100,000 reports, upgraded
    # as setup upgrades a program folder's) whose history the bench fills once; the report files
    # above keep no history of it.
    history = os.path.join(a.data, "history-1000000.Dat")
    if not os.path.exists(history):
        run([f"{build}/bench/make_reports", history, "100000"], f"{logs}/make-history.txt")
        run([os.path.join(build, "admin", "korvela-admin"), "upgrade", "--file", history],
            f"{logs}/upgrade-history.txt")
    collect(run([f"{build}/bench/review_bench", "--history", history, a.rounds], f"{logs}/review-history.txt"))

    # The daily backup of the largest Data.Dat while a writer saves: at most 5 times the sqlite3
    # program's bare .backup, no save during it longer than 100 ms.
    largest = max(a.sizes.split(","), key=int)
    collect(run([f"{build}/bench/backup_bench", os.path.join(a.data, f"reports-{largest}.Dat"),
                 os.path.join(a.data, "backup-work")], f"{logs}/backup.txt"))

    # korvela-admin check of a history of a million changes (the file is made once, by the triggers
    # of a Korvela connection, and kept): both chains recomputed and every report held against it.
    history = os.path.join(a.data, "history-1000000.Dat")
    run([f"{build}/bench/history_bench", "make", history, "1000000"], f"{logs}/history-make.txt")
    collect(run([f"{build}/bench/history_bench", "check", history, a.rounds], f"{logs}/history-check.txt"))

    if Server.binaries():
        server_benchmarks(build, a, logs, rows, collect, notes)
    else:
        notes.append("report server: skipped, no PostgreSQL server installed (/usr/lib/postgresql/*/bin/initdb)")

    documents = os.path.join(build, "bench", "document_bench")
    if os.path.exists(documents):
        # The office benchmark needs a virtual screen and LibreOffice, which a busy machine can
        # fail to start; the rows measured so far are kept then.
        text = run(["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", documents, a.rounds],
                   f"{logs}/documents.txt", env={"QT_QPA_PLATFORM": "xcb"}, fatal=False)
        if text is None:
            notes.append(f"documents: failed, see {logs}/documents.txt")
        else:
            collect(text)

    cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
    mem = next((int(l.split()[1]) // 1024 // 1024 for l in open("/proc/meminfo") if l.startswith("MemTotal")), 0)
    print(f"Machine: {platform.node()}, {os.cpu_count()} cores, {cpu}, {mem} GiB, {platform.platform()}")
    print()
    print("| measure | unit | Korvela | reference | ratio |")
    print("|---|---|---:|---:|---:|")
    for measure, unit, ours, ref in rows:
        digits = 1 if unit != "ms" or ours >= 10 else 2
        # A measure with a target rather than a reference has no reference figure.
        shown_ref = f"{ref:.{digits}f}" if ref else "–"
        print(f"| {measure} | {unit} | {ours:.{digits}f} | {shown_ref} | {ratio(ours, ref)} |")
    if notes:
        print()
        for note in notes:
            print(note)


if __name__ == "__main__":
    main()
