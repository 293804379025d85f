#!/usr/bin/env bash
# Starts KeymapEditor on a virtual X server (the real xcb platform, not the
# offscreen one), takes a screenshot of the screen and checks that the window
# shows the keyboard picture with its keys: the keyboard area must be neither
# empty screen (all dark) nor a bare window (all light).
#
#   screenshot_test.sh <KeymapEditor> <screenshot.png>
set -euo pipefail

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
        share=$(convert "$shot" -crop 690x260+10+28 +repage -colorspace Gray -threshold 25% -format '%[fx:mean]' info:)
        if awk -v s="$share" 'BEGIN { exit !(s > 0.5 && s < 0.9) }'; then
            kill "$pid"
            wait "$pid" || true
            echo "keyboard picture on screen (light share $share): $shot"
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
