#!/usr/bin/env bash
# Fresh machine to test report: install what is missing, build (GCC, Release, warnings as errors),
# run every test through CTest, build the Debian package and try it out, build once more with clang
# (Release, warnings as errors), then run the engine and command line tests under AddressSanitizer
# and UBSan, then build the engine and the command line tool for Windows and test them under wine,
# then the window for Windows (Qt for MinGW is built once per machine and cached), its tests under
# wine and one end-to-end run of it under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
UMBRA_BUILD_TYPE=Release UMBRA_WERROR=ON scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure --parallel "$(nproc)" --timeout 600

scripts/package-test.sh build

cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=Release -DUMBRA_WERROR=ON -DUMBRA_BENCH=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-clang --parallel "$(nproc)"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUMBRA_ENGINE_ONLY=ON \
  -DUMBRA_SANITIZE=address,undefined -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-asan --parallel "$(nproc)"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure --parallel "$(nproc)" --timeout 600

scripts/windows/test-cli.sh build/bin/umbradisc-cli
UMBRA_WERROR=ON scripts/windows/build-window.sh build/bin/umbradisc-cli
