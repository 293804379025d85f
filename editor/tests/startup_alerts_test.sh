#!/usr/bin/env bash
# Runs startup_alerts_test.py in a process table of its own (a PID
# namespace), so that no process of another test counts as the set-up
# daemon, on a virtual X server with a session bus for the accessibility bus.
#
#   startup_alerts_test.sh <KeymapEditor> <driver unit file> <screenshot folder>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" = "--inside" ]; then
    shift
    exec dbus-run-session -- xvfb-run -a -s "-screen 0 1024x600x24" /usr/bin/python3 "$here/startup_alerts_test.py" "$@"
fi
mkdir -p "$3"
# As root a new PID namespace needs nothing more; as another user, a user
# namespace of its own maps the user to root inside it.
for userns in "" "--user --map-root-user"; do
    # shellcheck disable=SC2086
    if unshare $userns --pid --fork --mount-proc true 2>/dev/null; then
        exec unshare $userns --pid --fork --mount-proc "$0" --inside "$@"
    fi
done
echo "cannot make a PID namespace (unshare refused): the process checks cannot be isolated" >&2
exit 1
