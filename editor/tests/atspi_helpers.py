"""What the tests that use KeymapEditor as a person would have in common:
finding its widgets through the accessibility bus, waiting for them, and
real pointer and key events through xdotool."""

import subprocess
import sys
import time

import pyatspi


def fail(message):
    print(f"FAIL: {message}", file=sys.stderr)
    sys.exit(1)


def wait_for(what, predicate, timeout=30.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    fail(f"timed out waiting for {what}")


def xdotool(*args):
    subprocess.run(["xdotool", *map(str, args)], check=True)


def showing(node):
    return node.getState().contains(pyatspi.STATE_SHOWING)


def extents(node):
    return node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)


def centre(node):
    box = extents(node)
    return box.x + box.width // 2, box.y + box.height // 2


def find(root, role, name, visible=True):
    """The first descendant with this role and accessible name (showing
    on screen unless visible is False), or None."""
    return pyatspi.findDescendant(
        root, lambda n: n is not None and n.getRoleName() == role and n.name == name and (not visible or showing(n)))


def editor_app():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "KeymapEditor":
            return app
    return None
