# Sourced by the X tray tests: a virtual screen of their own and a look at
# quarno-server's windows on it. The caller defines fail() and keeps $work.

# Polls `$@` every 0.2 s for up to $timeout seconds.
wait_for() {
  local what=$1 timeout=$2
  shift 2
  local end=$((SECONDS + timeout))
  until "$@"; do
    [ $SECONDS -ge $end ] && fail "timed out waiting for $what"
    sleep 0.2
  done
}

# x_screen_start FIRST LAST: Xvfb on the first free display number of the
# range (tests running side by side take different ranges); sets xpid and
# DISPLAY.
x_screen_start() {
  local n display=""
  for n in $(seq "$1" "$2"); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
  done
  [ -n "$display" ] || fail "no free X display number"
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 </dev/null &
  xpid=$!
  export DISPLAY=$display
  wait_for "the X server" 20 test -e "/tmp/.X11-unix/X${display#:}"
}

main_window() {
  local w
  for w in $(xdotool search --onlyvisible --name '^Quarno Server$' 2>/dev/null); do
    if xprop -id "$w" WM_WINDOW_ROLE 2>/dev/null | grep -q quarno-main; then
      echo "$w"
      return 0
    fi
  done
  return 1
}
main_shown() { main_window >/dev/null; }
main_hidden() { ! main_shown; }
