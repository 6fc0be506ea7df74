#!/usr/bin/env bash
# Times umbradisc-cli on a corpus of image kinds made here by real makers, against isoinfo and xorriso
# over the same image in one hyperfine run, and counts what each command reads and its peak memory.
#   bench/corpus.sh [BUILD_BIN_DIR] [--large] [--dvd]
# Kinds: genisoimage -J -udf and -J of 2,000 folders named "folder 0000".. with 10 small files each,
# a UDF 2.60 bridge of 2,000 folders made by pycdlib, a UDF 2.50 bridge of 2,000 folders with a
# metadata partition and its mirror (the test suite's builder), a 10-level tree (genisoimage -J -R,
# so Rock Ridge relocates its deepest folders), and with --large the xorriso Rock Ridge image of
# 21,001 folders and 200,000 files (make-large-image.sh; takes minutes to make), and with --dvd the
# DVD-sized genisoimage -J -udf bridge of 5,000 folders with 100,000 files and xorriso's
# metadata-only image of 1,000,000 empty files in 50,000 folders (make-dvd-images.sh).
# Per kind: info, ls /, ls -R, and hide then show of every top folder given as paths in one command.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/bin}
large=no; dvd=no
for option in "${@:2}"; do
  case $option in
    --large) large=yes ;;
    --dvd) dvd=yes ;;
  esac
done
cli=$bin/umbradisc-cli
work=$(mktemp -d /tmp/umbradisc-corpus.XXXXXX)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$work" <<'PY'
import os, sys
work = sys.argv[1]
for i in range(2000):
    d = os.path.join(work, "wide", f"folder {i:04d}")
    os.makedirs(d)
    for j in range(10):
        with open(os.path.join(d, f"file {j}.txt"), "w") as f:
            f.write(f"{i} {j}\n")
d = os.path.join(work, "deep")
for top in range(20):
    p = os.path.join(d, f"top {top:02d}")
    for level in range(10):
        p = os.path.join(p, f"level {level}")
    os.makedirs(p)
    with open(os.path.join(p, "leaf.txt"), "w") as f:
        f.write("leaf\n")
PY
/usr/bin/python3 - "$work/udf260.iso" <<'PY'
import io, sys, pycdlib
iso = pycdlib.PyCdlib()
iso.new(interchange_level=3, joliet=3, udf="2.60")
for i in range(2000):
    iso.add_directory(f"/F{i:04d}", joliet_path=f"/folder {i:04d}", udf_path=f"/folder {i:04d}")
    data = f"{i}\n".encode()
    iso.add_fp(io.BytesIO(data), len(data), f"/F{i:04d}/A.TXT;1", joliet_path=f"/folder {i:04d}/a.txt",
               udf_path=f"/folder {i:04d}/a.txt")
iso.write(sys.argv[1])
PY
/usr/bin/python3 "$here/../tests/engine/udf/mk_bridge_udf250.py" "$work/udf250.iso" --folders 2000 >/dev/null
genisoimage -quiet -input-charset utf-8 -J -udf -o "$work/udf-bridge.iso" "$work/wide"
genisoimage -quiet -input-charset utf-8 -J -o "$work/joliet.iso" "$work/wide"
genisoimage -quiet -input-charset utf-8 -J -R -o "$work/deep-rr.iso" "$work/deep" 2>/dev/null
kinds=(udf-bridge joliet udf260 udf250 deep-rr)
if [ "$large" = yes ]; then
  "$here/make-large-image.sh" "$work/large-rr.iso" >/dev/null
  kinds+=(large-rr)
fi
if [ "$dvd" = yes ]; then
  "$here/make-dvd-images.sh" bridge "$work/dvd-bridge.iso"
  "$here/make-dvd-images.sh" million "$work/million-rr.iso"
  kinds+=(dvd-bridge million-rr)
fi

