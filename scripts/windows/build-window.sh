#!/usr/bin/env bash
# The window for 64-bit Windows: Qt for MinGW (build-qt.sh, cached), umbradisc.exe with cdimage.exe
# and umbradisc-cli.exe, a ready-to-run folder and zip (dist/), the installer made from that folder
# with NSIS (build-installer.sh), the window's tests under wine with the offscreen platform, the
# installer's round trip in a fresh prefix (test-installer.sh), and one end-to-end run of the real
# window under wine and Xvfb, compared with the Linux command line tool (LINUX_CLI, default
# build/bin/umbradisc-cli).
#   scripts/windows/build-window.sh [--no-tests] [LINUX_CLI]
# Needs the packages of install-deps.sh --windows (it may also add a deb-src entry, see build-qt.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
run_tests=yes
[ "${1:-}" = --no-tests ] && { run_tests=no; shift; }
linux_cli=${1:-build/bin/umbradisc-cli}
started=$SECONDS
stage() { echo "== windows window: $1 ($((SECONDS - started)) s)"; }

. scripts/lib/machine.sh
provide_home
stage "packages"
scripts/install-deps.sh --windows
stage "Qt for MinGW"
# A module the window needs that cannot be had fails the stage; build-qt.sh names it (Qt Svg is
# optional and only noted).
qt_status=0
qt=$(scripts/windows/build-qt.sh) || qt_status=$?
if [ "$qt_status" != 0 ]; then
  stage "failed: no Qt for MinGW (see the lines above)"
  exit "$qt_status"
fi
qt=$(tail -1 <<<"$qt")
echo "   Qt in $qt"

cache=${UMBRA_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/umbradisc}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# googletest for MinGW, shared with test-cli.sh.
gtest=$cache/googletest-$(dpkg-query -W -f='${Version}' googletest)-mingw-x86_64
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  stage "googletest for MinGW"
  gtest_build=$(mktemp -d /tmp/umbradisc-gtest.XXXXXX)
  cmake -S /usr/src/googletest -B "$gtest_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest" "${launcher[@]}" >/dev/null
  cmake --build "$gtest_build" --parallel 2 >/dev/null
  cmake --install "$gtest_build" >/dev/null
  rm -rf "$gtest_build"
fi

# Without Qt Svg the host's svg2png renders the icons into pictures (resources/CMakeLists.txt).
stage "svg2png for the icons"
cmake -S resources/skin/svg2png -B build-win-host/svg2png -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
cmake --build build-win-host/svg2png >/dev/null

stage "build"
build=build-win64-window
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/lib/wine/wine64 -DUMBRA_BENCH=OFF -DUMBRA_WERROR="${UMBRA_WERROR:-OFF}" \
  -DGTest_DIR="$gtest/lib/cmake/GTest" -DUMBRA_HOST_SVG2PNG="$PWD/build-win-host/svg2png/svg2png" \
  "${launcher[@]}" >/dev/null
# The engine's and the command line tool's own tests run in test-cli.sh.
window_tests=(cdimage_test burn_tests burn_erase_ui_tests tst_main_window tst_commands tst_desktop_open tst_window_input tst_single_instance
  tst_skin_button tst_round_dlg update_tests update_prompt_ui_tests)
cmake --build "$build" --parallel 2 --target umbradisc cdimage umbradisc-cli umbra_help "${window_tests[@]}"

stage "ready-to-run folder and zip"
name=umbradisc-windows-x64
dist=dist/$name
rm -rf "$dist" "dist/$name.zip"
mkdir -p "$dist"
cp "$build"/bin/umbradisc.exe "$build"/bin/cdimage.exe "$build"/bin/umbradisc-cli.exe "$build"/bin/umbradisc.html "$dist"/
for lib in Core Gui Widgets Network; do cp "$qt/bin/Qt6$lib.dll" "$dist"/; done
plugins=(platforms/qwindows.dll styles/qwindowsvistastyle.dll imageformats/qico.dll tls/qschannelbackend.dll)
# With Qt Svg (when build-qt.sh could fetch its source) the window links it and loads its plugins.
if [ -f "$qt/bin/Qt6Svg.dll" ]; then
  cp "$qt/bin/Qt6Svg.dll" "$dist"/
  plugins+=(imageformats/qsvg.dll iconengines/qsvgicon.dll)
fi
# Qt looks for its plugins in folders beside the executable.
for plugin in "${plugins[@]}"; do
  mkdir -p "$dist/$(dirname "$plugin")"
  cp "$qt/plugins/$plugin" "$dist/$plugin"
