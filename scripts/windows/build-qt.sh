#!/usr/bin/env bash
# Cross-builds Qt 6 for 64-bit Windows from Debian's source packages into a cache folder outside the
# source tree: qtbase (Core, Gui, Widgets, Network and Test, which the window and its tests need) and
# qtsvg (Svg, optional: without it the window draws its icons from pictures). The upstream version is
# the host's Qt tools' own. A complete cache (its stamp file) is reused untouched; an interrupted build
# resumes.
# Before fetching it refreshes apt's package index, with deb-src twins of apt's deb entries (written to
# /etc/apt/sources.list.d/umbradisc-src.sources when apt has no deb-src entry). Of each source package
# it takes the version the index names for the host's upstream version, or, when the archive no longer
# holds that one's files, the nearest other version the index names for it. Each module it cannot get
# gets one line on stderr saying which, why, and what follows.
# Prints the Qt prefix on its last line. Exit status 3: a module the window needs cannot be fetched
# (its line says why); 1: any other failure.
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
prefix=$cache/qt6-mingw64-$host_ver-$recipe
stamp=$prefix/.umbradisc-complete
log() { echo "build-qt: $(date +%T) $*" >&2; }
if [ -f "$stamp" ]; then
  # The stamp's second line names what the cached Qt lacks, if anything; say it on every reuse.
  sed -n '2,$s/^/build-qt: /p' "$stamp" >&2
  echo "$prefix"
  exit 0
fi
work=$cache/work-qt6-mingw64-$host_ver-$recipe
mkdir -p "$work" "$prefix"
sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"

