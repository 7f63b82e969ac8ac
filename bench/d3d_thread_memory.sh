#!/usr/bin/env bash
# Wine's memory per short-lived thread that uses a Direct3D device another
# thread made (see d3d_thread_memory.cpp): resident memory every ten rounds,
# for both ways. Run after tools/test.sh has built everything.
#
#   bash bench/d3d_thread_memory.sh [ROUNDS]
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
ostrel_start_bench_session
rounds=${1:-60}
for mode in own other; do
  wine "$OSTREL_BUILD/windows/d3d_thread_memory.exe" "$mode" "$rounds" </dev/null 2>/dev/null | while read -r line; do
    pid=$(pgrep -f "d3d_thread_memory.exe $mode" | head -n1 || true)
    rss=$([ -n "$pid" ] && awk '/VmRSS/ {print int($2 / 1024)}' "/proc/$pid/status" 2>/dev/null || echo "?")
    echo "$mode: $line, $rss MiB resident"
  done
done
