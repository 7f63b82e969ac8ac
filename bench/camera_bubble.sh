#!/usr/bin/env bash
# The camera bubble of the test build under Wine at 1920x1080, at its large
# size: how long from the shortcut to its first camera picture shown, how
# long painting one picture takes (the bubble logs both), and the program's
# processor time per second while it shows, from /proc. TRIES showings of
# SECONDS each. Run after tools/test.sh has built everything.
#
#   bash bench/camera_bubble.sh [TRIES] [SECONDS]
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
tries=${1:-5}
seconds=${2:-10}
ostrel_start_bench_session
ostrel_start_bench_tray "$OSTREL_WORK/caps" camera_size=large
log="$OSTREL_WORK/data/ostrel.log"
pid=$(pgrep -f 'OstrelWindowsTest.exe' | head -1)
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
idle_start=$(ticks); sleep "$seconds"; idle_end=$(ticks)
echo "idle: $(( (idle_end - idle_start) * 1000 / hz / seconds )) ms of processor time a second"
for try in $(seq 1 "$tries"); do
  ostrel_driver post NIRAOstrelWindowsMain 0x0312 5 0 >/dev/null  # WM_HOTKEY, the camera's
  for _ in $(seq 1 100); do
    [ "$(grep -ac "Camera bubble: first picture" "$log")" -ge "$try" ] && break
    sleep 0.1
  done
  start=$(ticks); sleep "$seconds"; end=$(ticks)
  echo "showing: $(( (end - start) * 1000 / hz / seconds )) ms of processor time a second"
  ostrel_driver post NIRAOstrelWindowsMain 0x0312 5 0 >/dev/null
  for _ in $(seq 1 50); do
    [ "$(grep -ac "Camera bubble closed" "$log")" -ge "$try" ] && break
    sleep 0.1
  done
done
sleep 1
grep -a "Camera bubble: first picture\|Camera bubble closed\|Camera released" "$log"
ostrel_driver close NIRAOstrelWindowsMain >/dev/null || true
