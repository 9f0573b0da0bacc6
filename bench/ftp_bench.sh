#!/usr/bin/env bash
# FTP throughput of quarno-ftpd next to vsftpd, both on loopback, each on its
# own high port, started and stopped by this script (never as system services).
# FTPS (explicit AUTH TLS, data in PROT P) beside plain: quarno-ftpd with the
# identity it makes at first start, vsftpd with a self-signed certificate of
# the same kind (ECDSA P-256).
#
#   bench/ftp_bench.sh [path/to/quarno-ftpd]
#
# Sizes (defaults are the full run): BIG_MB=1024 SESSIONS=200 SESSION_MB=10
# IDLE_SESSIONS=50 HUGE_ENTRIES=100000. Every transfer is bounded by MAX_TIME
# seconds (default 300).
#
# Memory is PSS (proportional set size, from /proc/<pid>/smaps_rollup): pages
# shared by several processes are split among them, so a forking server is
# not charged many times for the same pages. quarno-ftpd is one process;
# vsftpd is every vsftpd process on the machine (the listener and, per
# session, its forked pair), so run the benchmark where no other vsftpd runs.
set -euo pipefail
cd "$(dirname "$0")/.."
ftpd=${1:-build/apps/quarno-ftpd}
BIG_MB=${BIG_MB:-1024}
SESSIONS=${SESSIONS:-200}
SESSION_MB=${SESSION_MB:-10}
IDLE_SESSIONS=${IDLE_SESSIONS:-50}
MAX_TIME=${MAX_TIME:-300}
HUGE_ENTRIES=${HUGE_ENTRIES:-100000}
[ -x "$ftpd" ] || { echo "no quarno-ftpd at $ftpd (build it first)" >&2; exit 2; }
command -v openssl >/dev/null || { echo "openssl is not installed" >&2; exit 2; }
command -v vsftpd >/dev/null || [ -x /usr/sbin/vsftpd ] || { echo "vsftpd is not installed" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "vsftpd needs root to start; run as root" >&2; exit 2; }

