#!/usr/bin/env bash
# Fuzzes the JSON parser and the editor's EXIF orientation reader natively
# with libFuzzer (clang, AddressSanitizer and UBSan), each for the given
# number of seconds (default 300). Findings land in build/fuzz/; the corpora
# are kept there between runs.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
seconds=${1:-300}
ostrel_install_packages
out="$OSTREL_BUILD/fuzz"
mkdir -p "$out/corpus"
log_step "building the JSON fuzzer"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I "$OSTREL_ROOT/src" "$OSTREL_ROOT/tests/fuzz/json_fuzz.cpp" \
  "$OSTREL_ROOT/src/cloud/json_core.cpp" "$OSTREL_ROOT/src/cloud/utf8_core.cpp" -o "$out/json_fuzz"
for seed in '{"a":[1,2.5e3,true,false,null],"b":{"c":"\u00e9\ud83d\ude00"}}' '[[[[[[[[1]]]]]]]]' '"\q\u00g1"'; do
  printf '%s' "$seed" >"$out/corpus/seed-$(printf '%s' "$seed" | md5sum | cut -c1-8)"
done
log_step "fuzzing for $seconds s"
cd "$out"
./json_fuzz -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 corpus

log_step "building the EXIF orientation fuzzer"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I "$OSTREL_ROOT/src" "$OSTREL_ROOT/tests/fuzz/exif_fuzz.cpp" "$OSTREL_ROOT/src/editor/editor_core.cpp" \
  -o "$out/exif_fuzz"
mkdir -p "$out/exif-corpus"
# A JPEG's start with an EXIF block in either byte order saying 6.
printf '\xff\xd8\xff\xe1\x00\x22Exif\x00\x00II*\x00\x08\x00\x00\x00\x01\x00\x12\x01\x03\x00\x01\x00\x00\x00\x06\x00\x00\x00\x00\x00\x00\x00' >"$out/exif-corpus/seed-ii"
printf '\xff\xd8\xff\xe1\x00\x22Exif\x00\x00MM\x00*\x00\x00\x00\x08\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00\x00\x00\x00\x00' >"$out/exif-corpus/seed-mm"
log_step "fuzzing for $seconds s"
./exif_fuzz -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 exif-corpus
