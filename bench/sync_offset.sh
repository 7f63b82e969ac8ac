#!/usr/bin/env bash
# Runs the test build's sync self-test (20 seconds by default) under Wine and
# measures the A/V offset with bench/sync_offset.py.
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
seconds=${1:-20}
trap ostrel_stop_services EXIT
ostrel_start_display 1920x1080 >/dev/null
ostrel_prepare_wine
work=$(mktemp -d)
OSTREL_DATA_DIR=$(winepath -w "$work/data")
export OSTREL_DATA_DIR
wine "$OSTREL_BUILD/windows/OstrelWindowsTest.exe" --selftest-sync "$seconds" "$(winepath -w "$work/caps")" \
  </dev/null >/dev/null 2>&1 || true
/usr/bin/python3 "$(dirname "$0")/sync_offset.py" "$(ls "$work"/caps/*.mp4)" "$work/data/ostrel.log"
rm -rf "$work"
