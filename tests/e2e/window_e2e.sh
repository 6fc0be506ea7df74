#!/usr/bin/env bash
# The real program on a virtual X screen, driven with xdotool as a user would: once under openbox
# and once without a window manager. A loopback web server offers a newer version; the update box
# from the start-up check and the one from the update button are answered with keys; the home page
# hand-off goes to an xdg-open stand-in that records it. Also the first display (centred), the first
# drag by the body, resizing by the grip and an edge, maximising from the window menu, the next start
# where the window was left, Alt+Space with different buttons focused, and closing by the close button.
#   window_e2e.sh <umbradisc> [openbox|none]...
set -uo pipefail

program=${1:?usage: window_e2e.sh <umbradisc> [openbox|none]...}
shift
modes=("$@")
((${#modes[@]})) || modes=(openbox none)

for tool in Xvfb xdotool xprop xwininfo python3 openbox; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
passes=0
check() {  # check <description> <command...>
  local what=$1
  shift
  if "$@"; then
    passes=$((passes + 1))
    echo "  ok: $what"
  else
    failures=$((failures + 1))
    echo "  FAIL: $what"
  fi
}
# Polls a command for up to $1 seconds.
wait_for() {
  local seconds=$1
  shift
  local until=$((SECONDS + seconds))
  while ((SECONDS < until)); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}

# The web server: the version page holds a number far above any installed one.
mkdir -p "$work/www/umbradisc"
echo 99999 >"$work/www/umbradisc/version.htm"
python3 - "$work/www" "$work/port" >"$work/http.log" 2>&1 <<'EOF' &
import functools, http.server, sys
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])
server = http.server.HTTPServer(("127.0.0.1", 0), handler)
with open(sys.argv[2] + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
import os; os.rename(sys.argv[2] + ".tmp", sys.argv[2])
server.serve_forever()
EOF
pids+=($!)
wait_for 10 test -s "$work/port" || { echo "FAIL: the web server did not start"; exit 1; }
port=$(cat "$work/port")
home="http://127.0.0.1:$port/"

# Whatever the program asks the desktop to open lands in a file.
mkdir -p "$work/bin"
cat >"$work/bin/xdg-open" <<EOF
#!/bin/sh
echo "\$*" >>"$work/opened"
EOF
chmod +x "$work/bin/xdg-open"

# The home page was asked for exactly $1 times, and nothing else.
opened_is() {
  local lines=0 pages=0
  if [ -f "$work/opened" ]; then
    lines=$(wc -l <"$work/opened")
    pages=$(grep -cxF "$home" "$work/opened")
  fi
  [ "$lines" -eq "$1" ] && [ "$pages" -eq "$1" ]
}
visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null; }
window_of_pid() { xdotool search --onlyvisible --pid "$1" 2>/dev/null; }
position() { xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} END{print x" "y}'; }
at_position() { [ "$(position "$main")" = "$1" ]; }
size() { xwininfo -id "$1" | awk '/Width:/{w=$NF} /Height:/{h=$NF} END{print w" "h}'; }
override_redirect() { xwininfo -id "$1" 2>/dev/null | grep -q "Override Redirect State: yes"; }
# Dialog-unit point of the main window in screen pixels. The window's first size is its template's
# 502 x 326 units (base_w x base_h pixels, taken at the first start); what it gains moves the
# controls anchored to the right (r), the bottom (b) or both (rb), and none of the others.
at_units() {
  local x y w h px py
  read -r x y < <(position "$main")
  read -r w h < <(size "$main")
  px=$((x + base_w * $1 / 502)) py=$((y + base_h * $2 / 326))
  case "${3:-}" in
    r) px=$((px + w - base_w)) ;;
    b) py=$((py + h - base_h)) ;;
    rb) px=$((px + w - base_w)) py=$((py + h - base_h)) ;;
  esac
  echo "$px $py"
}
# Windows of the program other than the main window that are not pop-up menus.
other_windows() {
  local w
  for w in $(window_of_pid "$apppid"); do
    [ "$w" = "$main" ] && continue
    override_redirect "$w" || echo "$w"
  done
}
popups() {
  local w
  for w in $(window_of_pid "$apppid"); do override_redirect "$w" && echo "$w"; done
}
one_update_box() { box=$(visible '^Umbradisc update$' | head -1); [ -n "$box" ]; }
no_update_box() { [ -z "$(visible '^Umbradisc update$')" ]; }
focused_is() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
is_running() { kill -0 "$app" 2>/dev/null; }
is_gone() { ! kill -0 "$app" 2>/dev/null; }

