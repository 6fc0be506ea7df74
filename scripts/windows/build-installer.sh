#!/usr/bin/env bash
# The Windows installer from the ready-to-run folder, with NSIS (Debian's makensis):
#   scripts/windows/build-installer.sh DIST_FOLDER OUTFILE
# The lists of files to install and to remove are made from the folder, so the uninstaller removes
# exactly what the installer put there. Exits 2 with a line saying why when makensis is missing or
# older than 3.06.
set -euo pipefail
cd "$(dirname "$0")/../.."
dist=$(realpath "$1")
out=$(realpath -m "$2")
command -v makensis >/dev/null || { echo "build-installer.sh: makensis not found (Debian package nsis)" >&2; exit 2; }
# Older versions of DeleteRegKey /ifempty delete a key that still holds values (the script refuses them too).
nsis=$(makensis -VERSION | sed 's/^v//; s/-.*//')
if [ "$(printf '%s\n' 3.06 "$nsis" | sort -V | head -n 1)" != 3.06 ]; then
  echo "build-installer.sh: NSIS $nsis is too old; the installer needs NSIS 3.06 or later" >&2
  exit 2
fi
version=$(sed -n 's/^project(Umbradisc VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# The number the update check assumes for this build is the one the installer records.
number=$(sed -n 's/.*kDefaultVersion = \([0-9]*\);.*/\1/p' update/UpdateSettings.h)
[ -n "$version" ] && [ -n "$number" ] || { echo "build-installer.sh: version not found" >&2; exit 1; }
lists=$(mktemp -d /tmp/umbradisc-nsis.XXXXXX)
trap 'rm -rf "$lists"' EXIT
winpath() { local p=${1//\//\\}; echo "$p"; }
(
  cd "$dist"
  while IFS= read -r dir; do
    echo "SetOutPath \"\$INSTDIR$(winpath "${dir#.}")\""
    find "$dir" -maxdepth 1 -type f | sort | while IFS= read -r file; do
      echo "File \"$dist/${file#./}\""
    done
  done < <(find . -type d | sort)
  echo "SetOutPath \"\$INSTDIR\""
) >"$lists/files.nsh"
(
  cd "$dist"
  find . -type f | sort | while IFS= read -r file; do echo "Delete \"\$INSTDIR$(winpath "${file#.}")\""; done
  # Deepest folders first; the folder itself last, in the script.
  find . -mindepth 1 -type d | sort -r | while IFS= read -r dir; do echo "RMDir \"\$INSTDIR$(winpath "${dir#.}")\""; done
) >"$lists/unfiles.nsh"
makensis -V2 -DSOURCE="$dist" -DFILES="$lists/files.nsh" -DUNFILES="$lists/unfiles.nsh" -DVERSION="$version" \
  -DVERSION_NUMBER="$number" -DOUTFILE="$out" packaging/windows/umbradisc.nsi
echo "   installer $out ($(stat -c %s "$out") bytes)"
