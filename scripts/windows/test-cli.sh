#!/usr/bin/env bash
# The engine and umbradisc-cli for Windows, built here and tested under wine:
#  1. installs the MinGW-w64 compilers and wine (install-deps.sh --windows), and 32-bit wine if the
#     i386 architecture can be had (install-deps.sh --wine32); whether each wine runs programs here
#     is found out by running a tiny one built by its compiler (a kernel without 32-bit support
#     installs 32-bit wine but cannot start it);
#  2. builds googletest for MinGW once into a cache folder outside the source tree;
#  3. cross-builds the engine, the command line tool and their tests for 64-bit (build-win64) and
#     32-bit Windows (build-win32);
#  4. runs the tests under wine in a fresh prefix: the 64-bit ones when 64-bit programs run, the
#     32-bit ones when 32-bit programs run (both builds are built either way); each test program must leave a report with its tests in it, since wine64 alone
#     "runs" a 32-bit program silently with exit status 0;
#  5. compares the Windows tool with the Linux one (compare-cli.sh).
#   scripts/windows/test-cli.sh [LINUX_CLI]     (default build/bin/umbradisc-cli)
set -euo pipefail
cd "$(dirname "$0")/../.."
linux_cli=${1:-build/bin/umbradisc-cli}
[ -x "$linux_cli" ] || { echo "test-cli.sh: no Linux build at $linux_cli (run scripts/build.sh first)" >&2; exit 1; }
started=$SECONDS
stage() { echo "== windows: $1 ($((SECONDS - started)) s)"; }

. scripts/lib/machine.sh
provide_home
stage "packages"
scripts/install-deps.sh --windows
wine64=yes
if ! probe_windows_program x86_64-w64-mingw32-gcc-posix /usr/lib/wine/wine64; then
  wine64=no
  echo "== windows: the 64-bit tests are not run: $UMBRA_WHY_WINE"
fi
wine32=yes
if ! scripts/install-deps.sh --wine32; then
  wine32=no
  echo "== windows: the 32-bit tests are not run: 32-bit wine cannot be installed here"
elif ! probe_windows_program i686-w64-mingw32-gcc-posix /usr/lib/wine/wine; then
  wine32=no
  echo "== windows: the 32-bit tests are not run: $UMBRA_WHY_WINE"
fi

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cache=${UMBRA_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/umbradisc}
gtest_version=$(dpkg-query -W -f='${Version}' googletest)

for arch in x86_64 i686; do
  toolchain=$PWD/cmake/toolchains/mingw-w64-$arch.cmake
  gtest=$cache/googletest-$gtest_version-mingw-$arch
  if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
    stage "googletest for $arch"
    gtest_build=$(mktemp -d /tmp/umbradisc-gtest.XXXXXX)
    cmake -S /usr/src/googletest -B "$gtest_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest" "${launcher[@]}" >/dev/null
    cmake --build "$gtest_build" --parallel "$(nproc)" >/dev/null
    cmake --install "$gtest_build" >/dev/null
    rm -rf "$gtest_build"
  fi
  build=build-win64
  [ "$arch" = i686 ] && build=build-win32
  stage "build $build"
  # GTest_DIR by hand: the toolchain's find roots hide CMAKE_PREFIX_PATH from find_package.
  # -O2 as on Linux without the debug information, which makes MinGW objects large and links slow
  # (GCC 12 at -O3 warns falsely about overlapping copies inside std::string).
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DUMBRA_ENGINE_ONLY=ON -DUMBRA_BENCH=OFF -DUMBRA_WERROR=ON \
    -DGTest_DIR="$gtest/lib/cmake/GTest" "${launcher[@]}" >/dev/null
  cmake --build "$build" --parallel "$(nproc)"
done

if [ "$wine64" = no ] && [ "$wine32" = no ]; then
  stage "done (both builds built; no test run: wine runs no program here)"
  exit 0
fi
WINEPREFIX=$(mktemp -d /tmp/umbradisc-wine.XXXXXX)
export WINEPREFIX WINEDEBUG=-all LC_ALL=C.UTF-8
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
stage "wine prefix"
/usr/lib/wine/wine64 wineboot --init 2>/dev/null

# run_tests BUILD: CTest through wine, then every test program's own report must list its tests (the
# build checks, label "build", run the compiler and no program).
run_tests() {
  local build=$1 reports=$PWD/$1/gtest-reports
  rm -rf "$reports"
  mkdir -p "$reports"
  stage "tests in $build"
  GTEST_OUTPUT="xml:Z:$reports/" ctest --test-dir "$build" --output-on-failure --timeout 300
  local programs
  programs=$(ctest --test-dir "$build" -N -LE build | sed -n 's/^ *Test *#[0-9]*: //p')
  for program in $programs; do
    local report=$reports/$program.xml
    if [ ! -s "$report" ] || ! grep -q '<testsuites tests="[1-9]' "$report"; then
      echo "== windows: $build/$program ran no tests under wine (no report at $report)" >&2
      return 1
    fi
    grep -o '<testsuites tests="[0-9]*" failures="[0-9]*" disabled="[0-9]*" errors="[0-9]*"' "$report" |
      sed "s|<testsuites|   $build/$program:|"
  done
}

if [ "$wine64" = yes ]; then
  run_tests build-win64
  stage "compare with the Linux build"
  scripts/windows/compare-cli.sh "$linux_cli" build-win64/bin/umbradisc-cli.exe /usr/lib/wine/wine64
fi
if [ "$wine32" = yes ]; then
  run_tests build-win32
  scripts/windows/compare-cli.sh "$linux_cli" build-win32/bin/umbradisc-cli.exe /usr/lib/wine/wine
fi
stage "done (64-bit run: $wine64, 32-bit run: $wine32)"
