#!/usr/bin/env python3
"""Runs every benchmark and prints one table: what Korvela takes, the reference measured in the
same run (the sqlite3 program, a bare SQLite or UNO program, LibreOffice's own start) and the ratio.
Report databases are made once and kept in the data folder.

    bench/run.py [--build build] [--data /tmp/korvela-bench] [--rounds 5] [--sizes 100000,1000000]
"""
import argparse
import os
import platform
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(cmd, log, env=None):
    full_env = dict(os.environ)
    full_env.setdefault("QT_QPA_PLATFORM", "offscreen")
    full_env.update(env or {})
    out = subprocess.run(cmd, capture_output=True, text=True, env=full_env)
    with open(log, "w") as f:
        f.write(out.stdout)
        f.write(out.stderr)
    if out.returncode != 0:
        sys.exit(f"{' '.join(cmd)} failed, see {log}")
    return out.stdout


def ratio(ours, ref):
    return f"{ours / ref:.2f}" if ref else "–"


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

    # Every bench program prints its results as lines "RESULT<TAB>measure<TAB>ours<TAB>reference<TAB>unit".
    def collect(text):
        for line in text.splitlines():
            if line.startswith("RESULT\t"):
                _, measure, ours, ref, unit = line.split("\t")
                rows.append((measure, unit, float(ours), float(ref)))

    collect(run([f"{build}/bench/save_bench", "100000", "300"], f"{logs}/save.txt"))

    for size in a.sizes.split(","):
        db = os.path.join(a.data, f"reports-{size}.Dat")
        if not os.path.exists(db):
            run([f"{build}/bench/make_reports", db, size], f"{logs}/make-{size}.txt")
        text = run([f"{build}/bench/search_bench", db, a.rounds], f"{logs}/search-{size}.txt")
        for block in text.split("\n\n"):
            title = re.search(r"^\((\w)\) (.*)$", block, re.M)
            ours = re.search(r"click to first report shown: median ([0-9.]+) ms", block)
            floor = re.search(r"floor, same SELECT on the C API:\s+median ([0-9.]+) ms", block)
            peak = re.search(r"memory: rss \d+ kB, peak (\d+) kB \(floor peak (\d+) kB\)", block)
            if not (title and ours and floor):
                continue
            name = f"search ({title.group(1)}) {title.group(2)}, {int(size):,} reports (reference: bare SQLite program)"
            rows.append((name, "ms", float(ours.group(1)), float(floor.group(1))))
            if title.group(1) == "a" and peak:
                rows.append((f"peak memory after (a), {int(size):,} reports (reference: bare SQLite program)", "MB",
                             int(peak.group(1)) / 1024, int(peak.group(2)) / 1024))

    documents = os.path.join(build, "bench", "document_bench")
    if os.path.exists(documents):
        collect(run(["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", documents, a.rounds],
                    f"{logs}/documents.txt", env={"QT_QPA_PLATFORM": "xcb"}))

    cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
    mem = next((int(l.split()[1]) // 1024 // 1024 for l in open("/proc/meminfo") if l.startswith("MemTotal")), 0)
    print(f"Machine: {platform.node()}, {os.cpu_count()} cores, {cpu}, {mem} GiB, {platform.platform()}")
    print()
    print("| measure | unit | Korvela | reference | ratio |")
    print("|---|---|---:|---:|---:|")
    for measure, unit, ours, ref in rows:
        print(f"| {measure} | {unit} | {ours:.1f} | {ref:.1f} | {ratio(ours, ref)} |"
              if unit != "ms" or ours >= 10 else
              f"| {measure} | {unit} | {ours:.2f} | {ref:.2f} | {ratio(ours, ref)} |")


if __name__ == "__main__":
    main()
