#!/usr/bin/env bash
# The home-network lab: a router, two PCs and a piece of "internet", each in
# its own network namespace, with the real miniupnpd doing UPnP port mapping
# (mappings become real nftables DNAT) and the project's simulators of the
# router's HTTP interface and of the DDNS registration server.
#
#   lab/netns-lab.sh [-i ID] up [--watch PID]   build the lab (prints the env file's path)
#   lab/netns-lab.sh [-i ID] down               tear it down (idempotent)
#   lab/netns-lab.sh [-i ID] exec ROLE CMD...   run CMD in router|pc|pc2|internet
#   lab/netns-lab.sh [-i ID] run CMD...         up, run CMD on the host with the
#                                               lab's variables exported, down
#   lab/netns-lab.sh [-i ID] sim router|ddns ARGS...
#                                               restart a simulator with ARGS
#                                               (its state file is kept)
#   lab/netns-lab.sh [-i ID] igd restart        the router's reboot as UPnP sees it:
#                                               miniupnpd stopped, its mappings
#                                               flushed, miniupnpd started again
#   lab/netns-lab.sh [-i ID] status             what runs, the router's mappings
#   lab/netns-lab.sh list                       every lab of this machine
#
# ID (default $QUARNO_LAB_ID, else "0") makes names unique, so labs of
# parallel runs never collide. QUARNO_LAB_WATCH=PID works as `up --watch PID`.
# Needs root (namespaces, nftables).
#
#         pc 198.18.10.10 ─┐                        ┌─ internet 192.0.3.1
#                          ├ br0 router 198.18.10.1 │  (client side; the
#        pc2 198.18.10.11 ─┘      wan0 192.0.3.2  ──┴─ DDNS simulator 192.0.3.53)
#
# Addresses: the LAN uses the benchmarking range 198.18.0.0/15 (no private
# range, so the programs never see a "home" address of the real network). The
# WAN must not be private or reserved at all, or miniupnpd refuses to map
# (it rejects every documentation and benchmarking range); 192.0.3.0/24 is
# used, an address that exists only inside these namespaces. The egress guard
# (nftables, every namespace) drops every packet not addressed to loopback or
# to these two subnets, and nothing links the namespaces to the host, so no
# packet of the lab ever reaches a real network.
#
# The DDNS simulator answers under the built-in DDNS host name: the pc
# namespaces get /etc/netns/<ns>/hosts, which `ip netns exec` (and this
# script's exec) puts in place of /etc/hosts.
#
# Every step of `up` that fails tears down what was made; `--watch PID` also
# tears the lab down once process PID is gone (a test that crashes leaves
# nothing behind).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
id=${QUARNO_LAB_ID:-0}

usage() { sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

while getopts "i:h" opt; do
  case $opt in
    i) id=$OPTARG ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || usage
cmd=$1; shift
[[ $id =~ ^[A-Za-z0-9_.-]{1,24}$ ]] || { echo "netns-lab: bad id '$id'" >&2; exit 2; }

prefix=qlab-$id
ns_router=$prefix-router
ns_pc=$prefix-pc
ns_pc2=$prefix-pc2
ns_internet=$prefix-internet
dir=/tmp/quarno-lab-$id

lan_net=198.18.10.0/24
router_lan=198.18.10.1
pc_ip=198.18.10.10
pc2_ip=198.18.10.11
wan_net=192.0.3.0/24
router_wan=192.0.3.2
internet_ip=192.0.3.1
ddns_ip=192.0.3.53
# A fixed, locally administered MAC: the DDNS record is keyed by it.
router_mac=${QUARNO_LAB_ROUTER_MAC:-02:00:00:12:AB:CD}
igd_port=5000
# The system interpreter: a wrapper (pyenv shim) would fork, and the pid kept
# for restarts would not be the simulator's.
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3)

# The DDNS server's built-in host name, from the code that uses it.
ddns_host() {
  if [ -n "${QUARNO_LAB_DDNS_HOST:-}" ]; then echo "$QUARNO_LAB_DDNS_HOST"; return; fi
  local h
  h=$(sed -n 's/.*kDdnsServerHost[^"]*"\([^"]*\)".*/\1/p' "$root/src/core/endpoints.h" 2>/dev/null | head -1)
  echo "${h:-ddns.quarno.invalid}"
}