work=$(mktemp -d /tmp/quarno-ftp-bench-XXXXXX)
q_pid=""; v_pid=""
cleanup() {
  [ -n "$q_pid" ] && kill "$q_pid" 2>/dev/null && wait "$q_pid" 2>/dev/null || true
  [ -n "$v_pid" ] && kill "$v_pid" 2>/dev/null && wait "$v_pid" 2>/dev/null || true
  [ -n "${BENCH_DEBUG:-}" ] && echo "kept $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
q_port=$(free_port); v_port=$(free_port); admin_port=$(free_port)

# The same data for both: files under <share>, served as /DISK_E/ by
# quarno-ftpd (through the home folder's link) and /pub/ by vsftpd.
data="$work/data"; mkdir -p "$data/pub"
truncate -s "${BIG_MB}M" "$data/pub/big.bin"
head -c "$((SESSION_MB << 20))" /dev/urandom > "$data/pub/session.bin"
head -c "$((BIG_MB << 20))" /dev/zero > "$work/upload.bin"
# Both servers read from a warm page cache; the first reader would pay for it otherwise.
cat "$data/pub/big.bin" "$data/pub/session.bin" "$work/upload.bin" > /dev/null
mkdir -p "$data/pub/huge"
python3 - "$data/pub/huge" "$HUGE_ENTRIES" <<'PY'
import os, sys
for i in range(int(sys.argv[2])):
    os.close(os.open('%s/entry-%07d' % (sys.argv[1], i), os.O_CREAT | os.O_WRONLY, 0o644))
PY
chown ftp "$data/pub"

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj /CN=127.0.0.1 -keyout "$work/vsftpd-key.pem" -out "$work/vsftpd-cert.pem" 2>/dev/null

# quarno-ftpd
mkdir -p "$work/q/program" "$work/q/state/quarno/zelhome" "$work/q/config" "$work/q/data" "$work/q/run"
home="$work/q/state/quarno/zelhome"
ln -s "$data/pub" "$home/DISK_E"
hash=$(printf pw | md5sum | cut -d' ' -f1)
perm() { printf '<Permission Dir="%s">' "$1"; local i=0
  for n in FileRead FileWrite FileDelete FileAppend DirCreate DirDelete DirList DirSubdirs IsHome AutoCreate; do
    printf '<Option Name="%s">%s</Option>' "$n" "${2:$i:1}"; i=$((i+1)); done; printf '</Permission>'; }
{
  printf '<FileZillaServer><Users><User Name="bench"><Option Name="Pass">%s</Option>' "$hash"
  printf '<Option Name="Enabled">1</Option><Permissions>'
  perm "$home" 0000001110; perm "$home/DISK_E" 1111111100
  printf '</Permissions></User></Users><Settings>'
  printf '<Item name="Serverports" type="string">%s</Item>' "$q_port"
  printf '<Item name="Admin port" type="numeric">%s</Item>' "$admin_port"
  # 0: the cap the programs use (512), as they send it.
  printf '<Item name="Maximum user count" type="numeric">0</Item>'
  printf '<Item name="Timeout" type="numeric">300</Item></Settings></FileZillaServer>'
} > "$work/q/program/FileZilla Server.xml"
XDG_CONFIG_HOME=$work/q/config XDG_STATE_HOME=$work/q/state XDG_DATA_HOME=$work/q/data \
XDG_RUNTIME_DIR=$work/q/run QUARNO_WRITABLE_FOLDER=$work/q/program QUARNO_FTPD_LISTEN=127.0.0.1 \
  "$ftpd" >/dev/null 2>&1 &
q_pid=$!

# vsftpd: anonymous login onto the same data, sendfile on, same limits.
cat > "$work/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$v_port
anonymous_enable=YES
no_anon_password=YES
anon_root=$data
anon_upload_enable=YES
write_enable=YES
local_enable=NO
pasv_enable=YES
pasv_address=127.0.0.1
max_clients=$((SESSIONS + IDLE_SESSIONS + 10))
max_per_ip=$((SESSIONS + IDLE_SESSIONS + 10))
use_sendfile=YES
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
idle_session_timeout=300
xferlog_enable=NO
secure_chroot_dir=/var/run/vsftpd/empty
background=NO
ssl_enable=YES
allow_anon_ssl=YES
force_anon_logins_ssl=NO
force_anon_data_ssl=NO
ssl_tlsv1=YES
ssl_sslv2=NO
ssl_sslv3=NO
# Its built-in list is one cipher that today's OpenSSL refuses.
ssl_ciphers=HIGH
# Data connections resume the control connection's session, as quarno-ftpd requires.
require_ssl_reuse=YES
rsa_cert_file=$work/vsftpd-cert.pem
rsa_private_key_file=$work/vsftpd-key.pem
CONF
mkdir -p /var/run/vsftpd/empty
/usr/sbin/vsftpd "$work/vsftpd.conf" >/dev/null 2>&1 &
v_pid=$!
sleep 1
kill -0 "$q_pid" 2>/dev/null || { echo "quarno-ftpd did not start" >&2; exit 1; }
kill -0 "$v_pid" 2>/dev/null || { echo "vsftpd did not start" >&2; exit 1; }

q_url="ftp://bench:pw@127.0.0.1:$q_port/DISK_E"
v_url="ftp://anonymous:x@127.0.0.1:$v_port/pub"

# MiB/s of one curl transfer; "fail" when it did not complete.
speed() {
  local out
  if out=$(curl -sS --max-time "$MAX_TIME" "$@" -w '%{speed_download} %{speed_upload}' 2>/dev/null); then
    awk '{ s = $1 > $2 ? $1 : $2; printf "%.0f MiB/s", s / 1048576 }' <<<"$out"
  else
    echo fail
  fi
}

many() {  # many URL [curl options]: total seconds for $SESSIONS parallel downloads, and how many completed intact
  local url=$1 dir=$work/many; shift; rm -rf "$dir"; mkdir -p "$dir"
  # $SESSIONS clients, each a curl of its own from an address of its own,
  # spread over eight /24 networks, as many clients come from many hosts:
  # quarno-ftpd bounds the connections not yet logged in per address and per
  # /24, and its passive listeners per address. (One curl running many
  # transfers at once, -Z, shares one TLS session cache among them, so its
  # data connections may bring another transfer's session: quarno-ftpd
  # refuses those, vsftpd's require_ssl_reuse only asks for a resumption.)
  local i t0 t1 pids=()
  t0=$(date +%s.%N)
  for i in $(seq 1 "$SESSIONS"); do
    curl -sS "$@" --max-time "$MAX_TIME" --interface "127.0.$((i % 8 + 1)).$((i / 8 + 1))" \
      -o "$dir/$i" "$url/session.bin" 2>>"$work/many.err" &
    pids+=($!)
  done
  wait "${pids[@]}" 2>/dev/null || true
  t1=$(date +%s.%N)
  [ -n "${BENCH_DEBUG:-}" ] && sort "$work/many.err" | uniq -c | sort -rn | head -5 >&2
  rm -f "$work/many.err"
  local ok=0 want; want=$(md5sum < "$data/pub/session.bin")
  for i in $(seq 1 "$SESSIONS"); do [ -f "$dir/$i" ] && [ "$(md5sum < "$dir/$i")" = "$want" ] && ok=$((ok+1)); done
  rm -rf "$dir"
  printf '%d/%d in %.2f s' "$ok" "$SESSIONS" "$(echo "$t1 - $t0" | bc)"
}

q_pids() { echo "$q_pid"; }
v_pids() { pgrep -x vsftpd || true; }

pss_kb() {  # summed PSS in KiB of the processes that "$1" lists
  local total=0 p kb
  for p in $("$1"); do
    kb=$(awk '/^Pss:/ {print $2}' /proc/"$p"/smaps_rollup 2>/dev/null || true)
    total=$((total + ${kb:-0}))
  done
  echo "$total"
}

idle_pss() {  # idle_pss PIDS PORT USER PASS [tls]: KiB per idle logged-in session
  local pids=$1 port=$2 user=$3 pass=$4 tls=${5:-} before after flag
  flag=$work/idle.$1$tls
  before=$(pss_kb "$pids")
  python3 - "$port" "$user" "$pass" "$IDLE_SESSIONS" "$flag" "$tls" <<'PY' &
import ftplib, ssl, sys, time, os
port, user, pw, n, flag, tls = int(sys.argv[1]), sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5], sys.argv[6]
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
ctx.check_hostname = False
ctx.verify_mode = ssl.CERT_NONE
conns = []
for i in range(n):
    f = ftplib.FTP_TLS(context=ctx, timeout=30) if tls else ftplib.FTP(timeout=30)
    f.connect('127.0.0.1', port)
    if tls:
        f.auth()
    f.login(user, pw)
    if tls:
        f.prot_p()
    conns.append(f)
open(flag, 'w').close()
time.sleep(4)
PY
  local helper=$!
  for _ in $(seq 1 150); do [ -f "$flag" ] && break; sleep 0.1; done
  sleep 0.5
  after=$(pss_kb "$pids")
  wait "$helper" 2>/dev/null || true
  awk -v a="$after" -v b="$before" -v n="$IDLE_SESSIONS" 'BEGIN { printf "%.1f", (a - b) / n }'
}

