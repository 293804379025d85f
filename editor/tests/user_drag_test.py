"""Uses KeymapEditor as a person would, on a virtual X server: finds the
widgets through the accessibility bus, drags the Escape cap from the palette
onto the A key with real pointer events, presses Apply, quits from the File
menu, starts the editor again and reads the A key back. Then reads the saved
file with an independent reader and checks the "Reconfigure" signal seen on
the bus the editor posted to.

    user_drag_test.py <KeymapEditor> <check_pref_archive.py> <home> <screenshot.png>

Runs inside dbus-run-session and xvfb-run (see user_drag_test.sh)."""

import os
import subprocess
import sys
import time

import pyatspi

from atspi_helpers import centre, editor_app, extents, fail, find, wait_for, xdotool

EDITOR, ARCHIVE_READER, HOME, SHOT = sys.argv[1:5]
PREF_FILE = os.path.join(HOME, "Library/Preferences/VexaKeyboard_64bit.prefs")


def start_editor():
    env = dict(os.environ, HOME=HOME, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", ASAN_OPTIONS="detect_leaks=0")
    env.pop("QT_QPA_PLATFORM", None)
    process = subprocess.Popen([EDITOR], env=env)
    app = wait_for("the editor on the accessibility bus", editor_app)
    wait_for("the editor's window", lambda: find(app, "push button", "Apply"))
    return process, app


def key_description(app, name):
    key = find(app, "push button", name)
    return key.description if key is not None else None


def drag(source, target):
    """Presses on the source, moves in small steps as a hand does, and
    releases over the target."""
    (sx, sy), (tx, ty) = source, target
    xdotool("mousemove", sx, sy)
    time.sleep(0.2)
    xdotool("mousedown", 1)
    steps = 25
    for i in range(1, steps + 1):
        xdotool("mousemove", sx + (tx - sx) * i // steps, sy + (ty - sy) * i // steps)
        time.sleep(0.04)
    time.sleep(0.3)
    xdotool("mouseup", 1)


def scroll_into_view(view, cell):
    """Turns the mouse wheel over the palette until the cell lies inside it."""
    vx, vy = centre(view)
    xdotool("mousemove", vx, vy)
    for _ in range(200):
        box, frame = extents(cell), extents(view)
        if box.y >= frame.y and box.y + box.height <= frame.y + frame.height:
            return
        xdotool("click", 5 if box.y > frame.y else 4)
        time.sleep(0.05)
    fail("the palette did not scroll to the cap")


def main():
    # Start the accessibility bus before the editor, which joins it at start.
    pyatspi.Registry.getDesktop(0)
    # Watch the bus the editor posts its notification to.
    monitor = subprocess.Popen(
        ["dbus-monitor", "--address", os.environ["DBUS_SYSTEM_BUS_ADDRESS"],
         "type='signal',interface='mirlan.daemon.VexaOrla'"],
        stdout=subprocess.PIPE, text=True)

    editor, app = start_editor()
    if key_description(app, "A") != "A":
        fail(f"without a preference file the A key sends {key_description(app, 'A')!r}")
    palette = find(app, "table", "Key caps")
    cap = find(app, "table cell", "Escape", visible=False)
    if palette is None or cap is None:
        fail("no Escape cap in the palette")
    scroll_into_view(palette, cap)
    drag(centre(cap), centre(find(app, "push button", "A")))
    wait_for("the A key to take the Escape cap", lambda: key_description(app, "A") == "Escape", 10)
    print("dragged the Escape cap onto A: the key now sends Escape")

    xdotool("mousemove", *centre(find(app, "push button", "Apply")))
    xdotool("click", 1)
    wait_for("the preference file", lambda: os.path.exists(PREF_FILE), 10)
    print(f"Apply wrote {PREF_FILE}")

    xdotool("mousemove", *centre(find(app, "menu item", "File")))
    xdotool("click", 1)
    quit_item = wait_for("the Quit menu item", lambda: find(app, "menu item", "Quit"), 10)
    xdotool("mousemove", *centre(quit_item))
    xdotool("click", 1)
    try:
        status = editor.wait(30)
    except subprocess.TimeoutExpired:
        editor.kill()
        fail("the editor did not end after File > Quit")
    if status != 0:
        fail(f"the editor ended with status {status}")
    print("File > Quit ended the editor with status 0")

    editor, app = start_editor()
    described = wait_for("the A key's output", lambda: key_description(app, "A"), 10)
    subprocess.run(["import", "-window", "root", SHOT], check=True)
    editor.terminate()
    editor.wait(30)
    if described != "Escape":
        fail(f"after a restart the A key sends {described!r}")
    print("started again: the A key still sends Escape")

    # The saved file, as an independent reader sees it.
    lines = subprocess.run(["/usr/bin/python3", ARCHIVE_READER, PREF_FILE], check=True, capture_output=True,
                           text=True).stdout.splitlines()
    tables = dict(line.split("=", 1) for line in lines)
    ansi = bytes.fromhex(tables["VexaKeyMap/Vexa Orla ANSI"].removeprefix("data:"))
    jis = bytes.fromhex(tables["VexaKeyMap/Vexa Orla JIS"].removeprefix("data:"))
    if len(ansi) != 256 or len(jis) != 256 or ansi[0x04] != 0x29:
        fail(f"the file holds ANSI {ansi.hex()} / JIS {jis.hex()}")
    if any(ansi[i] != i for i in range(256) if i != 0x04):
        fail("the ANSI table changed more than the A key")
    print("the file holds both tables; ANSI entry 0x04 is 0x29 (Escape)")

    monitor.terminate()
    seen = monitor.communicate(timeout=10)[0]
    if seen.count('string "Reconfigure"') != 1:
        fail(f"expected one Reconfigure signal, the bus saw:\n{seen}")
    print("the bus carried one Reconfigure signal")


if __name__ == "__main__":
    main()
