#!/usr/bin/env bash
# Builds the fuzz targets with libFuzzer (clang, AddressSanitizer and UBSan, into build-fuzz) and
# runs one of them:
#   run-fuzzer.sh [SECONDS] [TARGET]   fuzzes TARGET (default open_list_fuzzer) for SECONDS (600)
#   run-fuzzer.sh --replay             builds every target and replays every saved finding (CTest);
#                                      the test command's clang stage runs this
# Targets and their seeds, made here by real makers:
#   open_list_fuzzer      the descriptor area of small images by xorriso and genisoimage
#   udf_tree_fuzzer       whole small UDF bridge images (the UDF anchor is at sector 256)
#   rock_ridge_fuzzer     Rock Ridge images: a tree 10 levels deep (relocated by genisoimage and
#                         xorriso) and names and links long enough for continuation areas (CE)
#   extract_names_fuzzer  images whose names and links are hostile to a destination folder
#   udf_hide_fuzzer       the same UDF bridge images, sparse (only the sectors that hold bytes)
# UMBRA_FUZZ_TIMEOUT: seconds (wall clock) before one input counts as a hang (10); a busy machine
# running the fuzzer under nice needs more, or its waits for a processor are reported as hangs.
# Every input in tests/fuzz/findings/TARGET/ joins the corpus. A new finding is kept there and
# replayed by the CTest test named after the target.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build-fuzz
configure() {
  local launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S . -B $build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUMBRA_ENGINE_ONLY=ON -DUMBRA_FUZZ=ON \
    -DUMBRA_WERROR=ON -DUMBRA_SANITIZE=address,undefined -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    "${launcher[@]}" >/dev/null
}

if [ "${1:-}" = --replay ]; then
  configure
  cmake --build $build --target fuzz_targets --parallel "$(nproc)"
  ctest --test-dir $build --output-on-failure -R '_fuzzer$'
  exit
fi

seconds=${1:-600}
target=${2:-open_list_fuzzer}
case $target in
  open_list_fuzzer | udf_tree_fuzzer | rock_ridge_fuzzer | extract_names_fuzzer | udf_hide_fuzzer) ;;
  *) echo "run-fuzzer.sh: no fuzz target $target" >&2; exit 1 ;;
esac
configure
cmake --build $build --target "$target"
corpus=$build/corpus-$target
mkdir -p "$corpus"
src=$(mktemp -d); trap 'rm -rf "$src"' EXIT

