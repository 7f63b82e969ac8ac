#!/usr/bin/env bash
# Runs the test build's sync self-test (20 seconds by default, paused once or
# PAUSES times spread over it) under Wine and measures the A/V offset with
# bench/sync_offset.py.
#
#   bash bench/sync_offset.sh [SECONDS [PAUSES]]
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
seconds=${1:-20}
pauses=${2:-1}
ostrel_start_bench_session
work=$OSTREL_WORK
wine "$OSTREL_BUILD/windows/OstrelWindowsTest.exe" --selftest-sync "$seconds" "$(winepath -w "$work/caps")" "$pauses" \
  </dev/null >/dev/null 2>&1 || true
/usr/bin/python3 "$(dirname "$0")/sync_offset.py" "$(ls "$work"/caps/*.mp4)" "$work/data/ostrel.log"
rm -rf "$work"
