# Drives the program as a screen reader would: finds its windows by title on
# the accessibility bus, signs in and closes through accessible actions.
# Prints "window <role> <title>" per window found, then "exit <code>".
# Usage: a11y_probe.py PROGRAM PASSWORD
import atexit
import subprocess
import sys
import time

import pyatspi

DEADLINE = time.monotonic() + 120


def until(find, what):
    while time.monotonic() < DEADLINE and program.poll() is None:
        try:
            found = find()
        except Exception:  # the tree changes while it is read
            found = None
        if found:
            return found
        time.sleep(0.2)
    sys.exit(f"no {what} (program exit code {program.poll()})")


def kids(acc):
    return [acc.getChildAtIndex(i) for i in range(acc.childCount)]


def find(acc, role, name=None):
    for c in kids(acc):
        if c.getRoleName() == role and name in (None, c.name):
            return c
        hit = find(c, role, name)
        if hit:
            return hit
    return None


def window(app, title):
    w = next((w for w in kids(app) if w.name == title and w.getRoleName() in ("frame", "dialog", "window")), None)
    if w:
        print("window", w.getRoleName(), w.name, flush=True)
    return w


program = subprocess.Popen([sys.argv[1]])
atexit.register(lambda: program.poll() is None and program.kill())
app = until(lambda: next((a for a in kids(pyatspi.Registry.getDesktop(0)) if a.get_process_id() == program.pid),
                         None), "program on the bus")
login = until(lambda: window(app, "로그인"), "login window")
until(lambda: find(login, "password text"), "password box").queryEditableText().setTextContents(sys.argv[2])
find(login, "push button", "확인").queryAction().doAction(0)
main = until(lambda: window(app, "데이터 리스트"), "main window")
until(lambda: find(main, "push button", "닫기"), "close button").queryAction().doAction(0)
print("exit", program.wait(timeout=max(1, DEADLINE - time.monotonic())), flush=True)
