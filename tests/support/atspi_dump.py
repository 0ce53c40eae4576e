#!/usr/bin/python3
"""Runs a program on a private X server (Xvfb) with a private session bus and accessibility bus,
and prints what screen readers see of its windows: one JSON object per accessible object.

  atspi_dump.py [--language de] [--press NAME]... [--timeout S] -- PROGRAM [ARGS...]

The tree is printed once the program's first window is there ("dump": 0), then again after
each --press, which does the named object's first action ("dump": 1, 2, ...). Each line holds
the dump's number, the depth, the role, the name, the description and the states. The program
gets the caller's environment with DISPLAY, DBUS_SESSION_BUS_ADDRESS and, with --language,
LANGUAGE set; nothing reaches the user's own display or buses. Exit code 0 when every dump was
made, 1 otherwise."""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time


def start_xvfb(folder):
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1366x768x24", "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL,
        stderr=open(os.path.join(folder, "xvfb.log"), "wb"))
    os.close(write_end)
    with os.fdopen(read_end) as display:
        number = display.readline().strip()
    if not number:
        raise RuntimeError("Xvfb did not start")
    return xvfb, ":" + number


def start_session_bus(folder):
    bus = subprocess.Popen(
        ["dbus-daemon", "--session", "--nofork", "--print-address"],
        stdout=subprocess.PIPE, stderr=open(os.path.join(folder, "bus.log"), "wb"), text=True)
    address = bus.stdout.readline().strip()
    if not address:
        raise RuntimeError("dbus-daemon did not start")
    return bus, address


def states_of(accessible, Atspi):
    state_set = accessible.get_state_set()
    names = []
    for state in state_set.get_states():
        names.append(Atspi.StateType(state).value_nick)
    return sorted(names)


def walk(accessible, Atspi, depth, dump, out):
    try:
        line = {
            "dump": dump,
            "depth": depth,
            "role": accessible.get_role_name(),
            "name": accessible.get_name() or "",
            "description": accessible.get_description() or "",
            "states": states_of(accessible, Atspi),
        }
    except Exception:  # an object that went away while we looked
        return
    out.append(line)
    for index in range(accessible.get_child_count()):
        child = accessible.get_child_at_index(index)
        if child is not None:
            walk(child, Atspi, depth + 1, dump, out)


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


def find_named(accessible, name):
    if (accessible.get_name() or "") == name:
        return accessible
    for index in range(accessible.get_child_count()):
        child = accessible.get_child_at_index(index)
        found = child is not None and find_named(child, name)
        if found:
            return found
    return None


def press(app, name):
    target = find_named(app, name)
    if not target:
        raise RuntimeError("nothing named " + name)
    if target.get_n_actions() == 0:
        raise RuntimeError(name + " has no action")
    target.do_action(0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--language")
    parser.add_argument("--press", action="append", default=[])
    parser.add_argument("--timeout", type=float, default=20.0)
    parser.add_argument("program", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    program = [word for word in args.program if word != "--"] if args.program else []
    if not program:
        parser.error("no program")

    folder = tempfile.mkdtemp(prefix="atspi-")
    children = []
    try:
        xvfb, display = start_xvfb(folder)
        children.append(xvfb)
        bus, address = start_session_bus(folder)
        children.append(bus)
        # The accessibility library finds its bus through these when it is first used.
        os.environ["DISPLAY"] = display
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
        with open(os.path.join(folder, "program.log"), "wb") as log:
            program_process = subprocess.Popen(program, env=environment, stdout=log, stderr=log)
        children.append(program_process)
        deadline = time.monotonic() + args.timeout
        app = find_application(Atspi, program_process.pid, deadline)
        if app is None:
            sys.stderr.write("the program showed no accessible window\n")
            sys.stderr.write(open(os.path.join(folder, "program.log")).read())
            return 1
        time.sleep(0.5)  # let the first refresh fill the window
        out = []
        walk(app, Atspi, 0, 0, out)
        for dump, name in enumerate(args.press, start=1):
            press(app, name)
            time.sleep(0.5)
            walk(app, Atspi, 0, dump, out)
        for line in out:
            print(json.dumps(line, ensure_ascii=False))
        return 0
    finally:
        for child in reversed(children):
            if child.poll() is None:
                child.send_signal(signal.SIGTERM)
                try:
                    child.wait(5)
                except subprocess.TimeoutExpired:
                    child.kill()
                    child.wait()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
