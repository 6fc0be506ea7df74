#!/usr/bin/env bash
# Cross-builds Qt 6 (qtbase: Core, Gui, Widgets, Network, Test; then qtsvg if its source can be had) for 64-bit Windows from
# Debian's source packages, the same version as the host's Qt tools, into a cache folder outside the
# source tree. A complete cache (its stamp file) is reused untouched; an interrupted build resumes.
# May add a deb-src entry for bookworm main to apt's sources (apt-get source needs one).
# Prints the Qt prefix on its last line; exits with status 3 when the Qt source cannot be fetched.
#   UMBRA_QT_CACHE  cache root (default /var/cache/umbradisc)
#   UMBRA_JOBS      parallel build jobs (default 2)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
cache=${UMBRA_QT_CACHE:-/var/cache/umbradisc}
if ! mkdir -p "$cache" 2>/dev/null || [ ! -w "$cache" ]; then
  cache=${XDG_CACHE_HOME:-$HOME/.cache}/umbradisc
  echo "build-qt: /var/cache/umbradisc cannot be written here; the Qt cache goes to $cache" >&2
fi
jobs=${UMBRA_JOBS:-2}
# The recipe number changes whenever the configure options below change, so old caches are not reused.
recipe=r1
host_ver=$(dpkg-query -W -f='${Version}' qt6-base-dev)
svg_ver=$(dpkg-query -W -f='${Version}' qt6-svg-dev)
prefix=$cache/qt6-mingw64-$host_ver-$recipe
stamp=$prefix/.umbradisc-complete
if [ -f "$stamp" ]; then
  echo "$prefix"
  exit 0
fi
work=$cache/work-qt6-mingw64-$host_ver-$recipe
mkdir -p "$work" "$prefix"
sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
log() { echo "build-qt: $(date +%T) $*" >&2; }

# Source entry: the address of the existing Debian entry, suite bookworm, component main.
if ! grep -rqs '^ *\(Types:.*deb-src\|deb-src \)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
  uri=${uri:-http://deb.debian.org/debian}
  log "adding a deb-src entry for $uri bookworm main"
  printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$uri" | $sudo tee /etc/apt/sources.list.d/umbradisc-src.sources >/dev/null
  $sudo apt-get update -qq || { log "apt-get update fails with the deb-src entry"; exit 3; }
fi

cd "$work"
fetch() {  # package version folder-glob: unpack the upstream tarball once (Debian's patches are for Linux)
  local pkg=$1 ver=$2 dir
  dir=$(ls -d $3 2>/dev/null | head -1 || true)
  if [ -z "$dir" ]; then
    log "fetching $pkg $ver"
    apt-get source -qq --download-only "$pkg=$ver" >&2 || return 1
    tar xf "$(ls ${pkg}_*.orig.tar.* | head -1)"
  fi
}
# Exit status 3: the source cannot be had here, which the callers report as a skip.
fetch qt6-base "$host_ver" 'qtbase-everywhere-src-*' || { log "the qt6-base $host_ver source cannot be fetched"; exit 3; }
base_src=$(ls -d "$work"/qtbase-everywhere-src-* | head -1)

cp "$repo/cmake/toolchains/mingw-w64-x86_64-qt.cmake" "$prefix/mingw-qt.cmake"
cp "$repo/cmake/toolchains/mingw-w64-common.cmake" "$prefix/mingw-w64-common.cmake"
host_cmake=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)/cmake

mkdir -p base-build
if [ ! -f base-build/build.ninja ]; then
  log "configuring qtbase"
  (cd base-build && "$base_src/configure" -prefix "$prefix" -xplatform win32-g++ -qt-host-path /usr \
    -release -nomake examples -nomake tests -no-opengl -no-dbus -no-feature-sql -no-feature-concurrent \
    -no-feature-printsupport -no-feature-xml -no-feature-tabletevent -no-openssl \
    -- -DCMAKE_TOOLCHAIN_FILE="$prefix/mingw-qt.cmake" -DQT_HOST_PATH_CMAKE_DIR="$host_cmake") >base-configure.log 2>&1
fi
log "building qtbase (-j$jobs)"
cmake --build base-build --parallel "$jobs" >base-build.log 2>&1
cmake --install base-build >base-install.log 2>&1

# Qt's SVG module is optional: Debian's archive may lack its source (a 404 for qt6-svg 6.4.2 was seen),
# and the project then draws its icons from pictures.
svg=none
if fetch qt6-svg "$svg_ver" 'qtsvg-everywhere-src-*'; then
  svg_src=$(ls -d "$work"/qtsvg-everywhere-src-* | head -1)
  if [ ! -f svg-build/build.ninja ]; then
    log "configuring qtsvg"
    cmake -S "$svg_src" -B svg-build -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
      -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" \
      -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF >svg-configure.log 2>&1
  fi
  log "building qtsvg"
  cmake --build svg-build --parallel "$jobs" >svg-build.log 2>&1
  cmake --install svg-build >svg-install.log 2>&1
  svg=$svg_ver
else
  log "the qt6-svg source cannot be fetched; Qt is built without its SVG module"
fi

for lib in Core Gui Widgets Network Test; do
  [ -f "$prefix/bin/Qt6$lib.dll" ] || { echo "build-qt: Qt6$lib.dll is missing from $prefix" >&2; exit 1; }
done
echo "qtbase $host_ver, qtsvg $svg, recipe $recipe, built $(date -u +%FT%TZ)" >"$stamp"
cd / && rm -rf "$work"
log "Qt installed in $prefix"
echo "$prefix"