# upstream VERSION: the Qt release inside a Debian version (1:6.4.2+dfsg-10 -> 6.4.2).
upstream() { local v=${1#*:}; v=${v%-*}; echo "${v%%+*}"; }
want=$(upstream "$host_ver")

# Source entries: one deb-src twin of each deb entry apt has (every suite: a point release or a
# security update may be where the source still is), unless apt already has a deb-src entry.
src_list=/etc/apt/sources.list.d/umbradisc-src.sources
if [ -f "$src_list" ] || ! grep -rqs --exclude="${src_list##*/}" '^ *\(Types:.*deb-src\|deb-src \)' \
  /etc/apt/sources.list /etc/apt/sources.list.d/; then
  entries=$(
    for f in /etc/apt/sources.list.d/*.sources; do
      [ "$f" = "$src_list" ] || [ ! -f "$f" ] && continue
      # deb822: every stanza whose Types has deb, with Types: deb-src and its URIs, Suites, Components, Signed-By.
      awk 'BEGIN { RS = ""; FS = "\n" }
        { t = ""; keep = ""
          for (i = 1; i <= NF; i++) {
            if ($i ~ /^Types:/ && $i ~ /[ \t]deb([ \t]|$)/) t = "Types: deb-src"
            else if ($i ~ /^(URIs|Suites|Components|Signed-By):/) keep = keep $i "\n"
          }
          if (t != "" && keep != "") printf "%s\n%s\n", t, keep }' "$f"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [ -f "$f" ] || continue
      # One-line form: deb [options] URI SUITE COMPONENT...
      awk '$1 == "deb" { i = 2; if ($2 ~ /^\[/) while ($i !~ /\]$/) i++; if ($2 ~ /^\[/) i++
        printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents:", $i, $(i + 1)
        for (j = i + 2; j <= NF; j++) printf " %s", $j
        printf "\n\n" }' "$f"
    done
  )
  if [ -z "$entries" ]; then
    log "apt has no deb entry to add a deb-src twin to"
  elif [ "$entries" != "$(cat "$src_list" 2>/dev/null)" ]; then
    log "writing deb-src entries to $src_list"
    printf '%s\n' "$entries" | $sudo tee "$src_list" >/dev/null
  fi
fi
log "refreshing apt's package index"
updated=no
for attempt in 1 2 3; do  # another apt on this machine may hold the lock for a while
  if $sudo apt-get update -qq >"$work/apt-update.log" 2>&1; then updated=yes; break; fi
  sleep $((attempt * 20))
done
if [ "$updated" = no ]; then
  log "apt-get update fails ($(grep -m1 -E '^(E|W):' "$work/apt-update.log" || tail -1 "$work/apt-update.log")); the sources are looked up in the index as it is"
fi

# fetch PACKAGE MODULES: unpacks the upstream tarball of the source package PACKAGE for release $want
# into $work (once; Debian's patches are for Linux) and prints the version taken. The host's own
# version is tried first, then every other version the index names for the same release, newest
# first (a module must be the same Qt release as qtbase). On failure one line names MODULES, the
# versions tried and why each failed.
fetch() {
  local pkg=$1 modules=$2 dir host versions v tried="" why out
  dir=$(ls -d "$work"/"${pkg#qt6-}"-everywhere-src-* 2>/dev/null | head -1 || true)
  if [ -n "$dir" ]; then cat "$work/$pkg.version"; return 0; fi
  host=$(dpkg-query -W -f='${Version}' "$pkg-dev" 2>/dev/null || true)
  [ "$pkg" = qt6-base ] && host=$host_ver
  versions=$(
    [ -n "$host" ] && [ "$(upstream "$host")" = "$want" ] && echo "$host"
    apt-cache showsrc "$pkg" 2>/dev/null | sed -n 's/^Version: //p' | while read -r v; do
      [ "$(upstream "$v")" = "$want" ] && [ "$v" != "$host" ] && echo "$v"
    done | sort -u | sort -r -V
  )
  if [ -z "$versions" ]; then
    why="apt's index names no source of $pkg for Qt $want"
    [ -z "$(apt-cache showsrc "$pkg" 2>/dev/null)" ] && why="apt's index names no source of $pkg"
    echo "$modules: not fetched: $why" >"$work/$pkg.missing"
    return 1
  fi
  for v in $versions; do
    rm -rf "$work/download" && mkdir -p "$work/download"
    if out=$(cd "$work/download" && apt-get source -qq --download-only "$pkg=$v" 2>&1); then
      log "fetched $pkg $v"
      (cd "$work" && tar xf "$(ls download/"${pkg}"_*.orig.tar.* | head -1)")
      rm -rf "$work/download"
      echo "$v" >"$work/$pkg.version"
      echo "$v"
      return 0
    fi
    if grep -q '404' <<<"$out"; then why="the archive no longer holds its files (404)"
    elif grep -q 'Unable to find a source package\|Can not find version' <<<"$out"; then why="not in apt's index"
    else why=$(grep -m1 -E '^(E|W):' <<<"$out" || echo "apt-get source failed"); fi
    log "$pkg $v: $why"
    tried="$tried${tried:+; }$v: $why"
  done
  rm -rf "$work/download"
  echo "$modules: not fetched from source package $pkg ($tried)" >"$work/$pkg.missing"
  return 1
}

if ! base_ver=$(fetch qt6-base "Qt Core, Gui, Widgets, Network and Test"); then
  echo "build-qt: $(cat "$work/qt6-base.missing"); the window needs them, so it cannot be built" >&2
  exit 3
fi
base_src=$(ls -d "$work"/qtbase-everywhere-src-* | head -1)

cp "$repo/cmake/toolchains/mingw-w64-x86_64-qt.cmake" "$prefix/mingw-qt.cmake"
cp "$repo/cmake/toolchains/mingw-w64-common.cmake" "$prefix/mingw-w64-common.cmake"
host_cmake=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)/cmake

mkdir -p "$work/base-build"
cd "$work"
if [ ! -f base-build/build.ninja ]; then
  log "configuring qtbase $base_ver"
  (cd base-build && "$base_src/configure" -prefix "$prefix" -xplatform win32-g++ -qt-host-path /usr \
    -release -nomake examples -nomake tests -no-opengl -no-dbus -no-feature-sql -no-feature-concurrent \
    -no-feature-printsupport -no-feature-xml -no-feature-tabletevent -no-openssl \
    -- -DCMAKE_TOOLCHAIN_FILE="$prefix/mingw-qt.cmake" -DQT_HOST_PATH_CMAKE_DIR="$host_cmake") >base-configure.log 2>&1
fi
log "building qtbase (-j$jobs)"
cmake --build base-build --parallel "$jobs" >base-build.log 2>&1
cmake --install base-build >base-install.log 2>&1

lacks=""
if svg_ver=$(fetch qt6-svg "Qt Svg"); then
  svg_src=$(ls -d "$work"/qtsvg-everywhere-src-* | head -1)
  if [ ! -f svg-build/build.ninja ]; then
    log "configuring qtsvg $svg_ver"
    cmake -S "$svg_src" -B svg-build -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
      -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" \
      -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF >svg-configure.log 2>&1
  fi
  log "building qtsvg"
  cmake --build svg-build --parallel "$jobs" >svg-build.log 2>&1
  cmake --install svg-build >svg-install.log 2>&1
  [ -f "$prefix/bin/Qt6Svg.dll" ] || { echo "build-qt: Qt6Svg.dll is missing from $prefix after its build" >&2; exit 1; }
else
  svg_ver=none
  lacks="$(cat "$work/qt6-svg.missing"); Qt Svg is optional: the window draws its icons from pictures"
  echo "build-qt: $lacks" >&2
fi

for lib in Core Gui Widgets Network Test; do
  [ -f "$prefix/bin/Qt6$lib.dll" ] || { echo "build-qt: Qt6$lib.dll is missing from $prefix" >&2; exit 1; }
done
{
  echo "qtbase $base_ver, qtsvg $svg_ver, recipe $recipe, built $(date -u +%FT%TZ)"
  [ -z "$lacks" ] || echo "$lacks"
} >"$stamp"
cd / && rm -rf "$work"
log "Qt installed in $prefix"
echo "$prefix"
