#!/usr/bin/python3
# Prints, one per line, "role<TAB>name" of every accessible object of the application with the
# given process id, as a screen reader sees them through AT-SPI.
import sys
import time

import pyatspi


def walk(node, out):
    try:
        out.append(f"{node.getRoleName()}\t{node.name}")
        for i in range(node.childCount):
            walk(node.getChildAtIndex(i), out)
    except Exception:  # an object that went away while being read
        pass


def application(pid):
    for app in pyatspi.Registry.getDesktop(0):
        try:
            if app is not None and app.get_process_id() == pid and app.childCount > 0:
                return app
        except Exception:
            pass
    return None


# The application registers itself with the accessibility bus shortly after its window shows.
pid = int(sys.argv[1])
deadline = time.monotonic() + 30
app = application(pid)
while app is None and time.monotonic() < deadline:
    time.sleep(0.2)
    app = application(pid)
if app is None:
    sys.exit(f"no accessible application with process id {pid}")
out = []
walk(app, out)
print("\n".join(line.replace("\n", " ") for line in out))