done
# The MinGW runtime the Qt DLLs import (our programs carry theirs inside).
mingw_gcc=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
cp "$mingw_gcc/libstdc++-6.dll" "$mingw_gcc/libgcc_s_seh-1.dll" /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$dist"/
x86_64-w64-mingw32-strip "$dist"/*.exe
(cd dist && rm -f "$name.zip" && zip -qr "$name.zip" "$name")
echo "   $(du -sh "$dist" | cut -f1) folder, zip $(stat -c %s "dist/$name.zip") bytes"

stage "installer"
installer=dist/$name-setup.exe
rm -f "$installer"
if command -v makensis >/dev/null; then
  scripts/windows/build-installer.sh "$dist" "$installer"
else
  echo "   skipped: makensis not found (Debian package nsis, installed by install-deps.sh --windows)" >&2
  installer=
fi

[ "$run_tests" = yes ] || { stage "done (tests not run)"; exit 0; }
if ! probe_windows_program x86_64-w64-mingw32-gcc-posix /usr/lib/wine/wine64; then
  stage "done; the tests are not run: $UMBRA_WHY_WINE"
  exit 0
fi
WINEPREFIX=$(mktemp -d /tmp/umbradisc-wine.XXXXXX)
export WINEPREFIX WINEDEBUG=-all LC_ALL=C.UTF-8
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
stage "wine prefix"
/usr/lib/wine/wine64 wineboot --init 2>/dev/null
# The ready-to-run folder must stand alone: every DLL its programs and plugins import is beside them
# or is part of Windows (a fresh prefix's system32 holds wine's stand-ins for all of those). On this
# machine the cached Qt would hide a missing one, so the imports are checked here.
stage "imports of the ready-to-run folder"
missing=0
while IFS= read -r -d '' binary; do
  for dll in $(x86_64-w64-mingw32-objdump -p "$binary" | awk '/DLL Name:/ {print $3}'); do
    case ${dll,,} in api-ms-win-*|ext-ms-win-*) continue ;; esac  # API sets: names Windows resolves itself
    [ -f "$dist/$dll" ] || [ -f "$WINEPREFIX/drive_c/windows/system32/${dll,,}" ] && continue
    echo "   ${binary#$dist/} imports $dll, which is neither beside it nor part of Windows" >&2
    missing=1
  done
done < <(find "$dist" \( -name '*.exe' -o -name '*.dll' \) -print0)
[ "$missing" = 0 ] || exit 1
# The tests find Qt's DLLs and plugins in the Qt prefix, and the MinGW runtime where Debian keeps it.
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
export WINEPATH="$(winpath "$qt/bin");$(winpath "$mingw_gcc");$(winpath /usr/x86_64-w64-mingw32/lib)"
export QT_QPA_PLATFORM=offscreen
# The offscreen platform reads fonts from Qt's own lib/fonts (wine does not pass QT_QPA_FONTDIR on);
# the condensed DejaVu face is the one the Linux tests' window is measured in.
mkdir -p "$qt/lib/fonts"
cp /usr/share/fonts/truetype/dejavu/DejaVuSansCondensed*.ttf "$qt/lib/fonts"/
stage "tests under wine"
if ! ctest --test-dir "$build" --output-on-failure --timeout 300 -R '^(cdimage_test|burn_tests|burn_erase_ui_tests|update_|app\.|controls\.)'; then
  # A Qt test's own report does not reach a pipe under wine; run the failed ones again into a file.
  while IFS=: read -r _ name; do
    program=${name#app.}; program=${program#controls.}
    case $program in tst_*) ;; *) continue ;; esac
    report=$WINEPREFIX/$program.txt
    (cd "$build/bin" && timeout 300 /usr/lib/wine/wine64 "$program.exe" -platform offscreen -o "$(winpath "$report"),txt" \
      >/dev/null 2>&1) || true
    echo "---- $program"; grep -v '^PASS' "$report" 2>/dev/null || echo "(no report)"
  done <"$build/Testing/Temporary/LastTestsFailed.log"
  exit 1
fi
stage "installer round trip under wine"
if [ -n "$installer" ]; then
  setup_work=$(mktemp -d /tmp/umbradisc-setup.XXXXXX)
  mkdir -p "$setup_work/src/Folder"
  echo hello >"$setup_work/src/Folder/file.txt"
  xorriso -as mkisofs -quiet -J -o "$setup_work/disc.iso" "$setup_work/src"
  (unset WINEPREFIX WINEPATH; scripts/windows/test-installer.sh "$installer" "$setup_work/disc.iso")
  rm -rf "$setup_work"
else
  echo "   skipped: no installer (makensis missing)" >&2
fi
stage "end-to-end run under Xvfb"
if [ -n "${UMBRA_NO_DISPLAY:-}" ] || ! probe_display; then
  echo "   skipped: ${UMBRA_NO_DISPLAY:-$UMBRA_WHY_DISPLAY}"
elif [ -x "$linux_cli" ]; then
  scripts/windows/e2e-window.sh "$dist" "$linux_cli"
else
  echo "   skipped: no Linux command line tool at $linux_cli to compare with" >&2
  exit 1
fi
stage "done"
