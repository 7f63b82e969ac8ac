#!/usr/bin/env bash
# Resident memory of the test build's tray program over 100 screenshots and
# 50 recordings, taken by shortcut (bench/tray_memory.py). Run after
# tools/test.sh has built everything.
#
#   bash bench/tray_memory.sh [SCREENSHOTS RECORDINGS]
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
ostrel_start_bench_session
ostrel_start_pulseaudio >/dev/null
export OSTREL_BUILD
/usr/bin/python3 "$(dirname "$0")/tray_memory.py" "$OSTREL_WORK/run" "$@"
