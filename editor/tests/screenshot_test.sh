#!/usr/bin/env bash
# Starts KeymapEditor on a virtual X server (the real xcb platform, not the
# offscreen one), takes a screenshot of the screen and checks that the window
# shows the keyboard picture with its keys: the keyboard area must be neither
# empty screen (all dark) nor a bare window (all light); and that the key cap
# palette beside it shows caps in both of its columns, not an empty list.
#
#   screenshot_test.sh <KeymapEditor> <screenshot.png>
set -euo pipefail

# Share of pixels of a screenshot's area (WxH+X+Y) that are lighter than
# the threshold (percent).
light_share() {
    convert "$1" -crop "$2" +repage -colorspace Gray -threshold "$3%" -format '%[fx:mean]' info:
}

# True when the share lies strictly between the two bounds.
between() {
    awk -v s="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(s > lo && s < hi) }'
}

run_on_display() {
    local editor=$1 shot=$2
    env -u QT_QPA_PLATFORM ASAN_OPTIONS=detect_leaks=0 "$editor" &
    local pid=$!
    local share=0
    for _ in $(seq 1 40); do
        sleep 0.5
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "KeymapEditor ended before its window was seen" >&2
            return 1
        fi
        import -window root "$shot"
        # Share of light pixels where the keyboard picture lies (the window
        # opens at the top-left corner: there is no window manager).
        share=$(light_share "$shot" 690x260+10+28 25)
        if between "$share" 0.5 0.9; then
            kill "$pid"
            wait "$pid" || true
            echo "keyboard picture on screen (light share $share): $shot"
            # Each palette column: caps are grey with outlines on a white
            # list, so a fair part of it is darker than near-white.
            local column left right
            left=$(light_share "$shot" 44x260+724+48 90)
            right=$(light_share "$shot" 44x260+768+48 90)
            for column in "$left" "$right"; do
                if ! between "$column" 0.4 0.8; then
                    echo "no key caps in the palette (near-white shares $left, $right): $shot" >&2
                    return 1
                fi
            done
            echo "key caps in both palette columns (near-white shares $left, $right)"
            return 0
        fi
    done
    kill "$pid"
    wait "$pid" || true
    echo "no keyboard picture on screen (light share $share): $shot" >&2
    return 1
}
if [ "${1:-}" = "--on-display" ]; then
    run_on_display "$2" "$3"
    exit
fi
rm -f "$2"
exec xvfb-run -a -s "-screen 0 1024x600x24" "$0" --on-display "$1" "$2"
