#!/usr/bin/env bash
# Runs user_drag_test.py on a virtual X server, with a session bus of its own
# that carries the accessibility bus and also stands in for the system bus
# (where the editor posts "Reconfigure"), and a fresh home folder.
#
#   user_drag_test.sh <KeymapEditor> <check_pref_archive.py> <screenshot.png>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" = "--inside" ]; then
    shift
    export DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS
    exec /usr/bin/python3 "$here/user_drag_test.py" "$@"
fi
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
rm -f "$3"
dbus-run-session -- xvfb-run -a -s "-screen 0 1024x600x24" "$0" --inside "$1" "$2" "$home" "$3"
