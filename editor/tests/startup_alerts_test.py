"""Starts KeymapEditor as a person would, on a virtual X server, with the
suite missing in part: without the driver's unit file the editor says
"Driver is not installed." (and never asks for the set-up daemon); with the
unit file but no set-up daemon it says "A program for setting keyboards is
not found."; each alert's detail is "You need to install driver again.",
and OK ends the editor with status 0 before any window is shown. With both
in place the window opens. The texts are read from the accessibility bus.

    startup_alerts_test.py <KeymapEditor> <driver unit file> <screenshot folder>

Runs in a PID namespace of its own, inside dbus-run-session and xvfb-run
(see startup_alerts_test.sh)."""

import os
import shutil
import subprocess
import sys
import tempfile

import pyatspi

from atspi_helpers import centre, editor_app, fail, find, wait_for, xdotool

EDITOR, UNIT, SHOTS = sys.argv[1:4]
AGAIN = "You need to install driver again."


def labels(root):
    found = []
    pyatspi.findAllDescendants(root, lambda n: n is not None and n.getRoleName() == "label" and found.append(n.name))
    return found


def run_case(name, work, unit_installed, daemon_running, message):
    units = os.path.join(work, name, "units")
    os.makedirs(units)
    if unit_installed:
        shutil.copy(UNIT, units)
    stand_in = None
    if daemon_running:
        daemon = os.path.join(work, name, "VexaOrlaSetUpper")
        shutil.copy("/bin/sleep", daemon)
        stand_in = subprocess.Popen([daemon, "infinity"])
    env = dict(os.environ, HOME=os.path.join(work, name), SYSTEMD_UNIT_PATH=units,
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", ASAN_OPTIONS="detect_leaks=0")
    env.pop("QT_QPA_PLATFORM", None)
    editor = subprocess.Popen([EDITOR], env=env)
    try:
        app = wait_for("the editor on the accessibility bus", editor_app)
        if message is None:
            wait_for("the editor's window", lambda: find(app, "push button", "Apply"))
            subprocess.run(["import", "-window", "root", os.path.join(SHOTS, f"{name}.png")], check=True)
            editor.terminate()
            if editor.wait(30) != 0:
                fail(f"{name}: the editor ended with status {editor.returncode}")
            print(f"{name}: the window opened")
            return
        ok = wait_for("the alert's OK button", lambda: find(app, "push button", "OK"))
        texts = labels(app)
        subprocess.run(["import", "-window", "root", os.path.join(SHOTS, f"{name}.png")], check=True)
        if message not in texts or AGAIN not in texts:
            fail(f"{name}: the alert shows {texts}")
        if find(app, "push button", "Apply") is not None:
            fail(f"{name}: the window is shown behind the alert")
        xdotool("mousemove", *centre(ok))
        xdotool("click", 1)
        try:
            status = editor.wait(30)
        except subprocess.TimeoutExpired:
            fail(f"{name}: the editor did not end after OK (another alert?)")
        if status != 0:
            fail(f"{name}: the editor ended with status {status}")
        print(f"{name}: alert {message!r} / {AGAIN!r}; OK ended the editor with status 0")
    finally:
        if editor.poll() is None:
            editor.kill()
            editor.wait()
        if stand_in is not None:
            stand_in.kill()
            stand_in.wait()


def main():
    # Start the accessibility bus before the editor, which joins it at start.
    pyatspi.Registry.getDesktop(0)
    work = tempfile.mkdtemp()
    try:
        run_case("driver-missing", work, False, False, "Driver is not installed.")
        run_case("driver-missing-daemon-running", work, False, True, "Driver is not installed.")
        run_case("daemon-missing", work, True, False, "A program for setting keyboards is not found.")
        run_case("suite-in-place", work, True, True, None)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
