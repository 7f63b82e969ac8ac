#!/usr/bin/env bash
# From a press to the picture that shows it, in a 1920x1080 60 fps recording
# of the test build under Wine: xdotool presses the left button CLICKS times
# over the driver's grey window, whose top left square turns at each press it
# gets. bench/input_effects.py reads the recording: for each press, the first
# picture with its ring against the first with the window's own answer, and
# the ring's age in that picture, from its size.
#
#   bash bench/input_effects.sh [CLICKS]
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
clicks=${1:-10}
windows="$OSTREL_BUILD/windows"
ostrel_start_bench_session
ostrel_start_bench_tray "$OSTREL_WORK/caps" show_clicks=1 fps=60 resolution=0 countdown=0 cursor=0
ostrel_driver post NIRAOstrelWindowsMain 0x0312 1 0 >/dev/null  # WM_HOTKEY: record
ostrel_driver answer "NIRA Ostrel" 1 5 "$(winepath -w "$OSTREL_WORK/box.txt")" >/dev/null || true
wine "$windows/OstrelDriver.exe" presses 600 </dev/null >/dev/null 2>&1 &
presses=$!
sleep 2
for n in $(seq 1 "$clicks"); do
  xdotool mousemove $((600 + (n % 4) * 200)) $((400 + (n % 3) * 150)) sleep 0.3 click 1 sleep 0.5
done
kill "$presses"
ostrel_driver post NIRAOstrelWindowsMain 0x0312 1 0 >/dev/null
for _ in $(seq 1 100); do
  ls "$OSTREL_WORK"/caps/*.mp4 >/dev/null 2>&1 && ! ls "$OSTREL_WORK"/caps/*.part >/dev/null 2>&1 && break
  sleep 0.2
done
ostrel_driver close NIRAOstrelWindowsMain >/dev/null || true
/usr/bin/python3 "$(dirname "$0")/input_effects.py" "$(ls "$OSTREL_WORK"/caps/*.mp4)" "$clicks"
