#!/usr/bin/env bash
# The PNG encoder's filter choices under Wine, on a screenshot of a private
# 1920x1080 screen showing PICTURE (a desktop of windows and text, say; by
# default a test pattern). Run after tools/test.sh has built everything.
#
#   bash bench/png_encode.sh [PICTURE.png]
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
ostrel_start_bench_session
picture=${1:-}
if [ -z "$picture" ]; then
  picture="$OSTREL_WORK/pattern.png"
  convert -size 1920x1080 plasma:fractal -blur 0x2 "$picture"
fi
convert "$picture" -alpha off PNG24:"$OSTREL_WORK/input.png"
wine "$OSTREL_BUILD/windows/png_encode_bench.exe" "$(winepath -w "$OSTREL_WORK/input.png")" </dev/null 2>/dev/null
