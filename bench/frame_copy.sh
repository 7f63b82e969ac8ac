#!/usr/bin/env bash
# The per-frame copy into the encoder's buffer at 1080p and 1440p, under Wine
# on a private screen. Run after tools/test.sh has built everything.
#
#   bash bench/frame_copy.sh [FRAMES]
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
ostrel_start_bench_session
wine "$OSTREL_BUILD/windows/frame_copy_bench.exe" "${1:-600}" </dev/null 2>/dev/null
