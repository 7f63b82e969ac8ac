#!/usr/bin/env bash
# What a user waits for after a shortcut, with the test build's tray program
# under Wine at 1920x1080: screenshot shortcut to the clipboard changed and to
# the PNG on disk, record shortcut (no countdown) to the recording's file on
# disk; TRIES each, median and worst. The driver posts the shortcut's
# WM_HOTKEY and watches from its own process, so the figures include posting.
# Run after tools/test.sh has built everything.
#
#   bash bench/latency.sh [TRIES]
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
tries=${1:-7}
ostrel_start_bench_session
ostrel_start_pulseaudio >/dev/null
ostrel_start_bench_tray "$OSTREL_WORK/caps" countdown=0
tray=$OSTREL_TRAY
caps=$(winepath -w "$OSTREL_WORK/caps")
sleep 3
# The first recording of a run shows the one-time notice about the toolbar;
# it is answered here, and that recording stopped.
ostrel_driver post NIRAOstrelWindowsMain 0x0312 1 0 >/dev/null || true
ostrel_driver answer "NIRA Ostrel" 1 10 "$(winepath -w "$OSTREL_WORK/box.txt")" >/dev/null || true
sleep 2
ostrel_driver post NIRAOstrelWindowsMain 0x0312 1 0 >/dev/null || true
for _ in $(seq 1 50); do
  ls "$OSTREL_WORK"/caps/*.mp4.part >/dev/null 2>&1 || break
  sleep 0.2
done
rm -f "$OSTREL_WORK"/caps/*.mp4
sleep 1
summary() {  # name, then the figures
  local name=$1; shift
  local sorted
  sorted=$(printf '%s\n' "$@" | sort -n)
  echo "$name: median $(echo "$sorted" | sed -n "$(( ($# + 1) / 2 ))p") ms, worst $(echo "$sorted" | tail -1) ms over $# tries"
}
clip=(); png=(); rec=()
for _ in $(seq 1 "$tries"); do
  line=$(ostrel_driver latency screenshot "$caps")
  clip+=("$(echo "$line" | sed -n 's/clipboard \([0-9.]*\) ms.*/\1/p')")
  png+=("$(echo "$line" | sed -n 's/.*png \([0-9.]*\) ms.*/\1/p')")
  sleep 1
done
for _ in $(seq 1 "$tries"); do
  rec+=("$(ostrel_driver latency record "$caps" | sed -n 's/recording file \([0-9.]*\) ms.*/\1/p')")
  sleep 1
done
summary "screenshot shortcut to clipboard" "${clip[@]}"
summary "screenshot shortcut to PNG" "${png[@]}"
summary "record shortcut to recording file" "${rec[@]}"
echo "step traces of the last screenshot and recording start:"
grep -a "Screenshot steps:" "$OSTREL_WORK/data/ostrel.log" | tail -1
grep -a "Recording start steps:" "$OSTREL_WORK/data/ostrel.log" | tail -1
ostrel_driver close NIRAOstrelWindowsMain >/dev/null || true
wait "$tray" || true
