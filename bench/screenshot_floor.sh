#!/usr/bin/env bash
# The tray's screenshot against the platform's floor (bench/screenshot_floor.cpp),
# in turn, TRIES times each, under Wine at 1920x1080 with the test build. The
# tray's figures are its own step trace from the shortcut's arrival: to the
# clipboard's hand-over and to the PNG in place. The floor's are from its
# copy's start. Prints both medians and the ratios to the floor's total.
# Run after tools/test.sh has built everything.
#
#   bash bench/screenshot_floor.sh [TRIES]
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
tries=${1:-5}
windows="$OSTREL_BUILD/windows"
ostrel_start_bench_session
ostrel_start_bench_tray "$OSTREL_WORK/caps" countdown=0
caps=$(winepath -w "$OSTREL_WORK/caps")
log="$OSTREL_WORK/data/ostrel.log"
sleep 3
floor=()
for n in $(seq 1 "$tries"); do
  ostrel_driver latency screenshot "$caps" >/dev/null
  sleep 1
  floor+=("$(wine "$windows/screenshot_floor.exe" "$(winepath -w "$OSTREL_WORK/floor-$n.png")" </dev/null 2>/dev/null)")
  sleep 1
done
ostrel_driver close NIRAOstrelWindowsMain >/dev/null || true
grep -a "^.*Screenshot steps:" "$log" | sed 's/.*Screenshot steps: //' >"$OSTREL_WORK/tray.txt"
printf '%s\n' "${floor[@]}" >"$OSTREL_WORK/floor.txt"
/usr/bin/python3 - "$OSTREL_WORK/tray.txt" "$OSTREL_WORK/floor.txt" <<'PY'
import re, statistics, sys
tray = []
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    steps = [(name, int(ms)) for name, ms in re.findall(r"([a-z ]+?) (\d+) ms", line.replace(",", ""))]
    elapsed, clipboard, png = 0, None, None
    for name, ms in steps:
        if name.strip() == "total":
            continue
        elapsed += ms
        if name.strip() == "clipboard":
            clipboard = elapsed
        if name.strip() == "rename":
            png = elapsed
    tray.append((clipboard, png))
    print("tray:", line.strip())
floor = [tuple(float(x) for x in re.findall(r"([0-9.]+) ms", line)) for line in open(sys.argv[2])]
for line in open(sys.argv[2]):
    print("floor:", line.strip())
tc, tp = statistics.median(c for c, _ in tray), statistics.median(p for _, p in tray)
fc, fp = statistics.median(c for c, _ in floor), statistics.median(p for _, p in floor)
print(f"tray: clipboard {tc:.0f} ms, png {tp:.0f} ms; floor: clipboard {fc:.0f} ms, png {fp:.0f} ms")
print(f"ratios to the floor's total: png {tp / fp:.2f}, clipboard {tc / fp:.2f}")
PY
