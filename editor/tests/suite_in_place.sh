#!/usr/bin/env bash
# Runs a command with the suite in place as KeymapEditor checks for it at
# start: the driver's unit file in a unit folder of its own (systemd's
# SYSTEMD_UNIT_PATH names the search path), and a stand-in set-up daemon: a
# program named VexaOrlaSetUpper that only waits.
#
#   suite_in_place.sh <driver unit file> <command> [arguments...]
set -euo pipefail
unit=$1
shift
dir=$(mktemp -d)
mkdir "$dir/units"
cp "$unit" "$dir/units/"
cp /bin/sleep "$dir/VexaOrlaSetUpper"
"$dir/VexaOrlaSetUpper" infinity &
daemon=$!
cleanup() {
    kill "$daemon" 2>/dev/null || true
    wait "$daemon" 2>/dev/null || true
    rm -rf "$dir"
}
trap cleanup EXIT
SYSTEMD_UNIT_PATH=$dir/units "$@"
