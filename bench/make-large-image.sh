#!/usr/bin/env bash
# Makes a large image for the listing benchmark: FOLDERS folders (in groups of 20 under 1,050
# parents) holding FILES empty files, with mixed-case short names (so that the ISO 9660 and Joliet
# names of every entry correspond and both trees are paired in full), by xorriso with a Joliet tree.
# Usage: make-large-image.sh OUTPUT.iso [FOLDERS] [FILES]
set -euo pipefail
out=$1; folders=${2:-21000}; files=${3:-200000}
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
python3 - "$work/src" "$folders" "$files" <<'PY'
import os, sys
root, folders, files = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
dirs = []
for i in range(folders):
    parent = os.path.join(root, f"Grp{i // 20:04d}")
    d = parent if i % 20 == 0 else os.path.join(parent, f"sub{i % 20:02d}")
    os.makedirs(d, exist_ok=True)
    dirs.append(d)
for j in range(files):
    open(os.path.join(dirs[j % len(dirs)], f"f{j:06d}.dat"), "w").close()
PY
xorriso -as mkisofs -quiet -J -V BIGVOL -o "$out" "$work/src" 2>/dev/null