# Longest NOOP round trip of one session while another lists the huge
# folder: what a big listing costs everyone else. Bounded to 2000 NOOPs.
noop_during_list() {
  python3 - "$1" "$2" "$3" "$4" "$MAX_TIME" <<'PY' 2>/dev/null || echo fail
import ftplib, multiprocessing, sys, time
port, user, pw, folder, limit = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], float(sys.argv[5])
def login():
    f = ftplib.FTP(timeout=limit); f.connect('127.0.0.1', port); f.login(user, pw); return f
def lister(started, count):
    a = login(); started.set()
    lines = []
    a.retrlines('LIST ' + folder, lines.append)
    count.value = len(lines)
# The lister runs in a process of its own: a thread would share the
# interpreter lock with the timing loop and add its own delays.
b = login()
started, count = multiprocessing.Event(), multiprocessing.Value('i', 0)
p = multiprocessing.Process(target=lister, args=(started, count))
p.start(); started.wait(limit)
times = []
while p.is_alive() and len(times) < 2000:
    t0 = time.monotonic(); b.voidcmd('NOOP'); times.append(time.monotonic() - t0)
p.join(limit)
times.sort()
print('max %.1f / median %.2f ms' % (times[-1] * 1000, times[len(times) // 2] * 1000) if times else 'fail')
PY
}

echo "Loopback FTP benchmark: ${BIG_MB} MiB file, ${SESSIONS} x ${SESSION_MB} MiB sessions, ${IDLE_SESSIONS} idle sessions"
printf '%-34s %-22s %-22s\n' "" "quarno-ftpd" "vsftpd"
# Idle sessions first, while neither server has grown from the transfers.
printf '%-34s %-22s %-22s\n' "PSS per idle session" "$(idle_pss q_pids "$q_port" bench pw) KiB" "$(idle_pss v_pids "$v_port" anonymous x) KiB"
printf '%-34s %-22s %-22s\n' "PSS per idle TLS session" "$(idle_pss q_pids "$q_port" bench pw tls) KiB" "$(idle_pss v_pids "$v_port" anonymous x tls) KiB"
printf '%-34s %-22s %-22s\n' "RETR ${BIG_MB} MiB" "$(speed -o /dev/null "$q_url/big.bin")" "$(speed -o /dev/null "$v_url/big.bin")"
printf '%-34s %-22s %-22s\n' "STOR ${BIG_MB} MiB" "$(speed -T "$work/upload.bin" "$q_url/up.bin")" "$(speed -T "$work/upload.bin" "$v_url/up2.bin")"
rm -f "$data/pub/up.bin" "$data/pub/up2.bin"
# -k: both certificates are self-signed; the figures are of the transfer.
tls=(--ssl-reqd -k)
printf '%-34s %-22s %-22s\n' "FTPS RETR ${BIG_MB} MiB" "$(speed "${tls[@]}" -o /dev/null "$q_url/big.bin")" "$(speed "${tls[@]}" -o /dev/null "$v_url/big.bin")"
printf '%-34s %-22s %-22s\n' "FTPS STOR ${BIG_MB} MiB" "$(speed "${tls[@]}" -T "$work/upload.bin" "$q_url/up.bin")" "$(speed "${tls[@]}" -T "$work/upload.bin" "$v_url/up2.bin")"
rm -f "$data/pub/up.bin" "$data/pub/up2.bin"
printf '%-34s %-22s %-22s\n' "${SESSIONS} sessions x ${SESSION_MB} MiB RETR" "$(many "$q_url")" "$(many "$v_url")"
printf '%-34s %-22s %-22s\n' "${SESSIONS} TLS sessions x ${SESSION_MB} MiB" "$(many "$q_url" "${tls[@]}")" "$(many "$v_url" "${tls[@]}")"
printf '%-34s %-22s %-22s\n' "NOOP during ${HUGE_ENTRIES}-entry LIST" "$(noop_during_list "$q_port" bench pw /DISK_E/huge)" "$(noop_during_list "$v_port" anonymous x /pub/huge)"
printf '%-34s %-22s %-22s\n' "PSS of the server, idle" "$(pss_kb q_pids) KiB" "$(pss_kb v_pids) KiB"
