#!/usr/bin/env bash
# The trim window of the test build under Wine at 1920x1080, on a recording
# an hour long at 30 pictures a second (made by bench/long_recording.py from
# a short one): how long after opening the window shows its first picture,
# and, while the end handle is dragged along the timeline by WM_MOUSEMOVE
# messages the driver posts, how long each move takes from asking for its
# picture to showing it (the window logs both). TRIES openings.
# Run after tools/test.sh has built everything.
#
#   bash bench/trim_window.sh [TRIES]
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
tries=${1:-5}
windows="$OSTREL_BUILD/windows"
ostrel_start_bench_session
wine "$windows/OstrelWindowsTest.exe" --selftest-record 2 "$(winepath -w "$OSTREL_WORK/short")" </dev/null >/dev/null 2>&1
/usr/bin/python3 "$(dirname "$0")/long_recording.py" "$(ls "$OSTREL_WORK"/short/*.mp4 | head -1)" "$OSTREL_WORK/long.mp4" 3600
ls -l "$OSTREL_WORK/long.mp4"
ostrel_start_bench_tray "$OSTREL_WORK/caps"
log="$OSTREL_WORK/data/ostrel.log"
long=$(winepath -w "$OSTREL_WORK/long.mp4")
for try in $(seq 1 "$tries"); do
  wine "$windows/OstrelWindowsTest.exe" --trim "$long" </dev/null >/dev/null 2>&1
  for _ in $(seq 1 100); do
    [ "$(grep -ac "Trim window: first picture" "$log")" -ge "$try" ] && break
    sleep 0.2
  done
  read -r width height < <(ostrel_driver client NIRAOstrelTrim | tr -d "\r")
  y=$((height - 72))  # the middle of the timeline at 96 dots per inch
  x=$((width - 12))   # the end handle
  ostrel_driver post NIRAOstrelTrim 0x0201 1 $(((y << 16) | x)) >/dev/null
  for step in $(seq 1 20); do
    ostrel_driver post NIRAOstrelTrim 0x0200 1 $(((y << 16) | (x - step * 40))) >/dev/null
    sleep 0.1
  done
  ostrel_driver post NIRAOstrelTrim 0x0202 0 $(((y << 16) | (x - 800))) >/dev/null
  sleep 0.5
  ostrel_driver post NIRAOstrelTrim 0x0010 0 0 >/dev/null
  ostrel_driver answer "NIRA Ostrel: trim" 7 10 "$(winepath -w "$OSTREL_WORK/box.txt")" >/dev/null || true
  for _ in $(seq 1 50); do
    [ "$(grep -ac "Trim window closed" "$log")" -ge "$try" ] && break
    sleep 0.2
  done
done
grep -a "Trim window: first picture\|Trim window closed" "$log"
ostrel_driver close NIRAOstrelWindowsMain >/dev/null || true