# from_sector16 IMAGE [COUNT]: the image from its descriptors on, as most targets take it.
from_sector16() { dd if="$1" of="$corpus/$(basename "$1").seed" bs=2048 skip=16 ${2:+count=$2} status=none; }
# sparse IMAGE: the sectors that hold a byte other than zero, each after its number (FuzzFiles.h).
sparse() {
  /usr/bin/python3 - "$1" "$corpus/$(basename "$1").sparse" <<'EOF'
import struct, sys
data = open(sys.argv[1], 'rb').read()
with open(sys.argv[2], 'wb') as out:
    for n in range(len(data) // 2048):
        sector = data[n * 2048:(n + 1) * 2048]
        if sector.strip(b'\0'):
            out.write(struct.pack('<I', n) + sector)
EOF
}

mkdir -p "$src/t/alpha" "$src/t/Beta/inner" "$src/t/gamma.dir" "$src/t/Ünï"
echo a > "$src/t/alpha/a.txt"; : > "$src/t/README"; echo u > "$src/t/Ünï/u.txt"
max_len=131072
options=()
case $target in
  open_list_fuzzer)
    xorriso -as mkisofs -quiet -J -o "$src/x.iso" "$src/t" 2>/dev/null
    genisoimage -quiet -J -o "$src/g.iso" "$src/t"
    genisoimage -quiet -R -J -o "$src/rr.iso" "$src/t"
    genisoimage -quiet -input-charset utf-8 -J -udf -o "$src/udf.iso" "$src/t"
    for f in "$src"/*.iso; do from_sector16 "$f" 32; done
    max_len=65536
    ;;
  udf_tree_fuzzer | udf_hide_fuzzer)
    genisoimage -quiet -input-charset utf-8 -J -udf -o "$src/udf.iso" "$src/t"
    /usr/bin/python3 tests/engine/udf/mk_bridge_udf250.py "$src/meta.iso" >/dev/null
    /usr/bin/python3 tests/engine/udf/mk_bridge_udf250.py "$src/meta-inicb.iso" --inicb >/dev/null
    for f in "$src"/udf.iso "$src"/meta*.iso; do
      if [ "$target" = udf_tree_fuzzer ]; then from_sector16 "$f"; else sparse "$f"; fi
    done
    max_len=1048576
    [ "$target" = udf_hide_fuzzer ] && max_len=262144
    ;;
  rock_ridge_fuzzer)
    deep=$src/deep
    mkdir -p "$deep/1/2/3/4/5/6/7/8/9/10" "$deep/a/b/c/d/e/f/g/h/i"
    echo deep > "$deep/1/2/3/4/5/6/7/8/9/10/deep.txt"
    genisoimage -quiet -no-pad -R -J -o "$src/deep-genisoimage.iso" "$deep"
    genisoimage -quiet -no-pad -R -o "$src/deep-genisoimage-nojoliet.iso" "$deep"
    xorriso -as mkisofs -quiet -no-pad -R -J -o "$src/deep-xorriso.iso" "$deep" 2>/dev/null
    long=$src/long
    mkdir -p "$long/$(printf 'n%.0s' {1..200})"
    : > "$long/$(printf 'f%.0s' {1..250})"
    ln -s "$(printf 'target/%.0s' {1..60})end" "$long/a link with a long target"
    genisoimage -quiet -no-pad -R -o "$src/ce-genisoimage.iso" "$long"
    xorriso -as mkisofs -quiet -no-pad -R -o "$src/ce-xorriso.iso" "$long" 2>/dev/null
    for f in "$src"/*.iso; do from_sector16 "$f"; done
    ;;
  extract_names_fuzzer)
    hostile=$src/hostile
    mkdir -p "$hostile/sub/deeper" "$hostile/CON" "$hostile/dots..."
    for name in 'back\slash' 'colon:name' 'star*?' 'con.txt' 'nul' 'trailing. ' $'control\x01char' $'del\x7fchar' \
      'sub/deeper/inner.txt' "$(printf 'l%.0s' {1..255})"; do
      echo x > "$hostile/$name"
    done
    ln -s ../../../etc/passwd "$hostile/climbs out"
    ln -s /etc/passwd "$hostile/absolute"
    ln -s 'sub/../../outside' "$hostile/climbs after a name"
    ln -s deeper "$hostile/sub/stays inside"
    ln -s .. "$hostile/sub/deeper/parent"
    ln -s 'C:\Windows' "$hostile/drive"
    genisoimage -quiet -no-pad -R -J -o "$src/hostile-genisoimage.iso" "$hostile" 2>/dev/null
    xorriso -as mkisofs -quiet -no-pad -R -J -o "$src/hostile-xorriso.iso" "$hostile" 2>/dev/null
    genisoimage -quiet -input-charset utf-8 -J -udf -o "$src/hostile-udf.iso" "$hostile" 2>/dev/null || true
    for f in "$src"/*.iso; do from_sector16 "$f"; done
    # extract names every entry it leaves out on standard error; libFuzzer keeps its own reports.
    options+=(-close_fd_mask=2)
    ;;
esac
if compgen -G "tests/fuzz/findings/$target/*" >/dev/null; then
  cp tests/fuzz/findings/"$target"/* "$corpus"/  # inputs that once failed stay in the corpus
fi
# The targets write their files under TMPDIR; a memory file system spares the disk.
[ -d /dev/shm ] && export TMPDIR=/dev/shm
$build/bin/$target -max_total_time="$seconds" -max_len=$max_len -timeout="${UMBRA_FUZZ_TIMEOUT:-10}" -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$build/$target-" "${options[@]}" "$corpus"