# Starts the program with the given version page address and waits for its window. Without a
# second argument the window must open centred, as at a first start; with "X Y W H" it must open
# there, where the last run left it.
start_program() {
  mkdir -p "$work/runtime-$mode" && chmod 700 "$work/runtime-$mode"
  # No update settings file: the start-up check runs at every start, against 50410. The window's
  # place is kept in the user's settings, here a folder of this run.
  env -u QT_QPA_PLATFORM QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime-$mode" PATH="$work/bin:$PATH" \
    XDG_CONFIG_HOME="$work/config-$mode" UMBRADISC_SETTINGS="$work/settings-missing.ini" UMBRADISC_UPDATE_URL="$1" \
    timeout 120 "$program" >"$work/app-$mode.log" 2>&1 &
  app=$!
  pids+=($app)

  main=""
  wait_for 20 sh -c "xdotool search --onlyvisible --name '^Umbradisc\$' >/dev/null 2>&1"
  main=$(visible '^Umbradisc$' | head -1)
  if [ -z "$main" ]; then
    echo "  FAIL: the main window did not show"
    failures=$((failures + 1))
    cat "$work/app-$mode.log" "$work/xvfb-$mode.log"
    kill "$app" 2>/dev/null
    return 1
  fi
  apppid=$(xdotool getwindowpid "$main")  # the program itself, not the timeout around it
  local x y w h
  read -r x y < <(position "$main")
  read -r w h < <(size "$main")
  if [ -z "${2:-}" ]; then
    base_w=$w base_h=$h
    check "the window opens centred ($x,$y for ${w}x$h on 1280x1024)" \
      test "$x $y" = "$(((1280 - w) / 2)) $(((1024 - h) / 2))"
  else
    check "the window opens where it was left ($x $y $w $h, left at $2)" test "$x $y $w $h" = "$2"
  fi
}

size_is() { [ "$(size "$main")" = "$1" ]; }

# The corner grip and the edges resize the window; without a window manager the program follows
# the pointer itself. Under openbox the window menu maximises it and restores it.
resize_and_maximise() {
  local x y w h gx gy
  read -r x y < <(position "$main")
  read -r w h < <(size "$main")
  # The bottom-right corner: the grip.
  gx=$((x + w - 3)) gy=$((y + h - 3))
  xdotool mousemove "$gx" "$gy" mousedown 1
  sleep 0.2
  xdotool mousemove $((gx + 60)) $((gy + 40))
  sleep 0.1
  xdotool mousemove $((gx + 150)) $((gy + 100))
  sleep 0.3
  xdotool mouseup 1
  check "the corner grip makes the window larger" wait_for 5 size_is "$((w + 150)) $((h + 100))"
  # The left edge, from the skin beside the frame.
  read -r w h < <(size "$main")
  gx=$((x + 2)) gy=$((y + h / 2))
  xdotool mousemove "$gx" "$gy" mousedown 1
  sleep 0.2
  xdotool mousemove $((gx - 20)) "$gy"
  sleep 0.1
  xdotool mousemove $((gx - 50)) "$gy"
  sleep 0.3
  xdotool mouseup 1
  check "the left edge makes the window wider to the left" wait_for 5 at_position "$((x - 50)) $y"
  check "and only wider" wait_for 5 size_is "$((w + 50)) $h"
  if [ "$mode" = openbox ]; then
    # The window menu of a right click on the skin: Maximize (x), then Restore (r).
    read -r w h < <(size "$main")
    read -r gx gy < <(at_units 8 318 b)
    xdotool mousemove "$gx" "$gy" click 3
    sleep 0.5
    xdotool key x
    check "Maximize in the window menu maximises the window" wait_for 5 size_is "1280 1024"
    sleep 0.5
    read -r gx gy < <(at_units 8 318 b)
    xdotool mousemove "$gx" "$gy" click 3
    sleep 0.5
    xdotool key r
    check "Restore gives it its size again" wait_for 5 size_is "$w $h"
  fi
  read -r x y < <(position "$main")
  read -r w h < <(size "$main")
  left_at="$x $y $w $h"
}

