#!/usr/bin/env bash
# Builds the engine with libFuzzer and runs the open/list fuzzer for SECONDS (default 600),
# seeded with the descriptor area of small images made by xorriso and genisoimage.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-600}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUMBRA_ENGINE_ONLY=ON -DUMBRA_FUZZ=ON \
  -DUMBRA_SANITIZE=address,undefined -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz --target open_list_fuzzer
corpus=build-fuzz/corpus; mkdir -p "$corpus"
src=$(mktemp -d); trap 'rm -rf "$src"' EXIT
mkdir -p "$src/t/alpha" "$src/t/Beta/inner" "$src/t/gamma.dir"; echo a > "$src/t/alpha/a.txt"; : > "$src/t/README"
xorriso -as mkisofs -quiet -J -o "$src/x.iso" "$src/t" 2>/dev/null
genisoimage -quiet -J -o "$src/g.iso" "$src/t"
genisoimage -quiet -R -J -o "$src/rr.iso" "$src/t"
for f in "$src"/*.iso; do dd if="$f" of="$corpus/$(basename "$f").seed" bs=2048 skip=16 count=32 status=none; done
build-fuzz/bin/open_list_fuzzer -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 "$corpus"
