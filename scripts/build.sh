#!/usr/bin/env bash
# Configures and builds Umbradisc into build/ (programs in build/bin).
# UMBRA_BUILD_TYPE (default RelWithDebInfo) and UMBRA_WERROR (default OFF; CI turns it on) are
# passed to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${UMBRA_BUILD_TYPE:-RelWithDebInfo}" \
  -DUMBRA_WERROR="${UMBRA_WERROR:-OFF}" >/dev/null
cmake --build build --parallel "$(nproc)"
