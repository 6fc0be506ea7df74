#!/usr/bin/env bash
# Runs the same umbradisc-cli commands with the Linux build and with the Windows build under wine, on
# the same xorriso and genisoimage images (names outside ASCII included), and fails unless standard
# output, standard error, exit status and the image bytes after every step are the same.
#   scripts/windows/compare-cli.sh LINUX_CLI WINDOWS_EXE [WINE_LOADER]
# WINEPREFIX and WINEDEBUG are taken from the caller; the prefix should exist already, since wine's
# first-start messages go to standard error.
set -euo pipefail
linux_cli=$(realpath "$1")
windows_exe=$(realpath "$2")
wine=${3:-/usr/lib/wine/wine64}
export WINEDEBUG=${WINEDEBUG:--all} LC_ALL=C.UTF-8

work=$(mktemp -d /tmp/umbradisc-compare.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The images: one tree made by both makers, then a copy under a name outside ASCII.
src=$work/images/src
mkdir -p "$src/Café/inner" "$src/Ωmega" "$src/Beta/inner/deep" "$src/alpha" "$src/empty"
echo note >"$src/Café/inner/note.txt"
echo omega >"$src/Ωmega/o.txt"
echo deep >"$src/Beta/inner/deep/d.txt"
echo alpha >"$src/alpha/a.txt"
echo readme >"$src/README"
xorriso -as mkisofs -quiet -J -input-charset utf-8 -V TESTVOL -o "$work/images/x.iso" "$src" 2>/dev/null
genisoimage -quiet -J -input-charset utf-8 -V TESTVOL -o "$work/images/g.iso" "$src"
cp "$work/images/x.iso" "$work/images/Ünï.iso"

# One command a line; IMG stands for x.iso, then for g.iso. Steps run in order on the same images.
steps=(
  "info IMG" "info --json IMG" "ls IMG" "ls -R IMG" "ls --json IMG /Café" "ls -R --json IMG" "ls IMG /Café"
  "ls IMG /nope" "ls IMG /alpha/a.txt" "hide IMG /Café /Ωmega" "ls -R --json IMG" "info --json IMG"
  "hide IMG /Beta /nope" "hide IMG /alpha/a.txt" "hide IMG /Beta/inner" "show IMG /Café"
  "show IMG /Ωmega /Beta/INNER" "ls -R IMG"
)
commands=()
for image in x.iso g.iso; do
  for step in "${steps[@]}"; do commands+=("${step//IMG/$image}"); done
done
commands+=("info Ünï.iso" "hide Ünï.iso /Café" "ls -R Ünï.iso" "info src" "hide src /alpha" "ls missing.iso")

# run SIDE PROGRAM...: every command in a fresh copy of the images, from that folder, with
# relative names, so that both sides see the same arguments and print the same paths.
run() {
  local side=$1
  shift
  rm -rf "$work/run"
  cp -r "$work/images" "$work/run"
  mkdir -p "$work/$side"
  local n=0
  (
    cd "$work/run"
    for command in "${commands[@]}"; do
      n=$((n + 1))
      read -ra args <<<"$command"
      status=0
      "$@" "${args[@]}" >"$work/$side/$n.out" 2>"$work/$side/$n.err" || status=$?
      echo "$status" >"$work/$side/$n.status"
      sha256sum ./*.iso >"$work/$side/$n.images"
    done
  )
}

run linux "$linux_cli"
run windows "$wine" "$windows_exe"

differences=0
n=0
for command in "${commands[@]}"; do
  n=$((n + 1))
  for part in status out err images; do
    if ! cmp -s "$work/linux/$n.$part" "$work/windows/$n.$part"; then
      differences=$((differences + 1))
      echo "step $n ($command): $part differs" >&2
      diff <(head -c 2000 "$work/linux/$n.$part") <(head -c 2000 "$work/windows/$n.$part") | head -20 >&2 || true
    fi
  done
done
echo "compare-cli: ${#commands[@]} commands, $differences differences ($(basename "$windows_exe") under $(basename "$wine"))"
[ "$differences" -eq 0 ]