die() { echo "netns-lab: $*" >&2; exit 1; }
need_root() { [ "$(id -u)" -eq 0 ] || die "needs root (network namespaces)"; }
role_ns() {
  case $1 in
    router) echo "$ns_router" ;; pc) echo "$ns_pc" ;; pc2) echo "$ns_pc2" ;;
    internet) echo "$ns_internet" ;; *) die "unknown role '$1' (router|pc|pc2|internet)" ;;
  esac
}
ns_up() { [ -e "/run/netns/$1" ]; }
# Only a process that runs inside the lab's namespace `ns` is ever signalled.
kill_in_ns() {  # ns pid [signal]
  [ -n "$2" ] && [ "$(ip netns identify "$2" 2>/dev/null)" = "$1" ] || return 0
  kill "${3:--TERM}" "$2" 2>/dev/null || true
}
in_ns() { local ns=$1; shift; ip netns exec "$ns" "$@"; }

guard() {  # ns, [forward]: egress guard of one namespace
  local rules="
table inet quarno_guard {
  chain output {
    type filter hook output priority -10; policy drop;
    oif \"lo\" accept
    ip daddr { $lan_net, $wan_net } accept
  }"
  if [ "${2:-}" = forward ]; then
    rules+="
  chain forward {
    type filter hook forward priority -10; policy drop;
    ip daddr { $lan_net, $wan_net } accept
  }"
  fi
  rules+="
}"
  in_ns "$1" nft -f - <<<"$rules"
}

router_nft() {
  # The chains miniupnpd fills (names given in its configuration below), a
  # forward policy that lets in only what a mapping allows, and masquerading
  # of the LAN towards the WAN.
  in_ns "$ns_router" nft -f - <<EOF
table inet quarno_igd {
  chain forward {
    type filter hook forward priority 0; policy drop;
    ct state established,related accept
    iifname "br0" oifname "wan0" accept
    # PCs of the LAN reach each other; with br_netfilter loaded on the host
    # their bridged packets pass this chain too.
    ip saddr $lan_net ip daddr $lan_net accept
    jump miniupnpd
  }
  chain miniupnpd {
  }
  chain prerouting {
    type nat hook prerouting priority -100; policy accept;
    jump prerouting_miniupnpd
  }
  chain postrouting {
    type nat hook postrouting priority 100; policy accept;
    jump postrouting_miniupnpd
    oifname "wan0" masquerade
  }
  chain prerouting_miniupnpd {
  }
  chain postrouting_miniupnpd {
  }
}
EOF
}

start_miniupnpd() {
  cat >"$dir/miniupnpd.conf" <<EOF
ext_ifname=wan0
listening_ip=br0
http_port=$igd_port
enable_natpmp=no
enable_upnp=yes
secure_mode=${QUARNO_LAB_UPNP_SECURE:-yes}
force_igd_desc_v1=yes
system_uptime=yes
notify_interval=600
upnp_table_name=quarno_igd
upnp_nat_table_name=quarno_igd
upnp_forward_chain=miniupnpd
upnp_nat_chain=prerouting_miniupnpd
upnp_nat_postrouting_chain=postrouting_miniupnpd
uuid=6c1a3f0e-5b2d-4e0a-9d1e-$(printf '%012x' $((RANDOM * 32768 + RANDOM)))
allow 1024-65535 $lan_net 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
EOF
  ip netns exec "$ns_router" miniupnpd -f "$dir/miniupnpd.conf" -d -P "$dir/miniupnpd.pid" \
    >>"$dir/miniupnpd.log" 2>&1 &
  echo $! >"$dir/miniupnpd.job"
  wait_tcp "$ns_pc" "$router_lan" "$igd_port" || die "miniupnpd did not come up (see $dir/miniupnpd.log)"
}

# A router reboot forgets every UPnP mapping: miniupnpd goes, the DNAT and
# filter rules it made go, and a fresh miniupnpd starts on the same port.
restart_igd() {
  local pid _
  pid=$(cat "$dir/miniupnpd.job" 2>/dev/null || true)
  kill_in_ns "$ns_router" "$pid"
  for _ in $(seq 50); do
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill_in_ns "$ns_router" "$pid" -KILL
  local chain
  for chain in miniupnpd prerouting_miniupnpd postrouting_miniupnpd; do
    in_ns "$ns_router" nft flush chain inet quarno_igd "$chain"
  done
  rm -f "$dir/miniupnpd.pid"
  start_miniupnpd
}

