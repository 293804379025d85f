#!/bin/sh
# Removes the Vexa Orla suite: the package "vexaorla" is removed as root,
# after polkit has asked for an administrator's password. Users' keymap files
# stay where they are. Exits non-zero when the removal did not happen.
set -eu
if ! dpkg-query -W -f='${Status}' vexaorla 2>/dev/null | grep -q 'ok installed'; then
    echo "uninstall: the package vexaorla is not installed" >&2
    exit 0
fi
exec pkexec /usr/bin/env DEBIAN_FRONTEND=noninteractive /usr/bin/apt-get remove --yes vexaorla
