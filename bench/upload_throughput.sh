#!/usr/bin/env bash
# Upload throughput on loopback: a 200 MiB capture saved by the test build
# through "--selftest-save" to the library test server, side by side with
# curl sending the same 8 MiB parts (with their hashes worked out beforehand)
# to the same server; then the part hash's own speed. Both uploads are timed
# from the first part sent to the completion answer, as the server saw them.
# Run after tools/test.sh has built everything.
set -euo pipefail
source "$(dirname "$0")/../tools/lib.sh"
mib=${1:-200}
ostrel_start_bench_session
work=$OSTREL_WORK
server_pid=""
cleanup() { [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; rm -rf "$work"; ostrel_stop_services; }
trap cleanup EXIT

/usr/bin/python3 "$OSTREL_ROOT/tests/server/library_server.py" --store "$work/store" >"$work/server.out" 2>/dev/null &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/server.out" ] && break; sleep 0.1; done
url=$(head -n1 "$work/server.out")
export OSTREL_TEST_SERVER=$url
app="$OSTREL_BUILD/windows/OstrelWindowsTest.exe"
wine "$app" --selftest-signin "$(winepath -w "$work/signin.txt")" </dev/null >/dev/null 2>&1
head -c $((mib << 20)) /dev/urandom >"$work/capture.mp4"

span() {  # seconds from the first PUT to the last completion in the journal since entry $1
  /usr/bin/python3 - "$url" "$1" <<'PY'
import json, sys, urllib.request
entries = json.load(urllib.request.urlopen(sys.argv[1] + "/_test/journal"))["requests"][int(sys.argv[2]):]
puts = [e["time"] for e in entries if e["method"] == "PUT"]
done = [e["time"] for e in entries if e["path"].endswith("/complete")]
print(f"{done[-1] - puts[0]:.3f}")
PY
}
journal_length() {
  /usr/bin/python3 -c "import json,sys,urllib.request; print(len(json.load(urllib.request.urlopen(sys.argv[1] + '/_test/journal'))['requests']))" "$url"
}

start=$(journal_length)
wine "$app" --selftest-save "$(winepath -w "$work/capture.mp4")" "$(winepath -w "$work/save.txt")" </dev/null >/dev/null 2>&1
ours=$(span "$start")

token=$(/usr/bin/python3 -c "import json,sys,urllib.request; print(next(iter(json.load(urllib.request.urlopen(sys.argv[1] + '/_test/state'))['tokens'])))" "$url")
split -b 8M -d -a 3 "$work/capture.mp4" "$work/part."
id=$(curl -s -H "Authorization: Bearer $token" -H "Content-Type: application/json" \
  -d "{\"filename\":\"curl\",\"mime\":\"video/mp4\",\"kind\":\"video\",\"source\":\"windows\",\"size_bytes\":$((mib << 20))}" \
  "$url/api/captures/uploads" | /usr/bin/python3 -c "import json,sys; print(json.load(sys.stdin)['capture_id'])")
declare -a hashes
for part in "$work"/part.*; do hashes+=("$(sha256sum "$part" | cut -d' ' -f1)"); done
start=$(journal_length)
n=0
for part in "$work"/part.*; do
  curl -s -o /dev/null -X PUT -H "Authorization: Bearer $token" -H "Content-Type: application/octet-stream" \
    -H "x-sha256: ${hashes[$n]}" --data-binary "@$part" "$url/api/captures/$id/parts/$((n + 1))"
  n=$((n + 1))
done
curl -s -o /dev/null -X POST -H "Authorization: Bearer $token" -H "Content-Type: application/json" -d '{}' \
  "$url/api/captures/$id/complete"
theirs=$(span "$start")

echo "saved: $(tail -c +4 "$work/save.txt" | tr -d '\r')"
/usr/bin/python3 -c "
import sys
mib, ours, theirs = int(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3])
print(f'Ostrel: {mib / ours:.0f} MiB/s ({ours:.2f} s); curl: {mib / theirs:.0f} MiB/s ({theirs:.2f} s); ratio {theirs / ours:.2f}')
" "$mib" "$ours" "$theirs"
# Through a file: Wine's helper processes would keep a pipe open.
wine "$OSTREL_BUILD/windows/sha256_bench.exe" </dev/null >"$work/sha256.txt" 2>/dev/null
tr -d '\r' <"$work/sha256.txt"
