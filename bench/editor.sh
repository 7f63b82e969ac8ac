#!/usr/bin/env bash
# The screenshot editor under Wine on a 3840x2160 screen: a 3840x2160 PNG (by
# default a photo-like one, the slowest to decode; or PICTURE, a screenshot
# say) from the request to edit it (what a second start with --edit sends) until
# its window has painted, TRIES times, median and worst; then MOVES steps of a
# rectangle drag, each from WM_MOUSEMOVE to the end of its paint (sent by the
# driver, so cross-process calls are included). Run after tools/test.sh has
# built everything.
#
#   bash bench/editor.sh [TRIES MOVES [PICTURE]]
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
tries=${1:-5}
moves=${2:-200}
trap 'rm -rf "${OSTREL_WORK:-}"; ostrel_stop_services' EXIT
ostrel_start_display 3840x2160 >/dev/null
ostrel_prepare_wine
OSTREL_WORK=$(mktemp -d)
OSTREL_DATA_DIR=$(winepath -w "$OSTREL_WORK/data")
export OSTREL_DATA_DIR
if [ -n "${3:-}" ]; then
  convert "$3" -resize 3840x2160! -alpha off PNG24:"$OSTREL_WORK/big.png"
else
  convert -size 3840x2160 plasma:fractal "$OSTREL_WORK/big.png"
fi
picture=$(winepath -w "$OSTREL_WORK/big.png")
ostrel_start_bench_tray "$OSTREL_WORK/caps"
tray=$OSTREL_TRAY
sleep 2
opened=()
for _ in $(seq 1 "$tries"); do
  opened+=("$(ostrel_driver editor-timing "$picture" 0 | sed -n 's/opened and painted after \([0-9.]*\) ms/\1/p')")
  ostrel_driver gone NIRAOstrelEditor 10 >/dev/null || true
  sleep 0.5
done
sorted=$(printf '%s\n' "${opened[@]}" | sort -n)
echo "3840x2160 PNG opened and painted: median $(echo "$sorted" | sed -n "$(( (tries + 1) / 2 ))p") ms, worst $(echo "$sorted" | tail -1) ms over $tries tries"
ostrel_driver editor-timing "$picture" "$moves" | sed -n 's/^drag/3840x2160: rectangle drag/p'
ostrel_driver gone NIRAOstrelEditor 10 >/dev/null || true
echo "step trace of the last opening:"
grep -a "Editor open steps:" "$OSTREL_WORK/data/ostrel.log" | tail -1
ostrel_driver close NIRAOstrelWindowsMain >/dev/null || true
wait "$tray" || true
