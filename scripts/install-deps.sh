#!/usr/bin/env bash
# Installs every Debian 12 package the build, the program and the tests need; skips what is present.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-gtk-platformtheme libgl-dev
  libisofs-dev libburn-dev
  libgtest-dev googletest libbenchmark-dev
  xorriso genisoimage p7zip-full hyperfine python3-pycdlib
  xvfb xauth xdg-utils python3 e2fsprogs strace
  dpkg-dev lintian appstream desktop-file-utils
  openbox xdotool x11-utils procps
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
