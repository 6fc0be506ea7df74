#!/usr/bin/env bash
# Builds the Debian package from a finished build folder (default build/), unpacks it into a
# temporary root with dpkg-deb -x and tries the programs from there; then checks the desktop entry
# and the AppStream file, and lets lintian judge the package (errors fail, warnings are listed).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
fail() { echo "package test: $*" >&2; exit 1; }

rm -f "$build"/umbradisc_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/umbradisc_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no package"
deb=${debs[0]}
echo "package: $deb"
dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Section\|Depends\):/  \1:/p'

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root/pkg"
bin=$root/pkg/usr/bin
version=$(dpkg-deb --field "$deb" Version)

# The layout: programs in bin/, the help page and manual pages under share/, nothing else in bin/.
for f in usr/bin/umbradisc usr/bin/umbradisc-cli usr/bin/cdimage \
         usr/share/doc/umbradisc/umbradisc.html usr/share/doc/umbradisc/copyright \
         usr/share/man/man1/umbradisc.1.gz usr/share/man/man1/umbradisc-cli.1.gz usr/share/man/man1/cdimage.1.gz \
         usr/share/applications/umbradisc.desktop usr/share/icons/hicolor/scalable/apps/umbradisc.svg \
         usr/share/metainfo/com.korvantissoft.umbradisc.metainfo.xml; do
  [ -e "$root/pkg/$f" ] || fail "$f is missing"
done
extra=$(ls "$bin" | grep -vx -e umbradisc -e umbradisc-cli -e cdimage || true)
[ -z "$extra" ] || fail "unexpected files in usr/bin: $extra"

# The programs, run from the unpacked root.
[ "$("$bin/umbradisc-cli" --version)" = "umbradisc-cli $version" ] || fail "umbradisc-cli --version"
[ "$("$bin/cdimage" --version)" = "cdimage $version" ] || fail "cdimage --version"
if readelf -d "$bin/umbradisc-cli" | grep -q 'libQt'; then fail "umbradisc-cli links Qt"; fi
mkdir -p "$root/source/Private/Deeper" "$root/source/Public"
echo "kept out of sight" > "$root/source/Private/Deeper/secret.txt"
echo "nothing to hide" > "$root/source/Public/notes.txt"
"$bin/cdimage" -lSMOKE -t -d -n "$root/source" "$root/made.iso" >/dev/null || fail "cdimage failed"
"$bin/umbradisc-cli" info "$root/made.iso" | grep -q SMOKE || fail "info on cdimage's image"
xorriso -as mkisofs -quiet -J -V XORRISO -o "$root/xorriso.iso" "$root/source" 2>/dev/null
"$bin/umbradisc-cli" info "$root/xorriso.iso" | grep -q XORRISO || fail "info on xorriso's image"
"$bin/umbradisc-cli" hide "$root/xorriso.iso" /Private >/dev/null || fail "hide"
"$bin/umbradisc-cli" ls "$root/xorriso.iso" / | grep -q Private || fail "ls after hide"
# The window starts and keeps running (its libraries and plug-ins are all there).
XDG_RUNTIME_DIR=$root QT_QPA_PLATFORM=offscreen UMBRADISC_UPDATE_URL=http://127.0.0.1:9/ \
  "$bin/umbradisc" "$root/made.iso" & window=$!
sleep 3
kill -0 "$window" 2>/dev/null || fail "the window ended at once"
kill "$window"; wait "$window" 2>/dev/null || true

desktop-file-validate "$root/pkg/usr/share/applications/umbradisc.desktop" || fail "desktop entry"
appstreamcli validate --no-net --pedantic "$root/pkg/usr/share/metainfo/com.korvantissoft.umbradisc.metainfo.xml" \
  || fail "AppStream metadata"

lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"
echo "package test passed"
