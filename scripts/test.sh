#!/usr/bin/env bash
# Fresh machine to test report: install what is missing, build, run every test through CTest,
# then the engine and command line tests once more under AddressSanitizer and UBSan, then the
# engine and the command line tool built for Windows and tested under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure --parallel "$(nproc)" --timeout 600

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUMBRA_ENGINE_ONLY=ON \
  -DUMBRA_SANITIZE=address,undefined -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-asan --parallel "$(nproc)"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure --parallel "$(nproc)" --timeout 600

scripts/windows/test-cli.sh build/bin/umbradisc-cli
