#!/usr/bin/env bash
# Installs every Debian 12 package the build, the program and the tests need; skips what is present.
# With --windows: the MinGW-w64 cross compilers and wine for the Windows build and its tests instead,
# with the host Qt tools, zip and the X tools the window's build, package and run under wine use,
# widl (wine64-tools) for the IMAPI doubles' type library and makensis (nsis) for the installer;
# with --wine32: 32-bit wine (i386 packages), which runs the 32-bit Windows build.
# Without an option it also fetches Debian's cloud kernel, unpacked and not installed, for the kernel
# end-to-end test (scripts/fetch-kernel.sh).
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
  qemu-system-x86 busybox-static
)
if [ "${1:-}" = --windows ]; then
  packages=(
    cmake ninja-build googletest xorriso genisoimage p7zip-full python3 python3-pycdlib e2fsprogs
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev xz-utils zip xvfb xauth xdotool imagemagick fonts-dejavu-core
    wine64-tools nsis
  )
fi
if [ "${1:-}" = --wine32 ]; then
  packages=(wine32:i386)
fi
sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  if [ "${1:-}" = --wine32 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ -z "${1:-}" ]; then
  "$(dirname "$0")/fetch-kernel.sh" >/dev/null ||
    echo "install-deps: no kernel for the kernel end-to-end test, which will be skipped" >&2
fi