# What a command reads (our own counting layer) and its peak memory.
cost() {  # cost IMAGE ARGS...: prints "bytes calls peak-KB"
  local image=$1; shift
  local out
  out=$( { UMBRA_IO_STATS=1 /usr/bin/time -f 'peak %M' "$cli" "$@" >/dev/null; } 2>&1 )
  echo "$(sed -n 's/.*read \([0-9]*\) bytes in \([0-9]*\) calls.*/\1 \2/p' <<<"$out") $(sed -n 's/^peak //p' <<<"$out")"
}

printf '%-11s %-9s %9s %9s %9s %10s %8s\n' kind command "ms" "isoinfo" "xorriso" "read MB" "peak MB"
for kind in "${kinds[@]}"; do
  image=$work/$kind.iso
  mapfile -t tops < <("$cli" ls --json "$image" / | /usr/bin/python3 -c '
import json, sys
for e in json.load(sys.stdin):
    if e["folder"] and not e.get("only_in"): print("/" + (e.get("joliet") or e["name"]))')
  printf '%s\0' "${tops[@]}" >"$work/tops"
  isoinfo_flags=-J; case $kind in *-rr) isoinfo_flags=-R ;; esac
  json=$work/$kind.json
  runs=(--min-runs 10); case $kind in dvd-* | million-*) runs=(--runs 5) ;; esac
  hyperfine --warmup 1 "${runs[@]}" --style none --export-json "$json" --output=null \
    -n "info" "$cli info $image" \
    -n "ls /" "$cli ls $image /" \
    -n "ls -R" "$cli ls -R $image" \
    -n "isoinfo" "isoinfo $isoinfo_flags -l -i $image" \
    -n "xorriso" "xorriso -indev $image -find / -exec lsdl" >/dev/null 2>&1
  cp "$image" "$work/hide.iso"
  # Wall time of the whole command, and the part of it spent waiting for the disk's sync.
  toggle() {
    local out
    out=$( { UMBRA_IO_STATS=1 /usr/bin/time -f 'wall %e' xargs -0 -a "$work/tops" "$cli" "$1" "$work/hide.iso" >/dev/null; } 2>&1)
    echo "$(sed -n 's/^wall //p' <<<"$out") $(sed -n 's/.*waited \([0-9.]*\) ms for sync/\1/p' <<<"$out")"
  }
  read -r hide_s hide_sync <<<"$(toggle hide)"
  read -r show_s show_sync <<<"$(toggle show)"
  cmp -s "$image" "$work/hide.iso" || true  # the stamp differs; the flags are back
  /usr/bin/python3 - "$json" "$kind" "$(cost "$image" info "$image")" "$(cost "$image" ls "$image" /)" \
    "$(cost "$image" ls -R "$image")" "$hide_s" "$show_s" "${#tops[@]}" "$hide_sync" "$show_sync" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
kind = sys.argv[2]
costs = dict(zip(["info", "ls /", "ls -R"], [c.split() for c in sys.argv[3:6]]))
iso, xor = results["isoinfo"]["median"], results["xorriso"]["median"]
for name in ("info", "ls /", "ls -R"):
    m = results[name]["median"]
    b, calls, peak = (costs[name] + ["0", "0", "0"])[:3]
    print(f"{kind:11s} {name:9s} {m*1000:9.1f} {m/iso:8.2f}x {m/xor:8.2f}x {int(b)/1e6:10.1f} {int(peak)/1024:8.1f}")
print(f"{kind:11s} {'hide ' + sys.argv[8]:9s} {float(sys.argv[6])*1000:9.1f}   (of it {float(sys.argv[9]):.1f} ms sync; show {float(sys.argv[7])*1000:.1f} ms, "
      f"{float(sys.argv[10]):.1f} ms sync; ls -R x{float(sys.argv[6]) / results['ls -R']['median']:.2f}; isoinfo {iso*1000:.1f} ms, xorriso {xor*1000:.1f} ms)")
PY
done