close_program() {
  local gx gy
  # The close button ends the program.
  read -r gx gy < <(at_units 491 10 r)
  xdotool mousemove "$gx" "$gy" click 1
  check "the close button ends the program" wait_for 10 is_gone
  wait "$app"
  check "the program exits cleanly" test $? -eq 0
}

# A loopback address where nothing listens: the check finds no page and shows nothing.
refusing_url() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print("http://127.0.0.1:%d/umbradisc/version.htm" % s.getsockname()[1])'
}

first_drag_and_window_menu() {
  local x y gx gy focus_tabs
  # The first drag by the body follows the pointer exactly.
  read -r x y < <(position "$main")
  read -r gx gy < <(at_units 8 318 b)
  xdotool mousemove "$gx" "$gy" mousedown 1
  sleep 0.2
  xdotool mousemove $((gx + 40)) $((gy - 20))
  sleep 0.1
  xdotool mousemove $((gx + 100)) $((gy - 40))
  sleep 0.3
  xdotool mouseup 1
  check "the first drag follows the pointer" wait_for 5 at_position "$((x + 100)) $((y - 40))"

  # Alt+Space never presses a button: with Make Image focused at start, and with Burn CD focused;
  # without a window manager it opens the window menu (openbox keeps the key for its own menu).
  read -r gx gy < <(at_units 8 318 b)
  xdotool mousemove "$gx" "$gy" click 1
  sleep 0.3
  for focus_tabs in 0 4; do
    xdotool key --delay 50 $(for _ in $(seq "$focus_tabs"); do echo Tab; done) 2>/dev/null
    xdotool keydown alt keydown space
    sleep 0.1
    if [ "$focus_tabs" = 0 ]; then xdotool keyup space keyup alt; else xdotool keyup alt keyup space; fi
    sleep 0.5
    check "Alt+Space after $focus_tabs Tabs opens no dialog" test -z "$(other_windows)"
    if [ "$mode" = none ]; then
      check "Alt+Space after $focus_tabs Tabs opens the window menu" test -n "$(popups)"
    fi
    xdotool key Escape
    sleep 0.3
    check "Esc closes the menu, not the window" is_running
  done
}

# A second start with an image (a double-click on an .iso while the window runs) hands the image to
# the running window, which opens it and comes to the front; the second start ends at once.
hand_over() {
  local gx gy second status cli
  cli=$(dirname "$program")/umbradisc-cli
  mkdir -p "$work/handover-$mode/Secret"
  echo "the plan" >"$work/handover-$mode/Secret/plan.txt"
  xorriso -as mkisofs -quiet -J -R -V HANDOVER -o "$work/handover-$mode.iso" "$work/handover-$mode" 2>/dev/null
  if [ "$mode" = openbox ]; then
    xdotool windowminimize "$main"
    check "the window is minimized before the second start" wait_for 5 sh -c "! xdotool search --onlyvisible --name '^Umbradisc\$' | grep -qx $main"
  fi
  env -u QT_QPA_PLATFORM QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime-$mode" \
    timeout 20 "$program" "$work/handover-$mode.iso" >"$work/second-$mode.log" 2>&1 &
  second=$!
  check "the second start ends at once" wait_for 10 sh -c "! kill -0 $second 2>/dev/null"
  wait "$second"
  status=$?
  check "the second start ends with status 0 (was $status)" test "$status" -eq 0
  check "the second start opened no window of its own" test "$(visible '^Umbradisc$' | wc -l)" -le 1
  check "the running window shows again" wait_for 10 sh -c "xdotool search --onlyvisible --name '^Umbradisc\$' | grep -qx $main"
  if [ "$mode" = openbox ]; then
    check "the running window comes to the front" wait_for 10 sh -c "[ \"\$(xdotool getactivewindow 2>/dev/null)\" = $main ]"
  fi
  sleep 1
  # The image is open in the running window: its root in the tree, the folder's row, then Hide.
  read -r gx gy < <(at_units 60 89)
  xdotool mousemove "$gx" "$gy" click 1
  sleep 1
  read -r gx gy < <(at_units 260 97)
  xdotool mousemove "$gx" "$gy" click 1
  sleep 0.5
  read -r gx gy < <(at_units 345 38 r)
  xdotool mousemove "$gx" "$gy" click 1
  check "the handed-over image is the one the window works on (Secret hidden)" \
    wait_for 10 sh -c "'$cli' ls '$work/handover-$mode.iso' / | grep -q '^Hidden.*Secret'"
  check "no message box came up" test -z "$(other_windows)"
}

