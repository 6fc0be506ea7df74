#!/usr/bin/env bash
# Fresh machine to test report: install what is missing, build (GCC, Release, warnings as errors),
# run every test through CTest, build the Debian package and try it out, build once more with clang
# (Release, warnings as errors) and build the fuzz targets with libFuzzer, replaying every finding
# saved in tests/fuzz/findings/, then run the engine and command line tests under AddressSanitizer
# and UBSan, then build the engine and the command line tool for Windows and test them under wine,
# then the window for Windows (Qt for MinGW is built once per machine and cached), its tests under
# wine and one end-to-end run of it under Xvfb.
#
# What the machine offers (a home, a UTF-8 locale, loopback, an X server, 32-bit programs, wine) is
# found out by trying it: provided where the script can, otherwise the parts that need it are
# skipped with a line that says why. A failed stage does not stop the stages that do not depend on
# it; the script prints each stage's time and result at the end and fails if any stage failed.
#
# --quick: the packages, the Linux build and its CTest run only (a few minutes), for the loop of a
# developer who changed the engine, the command line tool or the window; CI runs everything.
set -uo pipefail
quick=no
[ "${1:-}" = --quick ] && quick=yes
cd "$(dirname "$0")/.."
. scripts/lib/machine.sh

started=$SECONDS
results=()
failed=0
failed_logs=()
stage_logs=$(mktemp -d /tmp/umbradisc-stages.XXXXXX)
trap 'rm -rf "$stage_logs"' EXIT
# run_stage NAME COMMAND...: runs the command with errexit, records its result and time, and leaves
# its exit status in $last. Never call it where bash ignores errexit (if, while, && or ||): the
# stage's commands would then go on past a failure.
last=0
run_stage() {
  local name=$1 begun=$SECONDS
  shift
  local log=$stage_logs/${#results[@]}.log
  echo "== stage: $name (at $((SECONDS - started)) s)"
  (set -e; "$@") 2>&1 | tee "$log"
  last=${PIPESTATUS[0]}
  local took=$((SECONDS - begun)) verdict=passed
  [ "$last" -eq 0 ] || { verdict="FAILED (exit $last)"; failed=$((failed + 1)); failed_logs+=("$name|$log"); }
  results+=("$(printf '%-44s %6d s  %s' "$name" "$took" "$verdict")")
  echo "== stage: $name: $verdict in $took s"
}
skip_stage() {  # skip_stage NAME WHY
  results+=("$(printf '%-44s %6s    skipped: %s' "$1" - "$2")")
  echo "== stage: $1: skipped: $2"
}
report() {
  # A failed stage's own words are far above by now; its last lines, without the build's progress
  # lines, are repeated here so that a log cut to its end still says why.
  local entry
  for entry in "${failed_logs[@]}"; do
    echo
    echo "== the end of the failed stage \"${entry%%|*}\""
    grep -v '^\[[0-9]*/[0-9]*\] ' "${entry#*|}" | tail -n 60
  done
  echo
  echo "== stages"
  printf '   %s\n' "${results[@]}"
  echo "== total: $((SECONDS - started)) s"
  local skipped=0 passed=0 r
  for r in "${results[@]}"; do
    case $r in *skipped:*) skipped=$((skipped + 1)) ;; *passed) passed=$((passed + 1)) ;; esac
  done
  echo "stages: $passed passed, $failed failed, $skipped skipped"
}

provide_home
provide_utf8_locale
ctest_skip=()
if ! probe_loopback; then
  say "the update tests are not run: $UMBRA_WHY_LOOPBACK"
  ctest_skip+=('^update')
fi

run_stage "packages" scripts/install-deps.sh
[ "$last" -eq 0 ] || { report; exit 1; }

display=yes
if ! probe_display; then
  display=no
  say "the end-to-end runs under X are not run: $UMBRA_WHY_DISPLAY"
  ctest_skip+=('^e2e\.window$')
fi
if command -v ccache >/dev/null; then say "ccache is used for the Windows builds"; fi

ctest_filter=()
((${#ctest_skip[@]})) && ctest_filter=(-E "$(IFS='|'; echo "${ctest_skip[*]}")")

linux_build() { UMBRA_BUILD_TYPE=Release UMBRA_WERROR=ON scripts/build.sh; }
linux_tests() {
  QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure --parallel "$(nproc)" --timeout 600 \
    "${ctest_filter[@]}"
}
clang_build() {
  cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=Release -DUMBRA_WERROR=ON -DUMBRA_BENCH=OFF \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build build-clang --parallel "$(nproc)"
  # The fuzz targets as libFuzzer builds them (with AddressSanitizer and UBSan, in build-fuzz), and
  # every saved finding replayed: a target that no longer builds or a finding that fails again fails here.
  tests/fuzz/run-fuzzer.sh --replay
}
asan_tests() {
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUMBRA_ENGINE_ONLY=ON \
    -DUMBRA_SANITIZE=address,undefined -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build build-asan --parallel "$(nproc)"
  ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure --parallel "$(nproc)" --timeout 600
}
windows_window() {
  if [ "$display" = no ]; then export UMBRA_NO_DISPLAY="$UMBRA_WHY_DISPLAY"; fi
  UMBRA_WERROR=ON scripts/windows/build-window.sh build/bin/umbradisc-cli
}

run_stage "Linux build (GCC, warnings as errors)" linux_build
if [ "$quick" = yes ]; then
  if [ "$last" -eq 0 ]; then run_stage "Linux tests (CTest)" linux_tests; fi
  report
  [ "$failed" -eq 0 ]
  exit
fi
if [ "$last" -eq 0 ]; then
  run_stage "Linux tests (CTest)" linux_tests
  run_stage "Debian package" scripts/package-test.sh build
  run_stage "Windows command line tool (64 and 32 bit)" scripts/windows/test-cli.sh build/bin/umbradisc-cli
  run_stage "Windows window" windows_window
else
  for s in "Linux tests (CTest)" "Debian package" "Windows command line tool (64 and 32 bit)" "Windows window"; do
    skip_stage "$s" "the Linux build failed"
  done
fi
run_stage "clang build and fuzz targets (warnings as errors)" clang_build
run_stage "AddressSanitizer and UBSan tests" asan_tests

report
[ "$failed" -eq 0 ]
