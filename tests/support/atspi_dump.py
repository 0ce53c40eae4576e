#!/usr/bin/python3
"""atspi_dump.py [--language de] [--press NAME]... -- PROGRAM [ARGS...]

Runs the program on a private X server with private session and accessibility buses, and prints
what screen readers see of it, one JSON line per accessible object: once its first window is
there ("dump": 0), then after each --press, which does the named object's first action."""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time


def start(command, children):
    """Starts a server that prints where it listens as its first line, and gives that line."""
    children.append(subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     text=True))
    line = children[-1].stdout.readline().strip()
    if not line:
        raise RuntimeError(command[0] + " did not start")
    return line


def walk(accessible, Atspi, dump, out):
    try:
        line = {
            "dump": dump,
            "role": accessible.get_role_name(),
            "name": accessible.get_name() or "",
            "description": accessible.get_description() or "",
            "states": sorted(Atspi.StateType(state).value_nick
                             for state in accessible.get_state_set().get_states()),
        }
    except Exception:  # an object that went away while we looked
        return
    out.append(line)
    for index in range(accessible.get_child_count()):
        child = accessible.get_child_at_index(index)
        if child is not None:
            walk(child, Atspi, dump, out)


def find_application(Atspi, pid, deadline):
    while time.monotonic() < deadline:
        desktop = Atspi.get_desktop(0)
        for index in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(index)
            try:
                if app is not None and app.get_process_id() == pid and app.get_child_count() > 0:
                    return app
            except Exception:
                pass
        time.sleep(0.1)
    return None


def press(accessible, name):
    """Does the first action of the first object of that name; whether there was one."""
    if (accessible.get_name() or "") == name and accessible.get_n_actions() > 0:
        return accessible.do_action(0) or True
    children = (accessible.get_child_at_index(i) for i in range(accessible.get_child_count()))
    return any(child is not None and press(child, name) for child in children)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--language")
    parser.add_argument("--press", action="append", default=[])
    parser.add_argument("program", nargs="+")
    args = parser.parse_args()

    children = []
    try:
        display = start(["Xvfb", "-displayfd", "1", "-screen", "0", "1366x768x24", "-nolisten",
                         "tcp"], children)
        address = start(["dbus-daemon", "--session", "--nofork", "--print-address"], children)
        # The accessibility library finds its bus through these when it is first used.
        os.environ["DISPLAY"] = ":" + display
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = address
        environment = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                           QT_ACCESSIBILITY="1")
        if args.language:
            # LANGUAGE counts only beside a locale other than C, as for gettext.
            environment["LANGUAGE"] = args.language
            environment.setdefault("LANG", "C.UTF-8")

        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi

        Atspi.init()
        log = tempfile.TemporaryFile()
        children.append(subprocess.Popen(args.program, env=environment, stdout=log, stderr=log))
        app = find_application(Atspi, children[-1].pid, time.monotonic() + 20)
        if app is None:
            log.seek(0)
            sys.stderr.write("the program showed no accessible window\n")
            sys.stderr.write(log.read().decode(errors="replace"))
            return 1
        time.sleep(0.5)  # let the first refresh fill the window
        out = []
        walk(app, Atspi, 0, out)
        for dump, name in enumerate(args.press, start=1):
            if not press(app, name):
                raise RuntimeError("nothing named " + name + " to press")
            time.sleep(0.5)
            walk(app, Atspi, dump, out)
        for line in out:
            print(json.dumps(line, ensure_ascii=False))
        return 0
    finally:
        for child in reversed(children):
            child.terminate()  # nothing, when it has ended
            try:
                child.wait(5)
            except subprocess.TimeoutExpired:
                child.kill()


if __name__ == "__main__":
    sys.exit(main())
