#!/usr/bin/env bash
# A benchmark area for the deep scan: SIZE_MIB of random bytes with real files
# (JPEG, PNG, PDF, WAV) written at sector boundaries every few MiB.
#   make_deepscan_image.sh OUTPUT.img [SIZE_MIB]
set -euo pipefail
out="$1"; size="${2:-2048}"
here="$(cd "$(dirname "$0")/.." && pwd)"
src="$(mktemp -d)"
trap 'rm -rf "$src"' EXIT
"$here/tests/fixtures/deepscan_make_sources.sh" "$src"
head -c "$((size * 1048576))" /dev/urandom > "$out"
files=("$src/photos/Harbour at dawn.jpg" "$src/photos/Tiles.png" "$src/docs/Annual summary.pdf" "$src/music/Tone A.wav")
i=0
for mib in $(seq 3 7 $((size - 2))); do
  f="${files[$((i % ${#files[@]}))]}"
  dd if="$f" of="$out" bs=512 seek=$((mib * 2048 + 17)) conv=notrunc status=none
  i=$((i + 1))
done
echo "$out: $size MiB, $i files"
