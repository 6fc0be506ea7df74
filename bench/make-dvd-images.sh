#!/usr/bin/env bash
# Makes the DVD-sized images of the bench corpus:
#   make-dvd-images.sh bridge OUTPUT.iso    genisoimage -J -udf of 5,000 folders "Album N", each with a
#                                           subfolder "raw", 100,000 files of 1,500 random bytes (480 MB)
#   make-dvd-images.sh million OUTPUT.iso   xorriso (Rock Ridge and Joliet) of 1,000,000 empty files in
#                                           50,000 folders, metadata only: every file is one empty file
#                                           grafted under another name, so nothing large is written first
set -euo pipefail
kind=$1; out=$2
work=$(mktemp -d /tmp/umbradisc-dvd.XXXXXX); trap 'rm -rf "$work"' EXIT
case $kind in
  bridge)
    /usr/bin/python3 - "$work/src" <<'PY'
import os, random, sys
rng = random.Random(5000)
root = sys.argv[1]
for i in range(5000):
    album = os.path.join(root, f"Album {i + 1}")
    raw = os.path.join(album, "raw")
    os.makedirs(raw)
    for j in range(10):
        for folder, name in ((album, f"photo {j:02d}.jpg"), (raw, f"IMG_{j:04d}.CR2")):
            with open(os.path.join(folder, name), "wb") as f:
                f.write(rng.randbytes(1500))
PY
    genisoimage -quiet -input-charset utf-8 -J -udf -o "$out" "$work/src"
    ;;
  million)
    : >"$work/empty"
    /usr/bin/python3 - "$work/list" "$work/empty" <<'PY'
import sys
with open(sys.argv[1], "w") as out:
    for i in range(50000):
        folder = f"/Group {i // 100:03d}/Set {i % 100:02d}"
        for j in range(20):
            out.write(f"{folder}/file {j:02d}.txt={sys.argv[2]}\n")
PY
    xorriso -as mkisofs -quiet -R -J -graft-points -path-list "$work/list" -o "$out" 2>/dev/null
    ;;
  *) echo "usage: make-dvd-images.sh bridge|million OUTPUT.iso" >&2; exit 1 ;;
esac
