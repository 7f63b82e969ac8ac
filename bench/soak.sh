#!/usr/bin/env bash
# A long sync self-test of the test build under Wine (30 minutes by default):
# resident memory at 1, 10 and 30 minutes (or the end), frames written and
# skipped, and the A/V offset of the sync bursts in the first and in the last
# minute. The test build writes pictures uncompressed (about 40 MB a second at
# 720p30), so the recording's middle is punched out of the file while it runs
# (bench/soak_trim.py); the first and last minutes stay whole, and ffprobe
# must still read the file. Run after tools/test.sh has built everything.
#
#   bash bench/soak.sh [MINUTES]
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
minutes=${1:-30}
seconds=$((minutes * 60))
bench=$(cd "$(dirname "$0")" && pwd)
free_kib=$(df --output=avail -k "$OSTREL_BUILD" | tail -n1)
# The head, the tail, and what piles up between two trims, with room to spare.
if (( free_kib < 12 * 1024 * 1024 )); then
  echo "needs 12 GiB free beside the build, has $((free_kib / 1024 / 1024)) GiB" >&2
  exit 1
fi
ostrel_start_bench_session
work=$OSTREL_WORK
trap 'rm -rf "$work"; ostrel_stop_services' EXIT
mkdir -p "$work/caps"
wine "$OSTREL_BUILD/windows/OstrelWindowsTest.exe" --selftest-sync "$seconds" "$(winepath -w "$work/caps")" \
  </dev/null >/dev/null 2>&1 &
app=$!
head_bytes=0
rate=0  # bytes a second, from the first minute
for ((t = 1; ; t++)); do
  sleep 1
  kill -0 "$app" 2>/dev/null || break
  rss=$(awk '/VmRSS/ {print int($2 / 1024)}' "/proc/$app/status" 2>/dev/null || echo "?")
  case $t in 60|600|1800) echo "after $((t / 60)) min: resident $rss MiB" ;; esac
  part=$(ls "$work"/caps/*.part 2>/dev/null | head -n1 || true)
  [ -n "$part" ] || continue
  if (( t == 65 )); then
    head_bytes=$(stat -c %s "$part")
    rate=$((head_bytes / 65))
  fi
  if (( head_bytes > 0 && t % 20 == 0 )); then
    # Everything but the first minute and the last ninety seconds.
    /usr/bin/python3 "$bench/soak_trim.py" "$part" "$head_bytes" $((rate * 90)) "$work/trim.state" >/dev/null
  fi
  last_rss=$rss
done
wait "$app" || true
echo "at the end: resident ${last_rss:-?} MiB"
mp4=$(ls "$work"/caps/*.mp4)
grep -h 'Video loop ended' "$work/data/ostrel.log" || true
ffprobe -v error -show_entries format=duration -of csv=p=0 "$mp4" | sed 's/^/ffprobe reads it: duration /'
/usr/bin/python3 "$bench/sync_offset.py" "$mp4" "$work/data/ostrel.log" --from 0 --to 60 | sed 's/^/first minute: /'
/usr/bin/python3 "$bench/sync_offset.py" "$mp4" "$work/data/ostrel.log" --from $((seconds - 60)) --to "$seconds" |
  sed 's/^/last minute: /'
