#!/usr/bin/env bash
# Runs a command on a virtual X screen of its own (1280 x 1024) under openbox, with the xcb platform:
# for Qt Test programs that drive the window with xdotool, the way a user's mouse and keyboard do.
#   on_xvfb.sh <command> [argument]...
# The command's status is the script's; 77 (skipped) when Xvfb, openbox or xdotool are missing or
# the screen does not start.
set -uo pipefail
(($#)) || { echo "usage: on_xvfb.sh <command> [argument]..."; exit 2; }

for tool in Xvfb openbox xdotool xprop; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (scripts/install-deps.sh installs it)"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

wait_for() {  # wait_for <seconds> <command...>
  local until=$((SECONDS + $1))
  shift
  while ((SECONDS < until)); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}

# Xvfb picks a free display itself and must answer before it counts (another server going away at
# that moment can take the display from under it).
started=""
for try in 1 2 3; do
  : >"$work/display"
  exec 5>"$work/display"
  Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb=$!
  exec 5>&-
  if wait_for 15 test -s "$work/display"; then
    export DISPLAY=":$(head -1 "$work/display")"
    if wait_for 10 sh -c 'xprop -root >/dev/null 2>&1'; then
      pids+=("$xvfb")
      started=yes
      break
    fi
  fi
  kill "$xvfb" 2>/dev/null
done
[ -n "$started" ] || { echo "SKIP: Xvfb did not start"; cat "$work/xvfb.log"; exit 77; }

# Openbox runs its start-up command once it manages the screen; a window mapped earlier may lose
# the focus to openbox's own start-up.
openbox --sm-disable --startup "touch $work/openbox-ready" >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_for 15 test -e "$work/openbox-ready" || { echo "SKIP: openbox did not start"; exit 77; }
sleep 0.5

mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
env -u QT_QPA_PLATFORM QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" "$@"