update_boxes() {
  local gx gy
  # The start-up check offers the newer version: the box stands over the window and takes the keys.
  check "the start-up check shows the update box" wait_for 30 one_update_box
  if [ -n "${box:-}" ]; then
    check "the box belongs to the main window" \
      sh -c "xprop -id $box WM_TRANSIENT_FOR | grep -qi '$(printf '0x%x' "$main")\$'"
    check "the box has the keyboard" wait_for 5 focused_is "$box"
    sleep 0.3  # the program takes the focus change before the key
    xdotool key y
    check "y answers it" wait_for 10 no_update_box
    check "Yes asks the desktop for the home page" wait_for 10 opened_is 1
    check "the program goes on" is_running
  fi

  # The update button asks again; Esc meant for the box answers No and leaves the window running.
  read -r gx gy < <(at_units 445 316 rb)
  xdotool mousemove "$gx" "$gy" click 1
  check "the update button shows the box" wait_for 30 one_update_box
  if [ -n "${box:-}" ]; then
    check "the box has the keyboard" wait_for 5 focused_is "$box"
    sleep 0.3
    xdotool key Escape
    check "Esc answers it" wait_for 10 no_update_box
    sleep 0.5
    check "No opens nothing" opened_is 1
    check "Esc went to the box, not to the window" is_running
  fi
}

run_mode() {
  local mode=$1
  echo "== $mode"
  rm -f "$work/opened"
  # Xvfb picks a free display itself; another server going away at that moment can take it from
  # under us, so the display must answer before it counts. Without a window manager the program is
  # the only client: -noreset keeps the server up between its two starts.
  local xvfb="" try
  for try in 1 2 3; do
    : >"$work/display"
    exec 5>"$work/display"
    Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp -noreset >"$work/xvfb-$mode.log" 2>&1 &
    xvfb=$!
    pids+=($xvfb)
    exec 5>&-
    if wait_for 15 test -s "$work/display"; then
      export DISPLAY=":$(head -1 "$work/display")"
      wait_for 10 sh -c 'xprop -root >/dev/null 2>&1' && break
    fi
    kill "$xvfb" 2>/dev/null
    xvfb=""
  done
  if [ -z "$xvfb" ]; then
    echo "  FAIL: Xvfb did not start"
    failures=$((failures + 1))
    return
  fi
  local wm=""
  if [ "$mode" = openbox ]; then
    # Openbox runs its start-up command once it manages the screen; a window mapped earlier may
    # lose the focus to openbox's own start-up.
    rm -f "$work/openbox-ready"
    openbox --sm-disable --startup "touch $work/openbox-ready" >"$work/openbox.log" 2>&1 &
    wm=$!
    pids+=($wm)
    if ! wait_for 15 test -e "$work/openbox-ready"; then
      echo "  FAIL: openbox did not start"
      failures=$((failures + 1))
      kill "$wm" "$xvfb" 2>/dev/null
      return
    fi
    sleep 0.5
  fi

  # First start, with nothing offered: the first drag after start-up and Alt+Space.
  echo " -- start without an update"
  left_at=""
  if start_program "$(refusing_url)"; then
    first_drag_and_window_menu
    hand_over
    resize_and_maximise
    close_program
  fi
  # Second start, with a newer version offered: the start-up box and the update button's box. The
  # window comes back where the first start left it.
  echo " -- start with a newer version offered"
  if start_program "${home}umbradisc/version.htm" "$left_at"; then
    update_boxes
    close_program
  fi

  kill "$app" 2>/dev/null
  [ -n "$wm" ] && kill "$wm" 2>/dev/null
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
}

for mode in "${modes[@]}"; do run_mode "$mode"; done
echo "$passes passed, $failures failed"
((failures == 0))
