#!/usr/bin/env bash
# One end-to-end run of the Windows window under wine and Xvfb, through real input: start it, open
# an image through the file dialog, click the image's folder and Hide, close the window. The image
# must then hold the same bytes as a copy hidden by the Linux command line tool.
#   scripts/windows/e2e-window.sh DIST_FOLDER LINUX_CLI
# Screenshots of each step are left in $UMBRA_E2E_SHOTS when it is set.
set -euo pipefail
dist=$(cd "$1" && pwd)
cli=$2
work=$(mktemp -d /tmp/umbradisc-e2e.XXXXXX)
shots=${UMBRA_E2E_SHOTS:-}
mkdir -p "$work/src/Secret"
echo "the plan" >"$work/src/Secret/plan.txt"
xorriso -as mkisofs -J -R -V E2E -o "$work/linux.iso" "$work/src" 2>/dev/null
cp "$work/linux.iso" "$work/windows.iso"
"$cli" hide "$work/linux.iso" /Secret >/dev/null
cmp -s "$work/linux.iso" "$work/windows.iso" && { echo "e2e: the Linux hide changed nothing" >&2; exit 1; }

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null &
xvfb=$!
export DISPLAY=$display WINEPREFIX=$work/wine WINEDEBUG=-all LC_ALL=C.UTF-8
unset WINEPATH  # the program finds its DLLs beside it, as on a user's machine
export UMBRADISC_UPDATE_URL=http://127.0.0.1:9/umbradisc/version.htm
app=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
/usr/lib/wine/wine64 wineboot --init 2>/dev/null
shot() { [ -z "$shots" ] || { mkdir -p "$shots"; import -window root "$shots/$1.png"; }; }
# wait_for SECONDS COMMAND...: polls until the command succeeds; a loaded machine takes its time.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.3
  done
}
fail() { shot "failed"; echo "e2e: $*" >&2; exit 1; }
visible_windows() { xdotool search --onlyvisible --class '.' 2>/dev/null | sort; }
another_window() { [ -n "$(comm -13 <(echo "$1") <(visible_windows))" ]; }
holds_image() { [ -n "$(find /proc/[0-9]*/fd -lname "$work/windows.iso" 2>/dev/null | head -n 1 || true)" ]; }

/usr/lib/wine/wine64 "$dist/umbradisc.exe" &
app=$!
window=$(timeout 90 xdotool search --sync --onlyvisible --name '^Umbradisc$' | head -1)
[ -n "$window" ] || fail "the window did not show"
sleep 2
eval "$(xdotool getwindowgeometry --shell "$window")"
# The window is laid out in dialog units: 502 x 326 of them fill it.
click() {
  xdotool mousemove $((X + $1 * WIDTH / 502)) $((Y + $2 * HEIGHT / 326)) click 1
  sleep "${3:-1}"
}
shot 1-start
before_dialog=$(visible_windows)
click 285 38 0        # Open Image
wait_for 60 another_window "$before_dialog" || fail "the file dialog did not show"
sleep 1
shot 2-file-dialog
xdotool type --delay 20 "Z:${work//\//\\}\\windows.iso"
xdotool key Return
wait_for 60 holds_image || fail "the window did not open the image"
sleep 2
shot 3-open
# The image's root in the folder tree (its first item), then the folder's row: the list's first row,
# below its header.
xdotool mousemove $((X + 37 * WIDTH / 502 + 40)) $((Y + 85 * HEIGHT / 326 + 10)) click 1
sleep 2
shot 3b-root
xdotool mousemove $((X + 260 * WIDTH / 502)) $((Y + 85 * HEIGHT / 326 + 30)) click 1
sleep 1
click 345 38 0        # Hide
wait_for 30 cmp -s "$work/linux.iso" "$work/windows.iso" || fail "the image differs from the Linux command line tool's"
shot 4-hidden
click 491 10 0        # Close
wait_for 20 sh -c "! kill -0 $app" || fail "the window did not close"
shot 5-closed
app=""
if cmp "$work/linux.iso" "$work/windows.iso"; then
  echo "e2e: the window's hide gave the same bytes as the Linux command line tool"
else
  fail "the image differs from the Linux command line tool's after the window closed"
fi