# The simulators of lab/ (router_sim.py, ddns_sim.py). Each keeps its state
# (and what it received) in $dir/<name>-state.json; extra arguments come from
# QUARNO_LAB_ROUTER_ARGS / QUARNO_LAB_DDNS_ARGS or from `sim NAME ARGS...`.
start_sim() {  # router|ddns [args...]
  local name=$1; shift
  local sim=$here/${name}_sim.py ns addr
  case $name in
    router) ns=$ns_router; addr=$router_lan ;;
    ddns) ns=$ns_internet; addr=$ddns_ip ;;
    *) die "unknown simulator '$name' (router|ddns)" ;;
  esac
  [ -f "$sim" ] || { echo "netns-lab: no $sim, $name simulator not started" >&2; return 0; }
  if [ -f "$dir/$name.pid" ]; then
    kill_in_ns "$ns" "$(cat "$dir/$name.pid")"
    local _; for _ in $(seq 50); do
      in_ns "$ns" bash -c "exec 3<>/dev/tcp/$addr/80" 2>/dev/null || break; sleep 0.1
    done
  fi
  ip netns exec "$ns" "$python" "$sim" --bind "$addr" --port 80 --state "$dir/$name-state.json" "$@" \
    >>"$dir/${name}_sim.log" 2>&1 &
  echo $! >"$dir/$name.pid"
  wait_tcp "$ns" "$addr" 80 || die "$name simulator did not come up (see $dir/${name}_sim.log)"
}

wait_tcp() {  # ns addr port: up to 5 s for a listener
  local _
  for _ in $(seq 50); do
    in_ns "$1" bash -c "exec 3<>/dev/tcp/$2/$3" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

write_env() {
  cat >"$dir/env" <<EOF
LAB_ID=$id
LAB_DIR=$dir
NS_ROUTER=$ns_router
NS_PC=$ns_pc
NS_PC2=$ns_pc2
NS_INTERNET=$ns_internet
ROUTER_LAN_IP=$router_lan
ROUTER_WAN_IP=$router_wan
ROUTER_MAC=$router_mac
PC_IP=$pc_ip
PC2_IP=$pc2_ip
INTERNET_IP=$internet_ip
DDNS_IP=$ddns_ip
DDNS_HOST=$1
IGD_URL=http://$router_lan:$igd_port/rootDesc.xml
EOF
}

hosts_for() {  # ns: the namespace's /etc/hosts and resolv.conf
  mkdir -p "/etc/netns/$1"
  printf '127.0.0.1\tlocalhost\n::1\tlocalhost\n%s\t%s\n%s\trouter\n%s\tinternet\n' \
    "$ddns_ip" "$2" "$router_lan" "$internet_ip" >"/etc/netns/$1/hosts"
  # No name server: every lookup stays in the hosts file.
  printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' >"/etc/netns/$1/resolv.conf"
}

do_up() {
  need_root
  local watch=${QUARNO_LAB_WATCH:-}
  while [ $# -gt 0 ]; do
    case $1 in
      --watch) watch=$2; shift 2 ;;
      *) die "up: unknown option $1" ;;
    esac
  done
  if ns_up "$ns_router"; then die "lab $id is already up (down it first)"; fi
  command -v miniupnpd >/dev/null || die "miniupnpd not installed (miniupnpd-nftables)"
  rm -rf "$dir"; mkdir -p "$dir"
  trap 'echo "netns-lab: up failed, tearing down" >&2; tail -n 5 "$dir"/*.log >&2 2>/dev/null
        do_down >/dev/null 2>&1' ERR EXIT

  local ns host
  host=$(ddns_host)
  for ns in "$ns_router" "$ns_pc" "$ns_pc2" "$ns_internet"; do
    ip netns add "$ns"
    ip -n "$ns" link set lo up
    if [ "$ns" = "$ns_router" ]; then guard "$ns" forward; else guard "$ns"; fi
  done
  hosts_for "$ns_pc" "$host"
  hosts_for "$ns_pc2" "$host"

  # LAN: a bridge in the router with one port per PC.
  ip -n "$ns_router" link add br0 address "$router_mac" type bridge
  ip link add lan0 netns "$ns_router" type veth peer name eth0 netns "$ns_pc"
  ip link add lan1 netns "$ns_router" type veth peer name eth0 netns "$ns_pc2"
  ip -n "$ns_router" link set lan0 master br0
  ip -n "$ns_router" link set lan1 master br0
  ip link add wan0 netns "$ns_router" type veth peer name eth0 netns "$ns_internet"
  ip -n "$ns_router" addr add "$router_lan/24" dev br0
  ip -n "$ns_router" addr add "$router_wan/24" dev wan0
  for ns in lan0 lan1 br0 wan0; do ip -n "$ns_router" link set "$ns" up; done
  ip -n "$ns_pc" addr add "$pc_ip/24" dev eth0
  ip -n "$ns_pc2" addr add "$pc2_ip/24" dev eth0
  ip -n "$ns_internet" addr add "$internet_ip/24" dev eth0
  ip -n "$ns_internet" addr add "$ddns_ip/24" dev eth0
  for ns in "$ns_pc" "$ns_pc2" "$ns_internet"; do ip -n "$ns" link set eth0 up; done
  ip -n "$ns_pc" route add default via "$router_lan"
  ip -n "$ns_pc2" route add default via "$router_lan"
  in_ns "$ns_router" sysctl -qw net.ipv4.ip_forward=1
  router_nft

  start_miniupnpd
  # shellcheck disable=SC2086
  start_sim router ${QUARNO_LAB_ROUTER_ARGS:-}
  # shellcheck disable=SC2086
  start_sim ddns ${QUARNO_LAB_DDNS_ARGS:-}
  write_env "$host"

  if [ -n "$watch" ]; then
    # Outlives this script; gone once the lab is downed by anybody else.
    setsid bash -c 'while kill -0 '"$watch"' 2>/dev/null; do
                      [ -d "'"$dir"'" ] || exit 0; sleep 0.5; done
                    "'"$0"'" -i "'"$id"'" down >/dev/null 2>&1' </dev/null >/dev/null 2>&1 &
  fi
  trap - ERR EXIT
  echo "$dir/env"
}

