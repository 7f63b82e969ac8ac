#!/usr/bin/env bash
# The trim of a recording of about 2 GB (1080p H.264 at 8 Mbit/s with AAC
# sound, 35 minutes, progressive with its index at the end, made by ffmpeg from
# a one-minute clip), cut from the first minute to the last by the shipping
# program's --selftest-trim under Wine: its wall time against a plain copy of
# the same bytes on the same disk, Windows' own under Wine and Linux's (the
# file in the page cache, the better of two runs each), and the program's
# peak memory. Run after
# tools/test.sh has built everything.
#
#   bash bench/trim.sh
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
windows="$OSTREL_BUILD/windows"
work="$OSTREL_BUILD/bench-trim"
mkdir -p "$work"
trap 'rm -f "$work"/copy.mp4 "$work"/"big (trimmed)"*; ostrel_stop_services' EXIT
ostrel_prepare_wine
if [ ! -f "$work/big.mp4" ]; then
  ffmpeg -v error -y -f lavfi -i testsrc2=s=1920x1080:r=30:d=60 -f lavfi -i sine=f=440:d=60:sample_rate=48000 \
    -vf noise=alls=12:allf=t -c:v libx264 -preset ultrafast -b:v 8M -maxrate 8M -bufsize 16M -g 30 \
    -c:a aac -b:a 160k "$work/clip.mp4"
  ffmpeg -v error -y -stream_loop 34 -i "$work/clip.mp4" -c copy "$work/big.mp4"
fi
ls -l "$work/big.mp4"
best() { sort -n | head -1; }
big=$(winepath -w "$work/big.mp4")
# Two plain copies: Windows' own (CopyFile, through cmd's copy, under Wine),
# and Linux's (dd, 1 MiB at a time, on the disk when it ends, as the trim is).
copy=$(for _ in 1 2; do
  rm -f "$work/copy.mp4"
  /usr/bin/time -f %e wine cmd /c copy "$big" "$(winepath -w "$work/copy.mp4")" 2>&1 </dev/null >/dev/null | tail -1
done | best)
dd=$(for _ in 1 2; do
  rm -f "$work/copy.mp4"
  /usr/bin/time -f %e dd if="$work/big.mp4" of="$work/copy.mp4" bs=1M conv=fsync status=none 2>&1 | tail -1
done | best)
rm -f "$work/copy.mp4"
result=$(winepath -w "$work/result.txt")
runs=""
for _ in 1 2; do
  rm -f "$work"/"big (trimmed)"* "$work/result.txt"
  /usr/bin/time -f "%e %M" -o "$work/time.txt" wine "$windows/OstrelWindows.exe" --selftest-trim "$big" 60000 2040000 \
    "$result" </dev/null >/dev/null 2>&1
  runs+="$(cat "$work/time.txt")"$'\n'
done
cat "$work/result.txt"; echo
trim=$(printf '%s' "$runs" | awk '{print $1}' | best)
peak=$(printf '%s' "$runs" | awk '{print $2}' | sort -n | tail -1)
ls -l "$work"/"big (trimmed).mp4"
ratio() { awk "BEGIN { printf \"%.2f\", $1 / $2 }"; }
echo "trim ${trim} s; Wine's copy ${copy} s (ratio $(ratio "$trim" "$copy")); dd with fsync ${dd} s (ratio $(ratio "$trim" "$dd")); peak memory $((peak / 1024)) MiB"
