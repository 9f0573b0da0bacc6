#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole system in the simulated
# home network (lab/netns-lab.md): the boot-up service and the FTP server
# service in the lab's pc, then quarno-server there on your display, or on a
# virtual one reachable by VNC on 127.0.0.1. While it runs, the terminal shows
# what the internet side sees of the share. Ctrl-C tears everything down.
#
#   scripts/run.sh [options]
#     --state DIR    the demo's state folder (default build/demo); settings,
#                    logs, the share and the DDNS server's table live on there
#     --registered   before the start, store a demo registration ("home",
#                    user demo) when the state folder has none, as if the
#                    program had registered earlier
#     --headless     a virtual screen (Xvfb + VNC) even when a display is set
#     --for SECONDS  end by itself after SECONDS; exit status 0 only when the
#                    internet side fetched a file
#     --no-build     use the programs already built in build/
#
# Needs root for the namespaces: it asks sudo for itself (after installing
# and building as you); the programs still run as you.
set -euo pipefail
start_dir=$(pwd)
cd "$(dirname "$0")/.."
repo=$(pwd)

state_dir=${QUARNO_DEMO_DIR:-$repo/build/demo}
registered=0 headless=0 run_for=0 build=1
pass=()  # the options again, for the run under sudo
while [ $# -gt 0 ]; do
  case $1 in
    --state) [ $# -ge 2 ] || { echo "run.sh: --state takes a folder" >&2; exit 2; }
             state_dir=$2; shift 2 ;;
    --registered) registered=1; pass+=("$1"); shift ;;
    --headless) headless=1; pass+=("$1"); shift ;;
    --for) run_for=${2:-}; pass+=("$1" "$run_for"); shift $(($# >= 2 ? 2 : 1)) ;;
    --no-build) build=0; shift ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
[[ $run_for =~ ^[0-9]+$ ]] || { echo "run.sh: --for takes seconds" >&2; exit 2; }
case $state_dir in /*) ;; *) state_dir=$start_dir/$state_dir ;; esac

programs=(quarno-server quarno-bootup-service quarno-ftpd quarno-lab-tool)
if [ "$build" = 1 ] && [ -z "${QUARNO_RUN_BUILT:-}" ]; then
  bash scripts/install-deps.sh
  bash scripts/build.sh normal "${programs[@]}"
fi
apps=$repo/build/apps
tool=$repo/build/tests/lab/service/quarno-lab-tool
for p in "$apps/quarno-server" "$apps/quarno-bootup-service" "$apps/quarno-ftpd" "$tool"; do
  [ -x "$p" ] || { echo "run.sh: $p is not built (scripts/build.sh normal)" >&2; exit 1; }
done

if [ "$(id -u)" -ne 0 ]; then
  # The display's cookie file and a Wayland socket are named relative to
  # things root does not share with you; pin them down before the switch.
  xauth=${XAUTHORITY:-$HOME/.Xauthority}
  wayland=${WAYLAND_DISPLAY:-}
  [ -n "$wayland" ] && [ "${wayland#/}" = "$wayland" ] && wayland=${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/$wayland
  echo "run.sh: the namespace lab needs root; asking sudo."
  exec sudo env QUARNO_RUN_BUILT=1 QUARNO_DEMO_DIR="$state_dir" \
    DISPLAY="${DISPLAY:-}" XAUTHORITY="$([ -f "$xauth" ] && echo "$xauth")" \
    WAYLAND_DISPLAY="$wayland" DBUS_SESSION_BUS_ADDRESS="${DBUS_SESSION_BUS_ADDRESS:-}" \
    QUARNO_BOOT_TIMINGS="${QUARNO_BOOT_TIMINGS:-}" QUARNO_LAB_ID="${QUARNO_LAB_ID:-}" \
    bash "$repo/scripts/run.sh" --no-build --state "$state_dir" "${pass[@]}"
fi

# ---- as root from here; the programs run as the person who started us ----
uid=${SUDO_UID:-0} gid=${SUDO_GID:-0}
user_opts=()
[ "$uid" -ne 0 ] && user_opts=(--reuid="$uid" --regid="$gid" --init-groups)
as_user=()
[ "$uid" -ne 0 ] && as_user=(setpriv "${user_opts[@]}")
# The programs this script keeps running end with it, even when it is killed
# and cannot clean up (the lab's own watcher then takes the namespaces down).
tied=(setpriv --pdeathsig TERM "${user_opts[@]}")
for t in ip nft miniupnpd curl python3; do
  command -v "$t" >/dev/null || { echo "run.sh: $t is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

lab_id=${QUARNO_LAB_ID:-run$$}
lab=("$repo/lab/netns-lab.sh" -i "$lab_id")
say() { printf '%s %s\n' "$(date +%H:%M:%S)" "$*"; }

# The demo's own folders: everything the programs write lands here.
"${as_user[@]}" mkdir -p "$state_dir"/{config,state,data,program,share,home,lab}
"${as_user[@]}" mkdir -p -m 0700 "$state_dir/run"
[ -n "$(ls -A "$state_dir/share")" ] ||
  echo "Quarno demo share: fetched from the internet side through the router." |
  "${as_user[@]}" tee "$state_dir/share/hello.txt" >/dev/null
demo_env=(
  HOME="$state_dir/home" XDG_CONFIG_HOME="$state_dir/config" XDG_STATE_HOME="$state_dir/state"
  XDG_DATA_HOME="$state_dir/data" XDG_RUNTIME_DIR="$state_dir/run"
  QUARNO_WRITABLE_FOLDER="$state_dir/program" QUARNO_SUPERVISOR=builtin
  PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8
)
[ -n "${QUARNO_BOOT_TIMINGS:-}" ] && demo_env+=(QUARNO_BOOT_TIMINGS="$QUARNO_BOOT_TIMINGS")
[ -n "${QUARNO_TRACE:-}" ] && demo_env+=(QUARNO_TRACE="$QUARNO_TRACE")
# A command in the pc, as the person, with the demo's folders only.
in_pc() { ip netns exec "$ns_pc" "${as_user[@]}" env -i "${demo_env[@]}" "$@"; }
in_pc_tied() { ip netns exec "$ns_pc" "${tied[@]}" env -i "${demo_env[@]}" "$@"; }
# The stored settings as the programs see them, read once per look.
settings=""
read_settings() { settings=$(in_pc "$tool" settings 2>/dev/null || true); }
setting() {  # name -> value ("" when missing)
  awk -v n="$1" '$1 == n { print substr($0, 19); exit }' <<<"$settings" | sed 's/^(none)$//'
}

pids=() xvfb_display="" xvfb_pid="" made_x11_dir=0 ns_pc="" lab_up=0 cleaned=0
cleanup() {
  [ "$cleaned" = 1 ] && return
  cleaned=1
  trap '' INT TERM HUP
  echo
  say "tearing down"
  local p
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  if [ "$lab_up" = 1 ]; then
    # The registration server's table outlives the lab, as the real one would.
    cp "/tmp/quarno-lab-$lab_id/ddns-state.json" "$state_dir/lab/" 2>/dev/null || true
    chown "$uid:$gid" "$state_dir/lab/ddns-state.json" 2>/dev/null || true
    "${lab[@]}" down || true
  fi
  for p in "${pids[@]}"; do
    for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$p" 2>/dev/null || break; sleep 0.2; done
    kill -KILL "$p" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  if [ -n "$xvfb_display" ]; then
    # A clean Xvfb removes these itself; one that had to be killed does not.
    if [ "$(cat "/tmp/.X$xvfb_display-lock" 2>/dev/null | tr -d ' \n')" = "$xvfb_pid" ]; then
      rm -f "/tmp/.X$xvfb_display-lock" "/tmp/.X11-unix/X$xvfb_display"
    fi
    [ "$made_x11_dir" = 1 ] && rmdir /tmp/.X11-unix 2>/dev/null || true
  fi
  if ip netns list | grep -q "^qlab-$lab_id-"; then
    say "WARNING: namespaces of lab $lab_id are still there"
  else
    say "done: lab $lab_id, its namespaces and every program of this run are gone"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

say "bringing the home-network lab up (lab $lab_id)"
envfile=$("${lab[@]}" up --watch $$)
lab_up=1
ns_pc=$(sed -n 's/^NS_PC=//p' "$envfile")
wan=$(sed -n 's/^ROUTER_WAN_IP=//p' "$envfile")
router_mac=$(sed -n 's/^ROUTER_MAC=//p' "$envfile")
suffix=$(sed -n 's/.*kDdnsDomainSuffix[^"]*"\([^"]*\)".*/\1/p' src/core/endpoints.h | head -1)
suffix=${suffix:-quarno.ralmek.co.kr}

read_settings
if [ "$registered" = 1 ] && [ -z "$(setting Quarno)" ]; then
  say "storing the demo registration (home, user demo)"
  in_pc "$tool" register home demo@example.org 2121 8080 demo demo1234 "$state_dir/share" >/dev/null
  python3 - "$state_dir/lab/ddns-state.json" "$router_mac" "home.$suffix" <<'EOF'
import json, sys
path, mac, domain = sys.argv[1:]
try:
    state = json.load(open(path))
except (OSError, ValueError):
    state = {}
state.setdefault("records", {})[mac] = {"domain": domain, "email": "demo@example.org",
                                        "ftp_port": "2121", "http_port": "8080"}
json.dump(state, open(path, "w"), indent=1)
EOF
  chown "$uid:$gid" "$state_dir/lab/ddns-state.json"
fi
if [ -f "$state_dir/lab/ddns-state.json" ]; then
  cp "$state_dir/lab/ddns-state.json" "/tmp/quarno-lab-$lab_id/ddns-state.json"
  "${lab[@]}" sim ddns
fi

say "starting the FTP server service and the boot-up service in the pc ($ns_pc)"
in_pc "$tool" start-services | sed 's/^/    /'

# ---- the screen ----
display_env=()
x_usable() {  # a local X display reaches the namespace through its socket file
  [[ ${DISPLAY:-} =~ ^(unix)?:([0-9]+)(\.[0-9]+)?$ ]] && [ -S "/tmp/.X11-unix/X${BASH_REMATCH[2]}" ]
}
if [ "$headless" = 0 ] && x_usable; then
  display_env=(DISPLAY="$DISPLAY")
  [ -n "${XAUTHORITY:-}" ] && display_env+=(XAUTHORITY="$XAUTHORITY")
  say "quarno-server shows its windows on your display $DISPLAY"
elif [ "$headless" = 0 ] && [ -n "${WAYLAND_DISPLAY:-}" ] &&
     { [ "${WAYLAND_DISPLAY#/}" != "$WAYLAND_DISPLAY" ] || WAYLAND_DISPLAY=${XDG_RUNTIME_DIR:-/run/user/$uid}/$WAYLAND_DISPLAY; } &&
     [ -S "$WAYLAND_DISPLAY" ]; then
  display_env=(WAYLAND_DISPLAY="$WAYLAND_DISPLAY" QT_QPA_PLATFORM=wayland)
  say "quarno-server shows its windows on your Wayland display"
else
  command -v Xvfb >/dev/null || { echo "run.sh: no display and no Xvfb (scripts/install-deps.sh)" >&2; exit 1; }
  [ -d /tmp/.X11-unix ] || made_x11_dir=1
  # Xvfb picks a free display number itself and writes it to descriptor 3.
  rm -f "$state_dir/run/xvfb.display"
  # Files this script fills belong to the person too.
  "${as_user[@]}" touch "$state_dir/run/xvfb.display" "$state_dir/program/Xvfb.log" "$state_dir/program/x11vnc.log"
  "${tied[@]}" env -i "${demo_env[@]}" Xvfb -displayfd 3 -nolisten tcp -noreset \
    -screen 0 1280x800x24 3>"$state_dir/run/xvfb.display" >"$state_dir/program/Xvfb.log" 2>&1 &
  xvfb_pid=$!
  pids+=("$xvfb_pid")
  for _ in $(seq 100); do
    xvfb_display=$(head -n 1 "$state_dir/run/xvfb.display" 2>/dev/null || true)
    [ -n "$xvfb_display" ] && break
    sleep 0.1
  done
  [[ $xvfb_display =~ ^[0-9]+$ ]] || { echo "run.sh: Xvfb did not start ($state_dir/program/Xvfb.log)" >&2; exit 1; }
  display_env=(DISPLAY=":$xvfb_display")
  say "no usable display here: quarno-server runs on a virtual screen (Xvfb :$xvfb_display)"
  if command -v x11vnc >/dev/null; then
    vnc_port=""
    for p in $(seq 5900 5999); do
      ss -Hltn "sport = :$p" | grep -q . || { vnc_port=$p; break; }
    done
    if [ -n "$vnc_port" ]; then
      # Loopback is shared by every user of the machine: a password of this
      # run keeps the others out (VNC uses its first 8 characters).
      vnc_password=$(od -An -N6 -tx1 /dev/urandom | tr -d ' \n' | cut -c1-8)
      "${as_user[@]}" env -i "${demo_env[@]}" x11vnc -storepasswd "$vnc_password" "$state_dir/run/vncpasswd" \
        >/dev/null 2>&1
      "${tied[@]}" env -i "${demo_env[@]}" x11vnc -display ":$xvfb_display" -localhost -noipv6 \
        -rfbport "$vnc_port" -rfbauth "$state_dir/run/vncpasswd" -forever -shared -nolookup -quiet -norc \
        >"$state_dir/program/x11vnc.log" 2>&1 &
      pids+=($!)
      say "see it with a VNC viewer at 127.0.0.1:$vnc_port, password $vnc_password (only this machine's loopback)."
      say "  from another machine: ssh -L $vnc_port:127.0.0.1:$vnc_port $(hostname), then a VNC viewer at localhost:$vnc_port"
    fi
  else
    say "x11vnc is not installed: the virtual screen cannot be watched"
  fi
fi

# The session bus (tray icon, notifications) when it is a socket file, which
# the namespace reaches too.
[[ ${DBUS_SESSION_BUS_ADDRESS:-} == unix:path=* ]] && [ ${#display_env[@]} -gt 0 ] && [ -z "$xvfb_display" ] &&
  display_env+=(DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS")
say "starting quarno-server in the pc"
in_pc_tied "${display_env[@]}" "$apps/quarno-server" > >(sed -u 's/^/    [quarno-server] /') 2>&1 &
server_pid=$!
pids+=("$server_pid")
server_running=1 server_started=$SECONDS server_announced=0

# ---- the internet side, until Ctrl-C (or --for) ----
interval=10 max_checks=720
[ "$run_for" -gt 0 ] && interval=3
deadline=$((SECONDS + run_for))
last="" fetched=0 checks=0 next_check=$SECONDS
watch_server() {
  if [ "$server_running" = 1 ] && [ "$server_announced" = 0 ] && [ $((SECONDS - server_started)) -ge 3 ] &&
    kill -0 "$server_pid" 2>/dev/null; then
    server_announced=1
    say "quarno-server runs in the pc (its log: $state_dir/program/Logs/Quarno_Server_log.txt)"
  fi
  if [ "$server_running" = 1 ] && ! kill -0 "$server_pid" 2>/dev/null; then
    local rc=0
    wait "$server_pid" || rc=$?
    server_running=0
    sleep 0.2  # its last lines first
    say "the window program (quarno-server) ended, exit status $rc; the lab and the internet-side view go on until Ctrl-C"
  fi
}
look_from_internet() {
  local name ftp http result rc=0 now
  read_settings
  name=$(setting Quarno) ftp=$(setting Ftp_Port) http=$(setting Http_Port)
  if [ -z "$name" ] || [ -z "$ftp" ] || [ -z "$http" ]; then
    now="internet side: no registration yet (register in the program's window)"
  else
    result=$(bash lab/internet-fetch.sh -i "$lab_id" -o "$state_dir/run" "$(setting Ftp_user)" \
               "$(setting Ftp_password)" "$ftp" "$http" "$(setting share_link)" 2>&1) || rc=$?
    [ $rc -eq 0 ] && fetched=1
    now="internet side: $name.$suffix through the router's WAN address $wan"$'\n'"$(sed 's/^/    /' <<<"$result")"
  fi
  # Only what changed; a steady state prints once.
  if [ "$now" != "$last" ]; then say "$now"; last=$now; fi
}
if [ "$run_for" -gt 0 ]; then say "running for $run_for s"; else say "running; Ctrl-C ends it and tears everything down"; fi
while [ "$run_for" -eq 0 ] || [ $SECONDS -lt $deadline ]; do
  watch_server
  if [ $checks -lt $max_checks ] && [ $SECONDS -ge $next_check ]; then
    checks=$((checks + 1))
    look_from_internet
    next_check=$((SECONDS + interval))
    [ $checks -eq $max_checks ] && say "internet side: stopped looking after $max_checks checks"
  fi
  sleep 1
done
if [ "$fetched" = 1 ]; then say "the internet side fetched a file of the share"; exit 0; fi
say "the internet side fetched nothing"
exit 1
