# Sourced by the desktop program's end-to-end scripts: a private XDG tree and
# the lab simulators on loopback, exported as the QUARNO_LAB_* peers of
# quarno-server. Every peer is on 127.0.0.0/8; nothing reaches a real network.
#   lab_peers_start <source dir> <work dir>;  ...;  lab_peers_stop
lab_sim() {  # <script> <address> <state file> [args...]: prints "port [ssdp]"
  local script=$1 address=$2 state=$3
  shift 3
  local fifo
  fifo=$(mktemp -u "$lab_work/sim.XXXXXX")
  mkfifo "$fifo"
  python3 "$lab_src/lab/$script" --address "$address" --port 0 --state-file "$state" "$@" \
    >"$fifo" 2>>"$lab_work/simulators.log" </dev/null &
  # Called inside $(...): the pid goes to a file, not to a variable of the caller.
  echo $! >>"$lab_work/simulators.pids"
  local line
  read -r -t 20 line <"$fifo" || { echo "no announcement from $script" >&2; return 1; }
  rm -f "$fifo"
  # LISTENING <address> <port> [ssdp=<port>]
  set -- $line ""
  local ssdp=${4:-}
  echo "$3 ${ssdp#ssdp=}"
}

lab_peers_start() {
  lab_src=$1
  lab_work=$2
  export XDG_CONFIG_HOME=$lab_work/config XDG_STATE_HOME=$lab_work/state
  export XDG_DATA_HOME=$lab_work/data XDG_RUNTIME_DIR=$lab_work/runtime
  export QUARNO_WRITABLE_FOLDER=$lab_work/program QUARNO_SUPERVISOR=builtin
  export QUARNO_FTPD_LISTEN=127.0.0.1
  mkdir -p "$XDG_CONFIG_HOME" "$XDG_STATE_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" \
    "$QUARNO_WRITABLE_FOLDER"
  chmod 700 "$XDG_RUNTIME_DIR"
  local router igd ddns files
  router=$(lab_sim router_sim.py 127.0.0.2 "$lab_work/router.json") || return 1
  igd=$(lab_sim igd_sim.py 127.0.0.2 "$lab_work/igd.json" --ssdp-port 0) || return 1
  ddns=$(lab_sim ddns_sim.py 127.0.0.3 "$lab_work/ddns.json") || return 1
  files=$(lab_sim download_sim.py 127.0.0.6 "$lab_work/files.json" --program-version 1.06) || return 1
  export QUARNO_LAB_GATEWAY=127.0.0.2 QUARNO_LAB_LOCAL_ADDRESS=127.0.0.1
  export QUARNO_LAB_ROUTER_MAC=00:08:9F:12:34:56
  export QUARNO_LAB_ROUTER_PORT=${router%% *} QUARNO_LAB_SSDP_PORT=${igd##* }
  export QUARNO_LAB_DDNS=127.0.0.3:${ddns%% *}
  export QUARNO_LAB_FIRMWARE=127.0.0.6:${files%% *} QUARNO_LAB_DOWNLOAD=127.0.0.6:${files%% *}
  export QUARNO_LAB_HTTP_LISTEN=127.0.0.1
}

lab_peers_stop() {
  local pid
  [ -f "$lab_work/simulators.pids" ] || return 0
  for pid in $(cat "$lab_work/simulators.pids"); do kill "$pid" 2>/dev/null || true; done
  for pid in $(cat "$lab_work/simulators.pids"); do
    while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
  done
  rm -f "$lab_work/simulators.pids"
}
