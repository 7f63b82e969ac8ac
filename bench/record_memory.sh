#!/usr/bin/env bash
# Peak memory of the test build over a 60-second recording at 720p30 under
# Wine on a private 1920x1080 screen: the resident size of the recording
# process, sampled once a second. Run after tools/test.sh has built everything.
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
seconds=${1:-60}
ostrel_start_bench_session
work=$OSTREL_WORK
wine "$OSTREL_BUILD/windows/OstrelWindowsTest.exe" --selftest-record "$seconds" "$(winepath -w "$work/caps")" \
  </dev/null >/dev/null 2>&1 &
app=$!
peak=0
for ((t = 1; t <= seconds + 5; t++)); do
  sleep 1
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$app/status" 2>/dev/null || echo 0)
  [ -z "$rss" ] && break
  (( rss > peak )) && peak=$rss
  case $t in 5|15|30|45|60) echo "after ${t} s: resident $((rss / 1024)) MiB" ;; esac
done
wait "$app" || true
echo "peak resident: $((peak / 1024)) MiB"
grep -h 'Video loop ended' "$work/data/ostrel.log" || true
rm -rf "$work"
