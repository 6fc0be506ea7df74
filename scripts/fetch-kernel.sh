#!/usr/bin/env bash
# Fetches Debian's cloud kernel (linux-image-cloud-amd64) for the kernel end-to-end test without
# installing it: the package is downloaded with apt-get download and unpacked with dpkg-deb -x into
#   ${XDG_CACHE_HOME:-$HOME/.cache}/umbradisc/kernel-<release>/
# (boot/vmlinuz-<release> and lib/modules/<release>/), so no package hook runs on this machine.
# Prints that folder on its last line. A folder already complete is reused without the network.
# Exit status 1, with a line on stderr that says why, when the kernel cannot be had.
set -euo pipefail

cache=${XDG_CACHE_HOME:-$HOME/.cache}/umbradisc
meta=linux-image-cloud-amd64

fail() { echo "fetch-kernel: $*" >&2; exit 1; }

command -v apt-cache >/dev/null && command -v apt-get >/dev/null && command -v dpkg-deb >/dev/null ||
  fail "apt-get, apt-cache and dpkg-deb are needed (a Debian machine)"

# The meta package depends on the versioned one, e.g. linux-image-6.1.0-57-cloud-amd64.
package=$(apt-cache depends "$meta" 2>/dev/null | awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; exit }')
[ -n "$package" ] || fail "apt-cache knows no $meta (run apt-get update)"
release=${package#linux-image-}
target=$cache/kernel-$release

if [ -f "$target/.complete" ]; then
  echo "$target"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get download -q "$package") >"$work/download.log" 2>&1 ||
  fail "apt-get download $package failed: $(tail -n 1 "$work/download.log")"
deb=$(ls "$work"/*.deb)
mkdir -p "$cache"
rm -rf "$target.partial"
dpkg-deb -x "$deb" "$target.partial" || fail "dpkg-deb -x $deb failed"
[ -f "$target.partial/boot/vmlinuz-$release" ] && [ -d "$target.partial/lib/modules/$release" ] ||
  fail "$deb holds no boot/vmlinuz-$release and lib/modules/$release"
touch "$target.partial/.complete"
rm -rf "$target"
mv "$target.partial" "$target"
echo "$target"
