#!/usr/bin/env bash
# The region selection under Wine: from the region shortcut to the selection
# shown and painted, at 1920x1080 and 3840x2160 (TRIES each, median and
# worst), and at 3840x2160 the time from each WM_MOUSEMOVE of a drag to the
# end of its paint over MOVES moves. The times include the driver's posting
# and its cross-process calls. Run after tools/test.sh has built everything.
#
#   bash bench/overlay.sh [TRIES MOVES]
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
tries=${1:-7}
moves=${2:-200}
windows="$OSTREL_BUILD/windows"
trap 'rm -rf "${OSTREL_WORK:-}"; ostrel_stop_services' EXIT

for size in 1920x1080 3840x2160; do
  ostrel_start_display "$size" >/dev/null
  ostrel_prepare_wine
  OSTREL_WORK=$(mktemp -d)
  OSTREL_DATA_DIR=$(winepath -w "$OSTREL_WORK/data")
  export OSTREL_DATA_DIR
  ostrel_start_bench_tray "$OSTREL_WORK/caps"
  tray=$OSTREL_TRAY
  sleep 2
  shown=()
  for _ in $(seq 1 "$tries"); do
    # WM_HOTKEY 4: the region shortcut
    line=$(wine "$windows/OstrelDriver.exe" overlay-timing NIRAOstrelWindowsMain 0x0312 4 NIRAOstrelRegion 0 </dev/null 2>/dev/null)
    shown+=("$(echo "$line" | sed -n 's/shown after \([0-9.]*\) ms.*/\1/p')")
    wine "$windows/OstrelDriver.exe" gone NIRAOstrelRegion 10 </dev/null >/dev/null 2>&1 || true
    sleep 0.5
  done
  sorted=$(printf '%s\n' "${shown[@]}" | sort -n)
  echo "$size: selection shown and painted after: median $(echo "$sorted" | sed -n "$(( (tries + 1) / 2 ))p") ms, worst $(echo "$sorted" | tail -1) ms over $tries tries"
  if [ "$size" = 3840x2160 ]; then
    wine "$windows/OstrelDriver.exe" overlay-timing NIRAOstrelWindowsMain 0x0312 4 NIRAOstrelRegion "$moves" </dev/null 2>/dev/null | sed -n "s/^move/$size: move/p"
  fi
  wine "$windows/OstrelDriver.exe" close NIRAOstrelWindowsMain </dev/null >/dev/null 2>&1 || true
  wait "$tray" || true
  ostrel_stop_services
  rm -rf "$OSTREL_WORK"
done
