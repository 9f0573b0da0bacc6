#!/usr/bin/env bash
# quarno-server with a D-Bus StatusNotifierItem tray (no XEmbed tray host):
# a private session bus, a watcher that is also the host (sni_watcher.py), an
# X server for the windows. The window hidden to the tray comes back when the
# host clicks the item (Activate); SIGTERM then ends the program.
#   tray_sni.sh <source dir> <folder of quarno-server>
# Exit 77 (skipped) when Xvfb, dbus-daemon, xdotool or python3-dbus is missing.
set -u
src=$1
bin=$2
for tool in Xvfb dbus-daemon xdotool xprop; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (apt-get install xvfb dbus xdotool x11-utils)"
    exit 77
  fi
done
if ! /usr/bin/python3 -c 'import dbus, gi' 2>/dev/null; then
  echo "SKIP: python3-dbus or python3-gi is not installed"
  exit 77
fi

work=$(mktemp -d /tmp/quarno-tray-sni.XXXXXX)
. "$src/tests/integration/ui_qt/lab_peers.sh"
xpid="" bpid="" wpid="" qpid=""
cleanup() {
  [ -n "$qpid" ] && kill "$qpid" 2>/dev/null
  local ftpd
  ftpd=$(head -n1 "$work/runtime/quarno/Quarno_Server.pid" 2>/dev/null | cut -d' ' -f1)
  [ -n "$ftpd" ] && kill "$ftpd" 2>/dev/null
  for p in "$wpid" "$bpid" "$xpid"; do [ -n "$p" ] && kill "$p" 2>/dev/null; done
  lab_peers_stop
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- program output"; tail -n 30 "$work/out.txt" 2>/dev/null
  echo "--- watcher"; cat "$work/watcher.txt" "$work/items" 2>/dev/null
  exit 1
}
. "$src/tests/integration/ui_qt/x_screen.sh"
x_screen_start 141 190

dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/bus" >"$work/bus.log" 2>&1 &
bpid=$!
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
wait_for "the session bus" 20 test -S "$work/bus"
: >"$work/items"
/usr/bin/python3 "$src/tests/integration/ui_qt/sni_watcher.py" "$work/items" >"$work/watcher.txt" 2>&1 &
wpid=$!
wait_for "the watcher" 20 grep -q ready "$work/watcher.txt"

lab_peers_start "$src" "$work" >/dev/null || fail "lab simulators did not start"
unset QT_QPA_PLATFORM
"$bin/quarno-server" >"$work/out.txt" 2>&1 &
qpid=$!

item_registered() { grep -q StatusNotifierItem "$work/items"; }
program_ended() { ! kill -0 "$qpid" 2>/dev/null; }

wait_for "the main window" 90 main_shown
wait_for "the item at the watcher" 30 item_registered
echo "started: main window shown, item $(head -n1 "$work/items") registered"

for attempt in $(seq 1 30); do
  win=$(main_window) || break
  xdotool mousemove --window "$win" 515 18 click 1
  sleep 1
done
main_hidden || fail "the close button did not hide the window"
echo "hidden to the tray"

kill -USR1 "$wpid"
wait_for "the click's Activate" 10 grep -q activated "$work/items"
wait_for "the window after the click" 15 main_shown
echo "a click on the item (Activate) brought the window back"

kill -TERM "$qpid"
wait_for "the end after SIGTERM" 30 program_ended
wait "$qpid"
code=$?
qpid=""
[ "$code" -eq 0 ] || fail "exit code $code after SIGTERM"
echo "PASS"
