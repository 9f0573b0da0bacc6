#!/usr/bin/env bash
# quarno-server on a real X server with a tray host: start, hide to the tray
# with the window's close button, restore from the tray menu, end from the
# tray menu; then once more, ended by SIGTERM as a logout does. The program
# must end by its exit path each time (code 0, FTP daemon stopped). Peers are
# the lab simulators on loopback.
#   tray_smoke.sh <source dir> <folder of quarno-server>
# Exit 77 (skipped) when Xvfb, trayer or xdotool is missing.
set -u
src=$1
bin=$2
for tool in Xvfb trayer xdotool xprop python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (apt-get install xvfb trayer xdotool x11-utils)"
    exit 77
  fi
done

work=$(mktemp -d /tmp/quarno-tray-smoke.XXXXXX)
. "$src/tests/integration/ui_qt/lab_peers.sh"
xpid="" tpid="" qpid=""
cleanup() {
  [ -n "$qpid" ] && kill "$qpid" 2>/dev/null
  local ftpd
  ftpd=$(head -n1 "$work/runtime/quarno/Quarno_Server.pid" 2>/dev/null | cut -d' ' -f1)
  [ -n "$ftpd" ] && kill "$ftpd" 2>/dev/null
  [ -n "$tpid" ] && kill "$tpid" 2>/dev/null
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  lab_peers_stop
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- program output"; tail -n 30 "$work/out.txt" 2>/dev/null
  echo "--- log"; cat "$work/program/Logs/Quarno_Server_log.txt" 2>/dev/null
  exit 1
}
. "$src/tests/integration/ui_qt/x_screen.sh"
x_screen_start 90 140
trayer --edge bottom --align right --widthtype pixel --width 96 --heighttype pixel --height 28 \
  >"$work/trayer.log" 2>&1 &
tpid=$!
mkdir -p "$work"
lab_peers_start "$src" "$work" >/dev/null || fail "lab simulators did not start"
unset QT_QPA_PLATFORM
"$bin/quarno-server" >"$work/out.txt" 2>&1 &
qpid=$!

# The tray icon: the child the tray host embedded into its panel.
tray_icon_spot() {
  local panel line
  panel=$(xdotool search --name '^panel$' 2>/dev/null | head -n1) || return 1
  [ -n "$panel" ] || return 1
  line=$(xwininfo -id "$panel" -children 2>/dev/null | grep -E '^ +0x[0-9a-f]+ .*\+[0-9]+\+[0-9]+ +\+[0-9]+\+[0-9]+$' |
    grep -v ' 1x1+' | head -n1) || return 1
  [ -n "$line" ] || return 1
  # "... WxH+x+y  +X+Y": absolute corner and size
  local size abs w h x y
  size=$(echo "$line" | awk '{for (i = 2; i <= NF; i++) if ($i ~ /^[0-9]+x[0-9]+[+-]/) {print $i; exit}}')
  size=${size%%[+-]*}
  abs=$(echo "$line" | awk '{print $NF}')
  w=${size%x*} h=${size#*x}
  x=$(echo "$abs" | cut -d+ -f2) y=$(echo "$abs" | cut -d+ -f3)
  echo "$((x + w / 2)) $((y + h / 2))"
}
tray_present() { tray_icon_spot >/dev/null; }
# Right-clicks the tray icon and picks a menu entry by its mnemonic, until
# `check` holds (a loaded machine may open the menu late).
tray_menu() {
  local key=$1 check=$2 spot attempt
  for attempt in 1 2 3 4; do
    spot=$(tray_icon_spot) || fail "no tray icon"
    xdotool mousemove $spot
    sleep 0.3
    xdotool click 3
    sleep 2
    [ -n "${QUARNO_SMOKE_SHOTS:-}" ] && import -window root "$QUARNO_SMOKE_SHOTS/menu-$key-$attempt.png"
    xdotool key "$key"
    local end=$((SECONDS + 6))
    while [ $SECONDS -lt $end ]; do
      "$check" && return 0
      sleep 0.2
    done
    xdotool key Escape
  done
  return 1
}
program_ended() { ! kill -0 "$qpid" 2>/dev/null; }

wait_for "the main window" 90 main_shown
wait_for "the tray icon" 30 tray_present
echo "started: main window and tray icon shown"

# The window takes input once its start-up stage is over (it is dimmed
# while that runs): click until it hides.
for attempt in $(seq 1 30); do
  win=$(main_window) || break
  xdotool mousemove --window "$win" 515 18 click 1
  sleep 1
done
main_hidden || fail "the close button did not hide the window"
kill -0 "$qpid" 2>/dev/null || fail "the program ended when its window was closed"
echo "hidden to the tray"

tray_menu o main_shown || fail "the tray menu did not bring the window back"
echo "restored from the tray menu"

hide_main() {
  local attempt win
  for attempt in $(seq 1 10); do
    win=$(main_window) || return 0
    xdotool mousemove --window "$win" 515 18 click 1
    sleep 1
  done
  main_hidden
}
hide_main || fail "the close button did not hide the window again"
spot=$(tray_icon_spot) || fail "no tray icon"
xdotool mousemove $spot click 1
wait_for "the window after a single click on the icon" 15 main_shown
echo "restored by a single click on the icon"

ftpd=$(head -n1 "$work/runtime/quarno/Quarno_Server.pid" 2>/dev/null | cut -d' ' -f1)
tray_menu q program_ended || fail "the program did not end from the tray menu"
wait "$qpid"
code=$?
qpid=""
[ "$code" -eq 0 ] || fail "exit code $code"
if [ -n "$ftpd" ]; then
  end=$((SECONDS + 15))
  while kill -0 "$ftpd" 2>/dev/null; do
    [ $SECONDS -ge $end ] && fail "the FTP daemon was not stopped on exit"
    sleep 0.2
  done
fi
echo "ended from the tray menu by the exit path (code 0, FTP daemon stopped)"

# Logging out (SIGTERM) takes the same exit path.
"$bin/quarno-server" >"$work/out.txt" 2>&1 &
qpid=$!
wait_for "the main window again" 90 main_shown
ftpd_running() {
  ftpd=$(head -n1 "$work/runtime/quarno/Quarno_Server.pid" 2>/dev/null | cut -d' ' -f1)
  [ -n "$ftpd" ] && kill -0 "$ftpd" 2>/dev/null
}
wait_for "the FTP daemon" 30 ftpd_running
kill -TERM "$qpid"
wait_for "the end after SIGTERM" 30 program_ended
wait "$qpid"
code=$?
qpid=""
[ "$code" -eq 0 ] || fail "exit code $code after SIGTERM"
end=$((SECONDS + 15))
while kill -0 "$ftpd" 2>/dev/null; do
  [ $SECONDS -ge $end ] && fail "the FTP daemon was not stopped after SIGTERM"
  sleep 0.2
done
grep -q "종료 신호(15)를 받아" "$work/program/Logs/Quarno_Server_log.txt" ||
  fail "no log line for the stop request"
grep -q "서버를 멈추고 프로그램을 종료합니다." "$work/program/Logs/Quarno_Server_log.txt" ||
  fail "the exit path did not run"
echo "ended by SIGTERM through the exit path (code 0, FTP daemon stopped)"
echo "PASS"
