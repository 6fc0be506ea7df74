#!/usr/bin/env bash
# Hides FOLDERS folders in one command and counts what it costs: syncs, bytes read, bytes written,
# and the time (hyperfine). Usage: hide-many.sh [BUILD_BIN_DIR] [FOLDERS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/bin}
folders=${2:-2000}
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
python3 - "$work/src" "$folders" <<'PY'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    d = os.path.join(root, f"Group{i // 50:03d}", f"Folder{i:05d}")
    os.makedirs(d)
    with open(os.path.join(d, "note.txt"), "w") as f:
        f.write(f"folder {i}\n")
PY
xorriso -as mkisofs -quiet -J -o "$work/image.iso" "$work/src" 2>/dev/null
mapfile -t paths < <(cd "$work/src" && find . -mindepth 2 -maxdepth 2 -type d | sed 's/^\.//' | sort)
cp "$work/image.iso" "$work/work.iso"
strace -f -qq -e trace=pread64,pwrite64,fdatasync,fsync -o "$work/trace" \
  "$bin/umbradisc-cli" hide "$work/work.iso" "${paths[@]}"
python3 - "$work/trace" "$work/image.iso" "${#paths[@]}" <<'PY'
import re, sys, os
calls = {"pread64": [0, 0], "pwrite64": [0, 0], "fdatasync": [0, 0], "fsync": [0, 0]}
for line in open(sys.argv[1]):
    m = re.search(r"(pread64|pwrite64|fdatasync|fsync)\(.*\)\s*=\s*(-?\d+)", line)
    if m:
        c = calls[m.group(1)]
        c[0] += 1
        c[1] += max(0, int(m.group(2)))
size = os.path.getsize(sys.argv[2])
print(f"folders hidden: {sys.argv[3]}   image: {size/1e6:.1f} MB")
print(f"syncs: fdatasync {calls['fdatasync'][0]}, fsync {calls['fsync'][0]}")
print(f"reads: {calls['pread64'][0]} calls, {calls['pread64'][1]/1e6:.2f} MB")
print(f"writes: {calls['pwrite64'][0]} calls, {calls['pwrite64'][1]} bytes")
PY
hyperfine -N --style basic --warmup 1 --min-runs 5 --prepare "cp $work/image.iso $work/work.iso" \
  "$bin/umbradisc-cli hide $work/work.iso ${paths[*]}" 2>&1 | grep -E "Time|Range"
