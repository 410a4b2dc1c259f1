#!/usr/bin/env bash
# run_fuzz.sh [SECONDS] [CORPUS]
# Builds the carver's libFuzzer target with clang++-14 (address and undefined
# behaviour sanitizers) in build-fuzz/ and runs it for SECONDS (default 60).
# Findings land in fuzz/findings/; keep each as a test case.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:-60}
corpus=${2:-$root/build-fuzz/corpus}
command -v clang++-14 >/dev/null || { echo "missing clang++-14 (clang-14, libclang-rt-14-dev)" >&2; exit 1; }
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -g -O1"
cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14 \
  -DNUVARIN_BUILD_TESTS=OFF -DNUVARIN_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="$flags -fsanitize=fuzzer-no-link" >/dev/null
cmake --build "$root/build-fuzz" --target nuvarin_signature -j2
b=$root/build-fuzz
clang++-14 -std=c++20 $flags -fsanitize=fuzzer -I"$root" "$here/carve_fuzz.cpp" \
  "$b/signature/libnuvarin_signature.a" "$b/fat/libnuvarin_fat.a" "$b/storage/libnuvarin_storage.a" \
  "$b/platform/libnuvarin_platform.a" -lblkid -ludev -lpthread -o "$b/carve_fuzz"
mkdir -p "$corpus" "$here/findings"
# Seed the corpus with the sample files the tests carve, when they can be made.
if [ -z "$(ls -A "$corpus")" ] && "$root/tests/fixtures/carve_make_samples.sh" "$b/samples" >/dev/null 2>&1; then
  for f in "$b"/samples/*; do
    { printf '\x00\xff'; head -c 65536 "$f"; } > "$corpus/$(basename "$f")"
  done
fi
cd "$here/findings"
"$b/carve_fuzz" -max_total_time="$seconds" -max_len=70000 -timeout=10 -rss_limit_mb=1024 "$corpus"
