#!/bin/bash
# Builds IMAGE, a 1 GiB NTFS volume (mkntfs + ntfs-3g) holding 120,000 small
# files in 120 folders, every second one then deleted, and a few large files.
# Used by bench_ntfs; made once and cached outside the repository.
set -euo pipefail
img=${1:?usage: make_ntfs_bench_image.sh IMAGE}
work=$(mktemp -d)
mnt=$work/mnt
mkdir -p "$mnt"
rm -f "$img.part"
truncate -s 1G "$img.part"
mkntfs -F -Q -q "$img.part" >/dev/null 2>&1
ntfs-3g -o no_detach,big_writes "$img.part" "$mnt" >/dev/null 2>&1 &
pid=$!
for _ in $(seq 200); do mountpoint -q "$mnt" && break; sleep 0.05; done
mountpoint -q "$mnt" || { echo "ntfs-3g did not mount" >&2; exit 1; }
for d in $(seq -w 0 119); do
  mkdir "$mnt/dir$d"
  (cd "$mnt/dir$d" && for f in $(seq -w 0 999); do echo "file $d/$f" > "f$f.txt"; done)
done
for i in 1 2 3 4; do head -c 20M /dev/urandom > "$mnt/large$i.bin"; done
for d in $(seq -w 0 119); do
  (cd "$mnt/dir$d" && for f in $(seq -w 0 2 999); do rm "f$f.txt"; done)
done
rm "$mnt/large2.bin" "$mnt/large4.bin"
umount "$mnt"
wait "$pid" || true
rm -rf "$work"
mv "$img.part" "$img"
