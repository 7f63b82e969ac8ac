#!/usr/bin/env bash
# Fuzzes the JSON parser, the editor's EXIF orientation reader, the MP4
# trim reader and the test build's picture reader natively with libFuzzer (clang, AddressSanitizer and UBSan),
# each for the given number of seconds (default 300). Findings land in build/fuzz/; the corpora
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

log_step "building the MP4 trim reader's fuzzer"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I "$OSTREL_ROOT/src" "$OSTREL_ROOT/tests/fuzz/mp4_trim_fuzz.cpp" "$OSTREL_ROOT/src/trim/mp4_trim_core.cpp" \
  -o "$out/mp4_trim_fuzz"
mkdir -p "$out/mp4-corpus"
# Small real files: fragmented, progressive with the index at either end, B-pictures, no sound.
seeds=(
  "frag:-movflags frag_keyframe+empty_moov+default_base_moof"
  "end:"
  "front:-bf 2 -movflags +faststart"
  "silent:-an"
)
for seed in "${seeds[@]}"; do
  name=${seed%%:*}
  # shellcheck disable=SC2086
  ffmpeg -v error -y -f lavfi -i color=c=black:s=32x32:r=10:d=1.5 -f lavfi -i sine=d=1.5:sample_rate=8000 \
    -c:v libx264 -preset ultrafast -g 5 -c:a aac -b:a 16k ${seed#*:} "$out/mp4-corpus/seed-$name.mp4"
done
log_step "fuzzing for $seconds s"
./mp4_trim_fuzz -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -print_final_stats=1 mp4-corpus

log_step "building the test build's picture reader's fuzzer"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I "$OSTREL_ROOT/src" "$OSTREL_ROOT/tests/fuzz/pcm_picture_fuzz.cpp" "$OSTREL_ROOT/src/recorder/h264_pcm_core.cpp" \
  -o "$out/pcm_picture_fuzz"
mkdir -p "$out/pcm-corpus"
# A 32 x 16 picture as the stand-in writer makes it.
clang++ -std=c++20 -O1 -DOSTREL_SEED_MAIN -I "$OSTREL_ROOT/src" "$OSTREL_ROOT/tests/fuzz/pcm_picture_fuzz.cpp" \
  "$OSTREL_ROOT/src/recorder/h264_pcm_core.cpp" -o "$out/pcm_picture_seed"
"$out/pcm_picture_seed" "$out/pcm-corpus/seed-32x16"
log_step "fuzzing for $seconds s"
./pcm_picture_fuzz -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 pcm-corpus
