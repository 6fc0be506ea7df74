#!/usr/bin/env bash
# Builds the engine with libFuzzer and runs a fuzzer for SECONDS (default 600):
#   run-fuzzer.sh [SECONDS] [open_list_fuzzer|udf_tree_fuzzer]
# open_list_fuzzer is seeded with the descriptor area of small images made by xorriso and
# genisoimage; udf_tree_fuzzer with whole small UDF bridge images (the UDF anchor is at sector 256).
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-600}
target=${2:-open_list_fuzzer}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUMBRA_ENGINE_ONLY=ON -DUMBRA_FUZZ=ON \
  -DUMBRA_SANITIZE=address,undefined -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz --target "$target"
corpus=build-fuzz/corpus; [ "$target" = open_list_fuzzer ] || corpus=build-fuzz/corpus-udf
mkdir -p "$corpus"
src=$(mktemp -d); trap 'rm -rf "$src"' EXIT
mkdir -p "$src/t/alpha" "$src/t/Beta/inner" "$src/t/gamma.dir" "$src/t/Ünï"; echo a > "$src/t/alpha/a.txt"; : > "$src/t/README"
echo u > "$src/t/Ünï/u.txt"
xorriso -as mkisofs -quiet -J -o "$src/x.iso" "$src/t" 2>/dev/null
genisoimage -quiet -J -o "$src/g.iso" "$src/t"
genisoimage -quiet -R -J -o "$src/rr.iso" "$src/t"
genisoimage -quiet -input-charset utf-8 -J -udf -o "$src/udf.iso" "$src/t"
if [ "$target" = udf_tree_fuzzer ]; then
  /usr/bin/python3 tests/engine/udf/mk_bridge_udf250.py "$src/meta.iso" >/dev/null
  /usr/bin/python3 tests/engine/udf/mk_bridge_udf250.py "$src/meta-inicb.iso" --inicb >/dev/null
  for f in "$src"/udf.iso "$src"/meta*.iso; do dd if="$f" of="$corpus/$(basename "$f").seed" bs=2048 skip=16 status=none; done
  max_len=1048576
else
  for f in "$src"/*.iso; do dd if="$f" of="$corpus/$(basename "$f").seed" bs=2048 skip=16 count=32 status=none; done
  cp tests/fuzz/findings/*.bin "$corpus"/  # inputs that once failed stay in the corpus
  max_len=65536
fi
build-fuzz/bin/$target -max_total_time="$seconds" -max_len=$max_len -timeout=10 -rss_limit_mb=2048 "$corpus"
