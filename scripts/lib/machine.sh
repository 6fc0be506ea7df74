# What the test scripts need of the machine, found out by trying it. Each probe either provides what
# is missing (and says so) or answers "no" with the reason in UMBRA_WHY_<NAME>, for the caller to skip
# the parts that need it with one line. Sourced by scripts/test.sh and scripts/windows/*.sh.

# say LINE: one line in the test log, marked as a fact about this machine.
say() { echo "== machine: $*"; }

# A writable home: caches (googletest for MinGW, the kernel for the guest tests) live under it.
provide_home() {
  if [ -z "${HOME:-}" ] || ! mkdir -p "$HOME/.cache" 2>/dev/null || [ ! -w "$HOME/.cache" ]; then
    export HOME=/tmp/umbradisc-home
    mkdir -p "$HOME/.cache"
    say "no writable home; using $HOME"
  fi
}

# A UTF-8 locale: the tests pass names outside ASCII through the command line and wine.
provide_utf8_locale() {
  if [ "$(LC_ALL=C.UTF-8 locale charmap 2>/dev/null)" = UTF-8 ]; then
    export LC_ALL=C.UTF-8
  else
    say "the C.UTF-8 locale is missing; names outside ASCII may print differently"
  fi
}

# The loopback interface: the update tests talk to a server on 127.0.0.1. A fresh network namespace
# has it down; root can bring it up.
loopback_works() {
  python3 - <<'PY' 2>/dev/null
import socket
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(1)
c = socket.create_connection(s.getsockname(), timeout=5); c.close()
PY
}
probe_loopback() {
  loopback_works && return 0
  if [ "$(id -u)" -eq 0 ] && command -v ip >/dev/null && ip link set lo up 2>/dev/null && loopback_works; then
    say "the loopback interface was down; brought it up"
    return 0
  fi
  UMBRA_WHY_LOOPBACK="no connection to 127.0.0.1 can be made here"
  return 1
}

# An X server for the end-to-end runs: Xvfb must start and answer.
probe_display() {
  if ! command -v Xvfb >/dev/null; then
    UMBRA_WHY_DISPLAY="Xvfb is not installed"
    return 1
  fi
  local out fd_file pid display=""
  fd_file=$(mktemp)
  Xvfb -displayfd 1 -screen 0 640x480x24 -nolisten tcp >"$fd_file" 2>/dev/null &
  pid=$!
  for _ in $(seq 50); do
    display=$(head -1 "$fd_file")
    [ -n "$display" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  out=no
  [ -n "$display" ] && DISPLAY=:$display xdpyinfo >/dev/null 2>&1 && out=yes
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  rm -f "$fd_file"
  [ "$out" = yes ] && return 0
  UMBRA_WHY_DISPLAY="Xvfb does not start or does not answer on this machine"
  return 1
}

# probe_windows_program COMPILER WINE: builds a tiny program with the MinGW compiler and runs it under
# that wine. Only a token the program prints counts: wine64 "runs" a 32-bit program silently with
# exit status 0, and a kernel without 32-bit support fails before wine says anything of its own.
probe_windows_program() {
  local compiler=$1 wine=$2 dir token=umbradisc-probe-$RANDOM out
  dir=$(mktemp -d /tmp/umbradisc-probe.XXXXXX)
  printf '#include <stdio.h>\nint main(void) { puts("%s"); return 0; }\n' "$token" >"$dir/probe.c"
  if ! "$compiler" -o "$dir/probe.exe" "$dir/probe.c" 2>"$dir/cc.log"; then
    UMBRA_WHY_WINE="$compiler cannot build a program: $(head -1 "$dir/cc.log")"
    rm -rf "$dir"
    return 1
  fi
  out=$(WINEPREFIX=$dir/prefix WINEDEBUG=-all timeout 300 "$wine" "$dir/probe.exe" 2>&1 | tr -d '\r')
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$dir"
  if grep -qx "$token" <<<"$out"; then return 0; fi
  # Status 126: the kernel refuses to start wine's own loader (no support for 32-bit programs); the
  # shell's attempt to read it as a script is no reason worth showing.
  local status=0
  "$wine" --version >/dev/null 2>&1 || status=$?
  if [ "$status" = 126 ]; then
    local kind
    kind=$(file -b "$wine" 2>/dev/null | cut -d, -f1 || true)
    UMBRA_WHY_WINE="this kernel cannot start $wine${kind:+ ($kind)}: Exec format error"
    return 1
  fi
  out=$(grep -v '^$' <<<"$out" | tail -1)
  UMBRA_WHY_WINE="a program built by $compiler does not run under $wine here (${out:-it printed nothing})"
  return 1
}
