#!/usr/bin/env python3
"""Runs SQL that changes a report file as Korvela's own connections do: with the functions its
history triggers call (who, where, the chain's hash), which the sqlite3 shell lacks and so cannot
change the reports. For the package test, which puts a report in and takes it out again.

    python3 scripts/write-reports.py DATA.DAT "SQL"
"""
import getpass
import hashlib
import socket
import sqlite3
import sys


def digest(*columns):
    """The chain's hash of a row: each column "-" when null, else its UTF-8 length, ":" and text."""
    parts = []
    for c in columns:
        if c is None:
            parts.append(b"-")
        else:
            text = str(c).encode("utf-8")
            parts.append(str(len(text)).encode() + b":" + text)
    return hashlib.sha256(b"".join(parts)).hexdigest()


db = sqlite3.connect(sys.argv[1], isolation_level=None)
db.create_function("korvela_who", 0, getpass.getuser)
db.create_function("korvela_host", 0, socket.gethostname)
db.create_function("korvela_action", 1, lambda default: default)
db.create_function("korvela_restores", 0, lambda: None)
db.create_function("korvela_context", 2, lambda action, restores: None)
db.create_function("korvela_digest", -1, digest)
db.execute("BEGIN IMMEDIATE")
db.execute(sys.argv[2])
db.execute("COMMIT")