do_down() {
  need_root
  local ns pid
  for ns in "$ns_router" "$ns_pc" "$ns_pc2" "$ns_internet"; do
    if ns_up "$ns"; then
      # Whatever still runs inside the lab's own namespaces (programs under test).
      for pid in $(ip netns pids "$ns" 2>/dev/null); do kill_in_ns "$ns" "$pid"; done
    fi
  done
  sleep 0.2
  for ns in "$ns_router" "$ns_pc" "$ns_pc2" "$ns_internet"; do
    if ns_up "$ns"; then
      for pid in $(ip netns pids "$ns" 2>/dev/null); do kill_in_ns "$ns" "$pid" -KILL; done
      ip netns del "$ns" 2>/dev/null || true
    fi
    rm -rf "/etc/netns/$ns"
  done
  rmdir /etc/netns 2>/dev/null || true
  rm -rf "$dir"
}

do_status() {
  local ns
  for ns in "$ns_router" "$ns_pc" "$ns_pc2" "$ns_internet"; do
    if ns_up "$ns"; then
      echo "== $ns"
      ip -n "$ns" -br addr | grep -v '^lo'
      for pid in $(ip netns pids "$ns"); do
        printf '   %6s %s\n' "$pid" "$( (tr '\0' ' ' </proc/"$pid"/cmdline) 2>/dev/null | cut -c1-100)"
      done
    else
      echo "== $ns: not up"
    fi
  done
  if ns_up "$ns_router"; then
    echo "== port mappings (DNAT) on the router"
    in_ns "$ns_router" nft list chain inet quarno_igd prerouting_miniupnpd | grep dnat || echo "   none"
  fi
  [ -f "$dir/env" ] && echo "== env: $dir/env"
  return 0
}

do_exec() {
  [ $# -ge 2 ] || usage
  local ns
  ns=$(role_ns "$1"); shift
  exec ip netns exec "$ns" "$@"
}

do_run() {
  [ $# -ge 1 ] || usage
  local envfile rc=0
  trap 'do_down >/dev/null 2>&1' EXIT INT TERM HUP
  envfile=$(do_up)
  set -a
  # shellcheck source=/dev/null
  . "$envfile"
  set +a
  "$@" || rc=$?
  exit $rc
}

case $cmd in
  up) do_up "$@" ;;
  down) do_down ;;
  exec) do_exec "$@" ;;
  run) do_run "$@" ;;
  sim) [ $# -ge 1 ] || usage; ns_up "$ns_router" || die "lab $id is not up"; start_sim "$@" ;;
  igd) [ "${1:-}" = restart ] || usage; ns_up "$ns_router" || die "lab $id is not up"; restart_igd ;;
  status) do_status ;;
  list) ip netns list | sed -n 's/^qlab-\(.*\)-router.*/\1/p' ;;
  *) usage ;;
esac
