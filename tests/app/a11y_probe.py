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
    while time.monotonic() < DEADLINE:
        if program.poll() is not None:
            sys.exit(f"the program ended ({program.returncode}) before {what}")
        try:
            found = find()
        except Exception:  # the tree changes while it is read
            found = None
        if found:
            return found
        time.sleep(0.2)
    sys.exit("gave up waiting for " + what)


def children(acc):
    return [acc.getChildAtIndex(i) for i in range(acc.childCount)]


def descendant(acc, role, name=None):
    for c in children(acc):
        if c.getRoleName() == role and (name is None or c.name == name):
            return c
        hit = descendant(c, role, name)
        if hit:
            return hit
    return None


def window(app, title):
    for w in children(app):
        if w.name == title and w.getRoleName() in ("frame", "dialog", "window"):
            print("window", w.getRoleName(), w.name, flush=True)
            return w
    return None


program = subprocess.Popen([sys.argv[1]])
atexit.register(lambda: program.poll() is None and program.kill())
app = until(lambda: next((a for a in children(pyatspi.Registry.getDesktop(0))
                          if a and a.get_process_id() == program.pid), None), "the program")
login = until(lambda: window(app, "로그인"), "the login window")
until(lambda: descendant(login, "password text"), "the password box") \
    .queryEditableText().setTextContents(sys.argv[2])
descendant(login, "push button", "확인").queryAction().doAction(0)
main = until(lambda: window(app, "데이터 리스트"), "the main window")
until(lambda: descendant(main, "push button", "닫기"), "the close button").queryAction().doAction(0)
print("exit", program.wait(timeout=max(1, DEADLINE - time.monotonic())), flush=True)
