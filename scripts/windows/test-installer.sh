#!/usr/bin/env bash
# The installer's round trip under wine, in a fresh prefix:
#  1. a silent install (/S) into Program Files;
#  2. the installed umbradisc.exe started under Xvfb on an image: its window shows and it holds the
#     image open (a file descriptor on the image appears; wine keeps one per open handle);
#  3. the Start menu entry, the "Open with" registration and the recorded Version are there;
#  4. a silent uninstall, after which no file of the installation, no shortcut and no registry
#     value the installer wrote is left, while the .iso association another program made before
#     the install is there unchanged;
#  both the install and the uninstall tell Explorer that associations changed
#  (SHChangeNotify(SHCNE_ASSOCCHANGED), seen in wine's trace of shell32).
#   scripts/windows/test-installer.sh [--no-window] INSTALLER IMAGE
# --no-window leaves out step 2, for an installer of a folder without the window.
set -euo pipefail
window=yes
[ "${1:-}" = --no-window ] && { window=no; shift; }
installer=$(realpath "$1")
image=$(realpath "$2")
wine=/usr/lib/wine/wine64
WINEPREFIX=$(mktemp -d /tmp/umbradisc-wine-setup.XXXXXX)
export WINEPREFIX WINEDEBUG=-all LC_ALL=C.UTF-8
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
fail() { echo "test-installer.sh: $*" >&2; exit 1; }
$wine wineboot --init 2>/dev/null
/usr/lib/wine/wineserver -w
program_files="$WINEPREFIX/drive_c/Program Files/Umbradisc"
start_menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Umbradisc.lnk"
# Registry values the installer writes, looked up with wine's reg.exe (status 1: not there).
query() { $wine reg query "$1" ${2:+/v "$2"} 2>/dev/null | tr -d '\r'; }
present() { $wine reg query "$1" ${2:+/v "$2"} >/dev/null 2>&1; }

# notified LOG: whether shell32 was told that associations changed (SHCNE_ASSOCCHANGED, 0x08000000).
notified() { grep -q 'SHChangeNotify (0x08000000,' "$1"; }

echo "== an .iso association of another program, as Windows has one"
$wine reg add 'HKLM\Software\Classes\.iso' /ve /d Windows.IsoFile /f >/dev/null 2>&1
$wine reg add 'HKLM\Software\Classes\.iso' /v 'Content Type' /d application/x-iso9660-image /f >/dev/null 2>&1
$wine reg add 'HKLM\Software\Classes\.iso\OpenWithProgids' /v Windows.IsoFile /d '' /f >/dev/null 2>&1
iso_before=$($wine reg query 'HKLM\Software\Classes\.iso' /s 2>/dev/null | tr -d '\r')
grep -q Windows.IsoFile <<<"$iso_before" || fail "the .iso association to keep could not be made"

echo "== install"
before=$(cd "$WINEPREFIX/drive_c" && find . -type f | sort)
WINEDEBUG=trace+shell $wine "$installer" /S 2>"$WINEPREFIX/install-trace.log"
/usr/lib/wine/wineserver -w
notified "$WINEPREFIX/install-trace.log" || fail "the install does not tell Explorer that associations changed"
[ -f "$program_files/umbradisc.exe" ] || fail "no umbradisc.exe in Program Files after the install"
[ -f "$program_files/uninstall.exe" ] || fail "no uninstaller after the install"
[ -f "$start_menu" ] || fail "no Start menu entry"
query 'HKLM\Software\Classes\.iso\OpenWithProgids' Umbradisc.Image | grep -q Umbradisc.Image ||
  fail '.iso has no "Open with Umbradisc"'
query 'HKLM\Software\Classes\Umbradisc.Image\shell\open\command' | grep -qi 'umbradisc.exe" "%1"' ||
  fail "the open command is missing"
query 'HKLM\Software\KorvantisSoft\Umbradisc' Version | grep -q REG_DWORD || fail "no Version for the update check"
echo "   $(find "$program_files" -type f | wc -l) files installed; Start menu entry, Open with and Version present"

if [ "$window" = yes ]; then
  echo "== the installed window on an image"
  display=:$((90 + RANDOM % 100))
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null &
  xvfb_pid=$!
  export DISPLAY=$display
  sleep 2
  (cd /tmp && UMBRADISC_UPDATE_URL=http://127.0.0.1:9/none $wine "$program_files/umbradisc.exe" "Z:${image//\//\\}" \
    >/dev/null 2>&1 &)
  timeout 90 xdotool search --sync --onlyvisible --name '^Umbradisc$' >/dev/null || fail "the installed window did not show"
  held=no
  for _ in $(seq 60); do
    # find's own status is not asked (processes come and go while it reads /proc; pipefail is on).
    if [ -n "$(find /proc/[0-9]*/fd -lname "$image" 2>/dev/null | head -n 1 || true)" ]; then held=yes; break; fi
    sleep 1
  done
  [ "$held" = yes ] || fail "the installed window did not open $image"
  echo "   the window shows and holds $(basename "$image") open"
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  /usr/lib/wine/wineserver -w 2>/dev/null || true
fi

echo "== uninstall"
# The uninstaller copies itself to the temporary folder and runs from there, so wait for it.
WINEDEBUG=trace+shell $wine "$program_files/uninstall.exe" /S 2>"$WINEPREFIX/uninstall-trace.log"
for _ in $(seq 60); do [ -e "$program_files" ] || break; sleep 1; done
/usr/lib/wine/wineserver -w
notified "$WINEPREFIX/uninstall-trace.log" || fail "the uninstall does not tell Explorer that associations changed"
[ ! -e "$program_files" ] || fail "left behind: $(cd "$program_files" && find . | head)"
[ ! -e "$start_menu" ] || fail "the Start menu entry is left"
for key in 'HKLM\Software\Classes\Umbradisc.Image' 'HKLM\Software\Classes\Applications\umbradisc.exe' \
  'HKLM\Software\KorvantisSoft\Umbradisc' 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Umbradisc'; do
  ! present "$key" || fail "registry key left: $key"
done
! present 'HKLM\Software\Classes\.iso\OpenWithProgids' Umbradisc.Image || fail ".iso still offers Umbradisc"
iso_after=$($wine reg query 'HKLM\Software\Classes\.iso' /s 2>/dev/null | tr -d '\r')
[ "$iso_after" = "$iso_before" ] || fail "the .iso association changed:
$(diff <(echo "$iso_before") <(echo "$iso_after") || true)"
echo "   the .iso association made before the install is unchanged; both steps notified Explorer"
# Every file the install added is gone again; the uninstaller's own copy in the temporary folder is
# named and allowed (NSIS leaves it for the system to remove).
after=$(cd "$WINEPREFIX/drive_c" && find . -type f | sort)
added=$(comm -13 <(echo "$before") <(echo "$after") | grep -v '/Temp/~nsu' | grep -v '/Temp/Un_.*\.exe$' || true)
added=$(echo "$added" | grep -iv -e '^\./windows/' -e 'ntuser\|userdef\|/AppData/' || true)
[ -z "$added" ] || fail "files left after the uninstall: $added"
echo "   nothing of the installation is left"
