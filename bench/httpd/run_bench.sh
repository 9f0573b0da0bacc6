#!/usr/bin/env bash
# The HTTP server against nginx on the same files, measured with wrk on
# loopback: one 1 GiB file, 4 KiB files at 100 connections (closed after each
# answer, and kept alive), 64 KiB ranges, the 1 GiB file and 4 KiB keep-alive
# over HTTPS (nginx with a self-signed P-256 certificate, ours with the
# identity it makes, as an install does); then the ratios. Beside them: the
# memory an idle connection and 64 big folder listings cost, and the time of a
# GET beside idle, trickling and slow clients.
# Bounded: each wrk run lasts BENCH_SECONDS (default 8), twelve runs in all;
# every other load has a count and a time limit.
#   bash bench/httpd/run_bench.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/../.."
here=bench/httpd
build=${1:-build}
seconds=${BENCH_SECONDS:-8}
for tool in wrk nginx openssl python3 ss; do
  command -v $tool >/dev/null || [ -x /usr/sbin/$tool ] || { echo "missing $tool" >&2; exit 1; }
done
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
# Thousands of held connections on both sides of loopback.
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

# The flags of the normal build (scripts/build.sh), so the objects are shared
# with it and the figures are of the build that ships.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARNO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target httpd_bench_server >/dev/null
server_bin=$build/bench/httpd/httpd_bench_server

work=$(mktemp -d /tmp/quarno-httpd-bench-XXXXXX)
server_pid=""; nginx_pid=""; helper_pid=""
cleanup() {
  [ -n "$helper_pid" ] && kill "$helper_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The same tree for both: home folder with a share link, as in the product.
mkdir -p "$work/home" "$work/share/small" "$work/share/many" "$work/nginx" "$work/tls"
ln -s "$work/share" "$work/home/DISK_E"
truncate -s 1G "$work/share/big.bin"   # sparse: measures the servers, not the disk
# Read once, so neither server pays for filling the page cache the other reuses.
cat "$work/share/big.bin" > /dev/null
for i in $(seq 1 100); do head -c 4096 /dev/urandom > "$work/share/small/f$i.bin"; done
listing_entries=20000
python3 - "$work/share/many" "$listing_entries" <<'PY2'
import os, sys
for i in range(int(sys.argv[2])):
    os.close(os.open('%s/entry-%05d.txt' % (sys.argv[1], i), os.O_CREAT | os.O_WRONLY, 0o644))
PY2
chmod -R a+rX "$work"
# nginx's certificate is of the kind ours makes (self-signed ECDSA P-256), so
# both handshakes cost the same.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj /CN=127.0.0.1 -keyout "$work/nginx/key.pem" -out "$work/nginx/cert.pem" 2>/dev/null

port_of() { python3 -c 'import socket;s=socket.socket();s.bind(("127.0.0.1",0));print(s.getsockname()[1])'; }
ours_port=$(port_of); nginx_port=$(port_of); nginx_tls_port=$(port_of)

mkfifo "$work/server-stdin"
"$server_bin" "$ours_port" "$work/home" "$work/tls" < "$work/server-stdin" > "$work/server.out" &
server_pid=$!
exec 3>"$work/server-stdin"   # closing it stops the server

cat > "$work/nginx/nginx.conf" <<CONF
worker_processes 2;
worker_rlimit_nofile 8192;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$nginx_port;
    listen 127.0.0.1:$nginx_tls_port ssl;
    ssl_certificate $work/nginx/cert.pem;
    ssl_certificate_key $work/nginx/key.pem;
    root $work/home;
    autoindex on;
    location /httpstream/ { rewrite ^/httpstream/[^/]*(/.*)\$ \$1 break; }
  }
}
CONF
"$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" &
nginx_pid=$!

stream=httpstream/tok/DISK_E
for i in $(seq 1 50); do
  grep -q ready "$work/server.out" 2>/dev/null && curl -s -o /dev/null "http://127.0.0.1:$nginx_port/" &&
    curl -sk -o /dev/null "https://127.0.0.1:$nginx_tls_port/" && break
  sleep 0.1
done
grep -q ready "$work/server.out" || { echo "our server did not start" >&2; exit 1; }
# One answer each way first: the TLS identity, the threads and the listing
# code are in place before anything is counted.
for url in "http://127.0.0.1:$ours_port/$stream/small/f1.bin" "https://127.0.0.1:$ours_port/$stream/small/f1.bin" \
           "http://127.0.0.1:$nginx_port/$stream/small/f1.bin" "https://127.0.0.1:$nginx_tls_port/$stream/small/f1.bin"; do
  code=$(curl -sk -o /dev/null -w '%{http_code}' --max-time 10 "$url" || true)
  [ "$code" = 200 ] || { echo "warm-up GET $url answered ${code:-nothing}" >&2; exit 1; }
done

# --- Memory: on servers that have done nothing else yet, so earlier peaks
# freed into the heap do not hide what a connection costs.
pids_of() {  # server -> its processes
  if [ "$1" = quarno ]; then echo "$server_pid"; else echo "$nginx_pid"; pgrep -P "$nginx_pid" || true; fi
}
kib_of() {  # field (VmRSS, VmHWM) server -> KiB summed over its processes
  local total=0 p kb
  for p in $(pids_of "$2"); do
    kb=$(awk -v f="$1:" '$1 == f {print $2}' /proc/"$p"/status 2>/dev/null || true)
    total=$((total + ${kb:-0}))
  done
  echo "$total"
}
port_for() { if [ "$1" = quarno ]; then echo "$ours_port"; else echo "$nginx_port"; fi; }

# `hold PORT SECONDS MODE ADDRESS:COUNT...`: starts hold_conns.py and waits until every
# connection was tried; the helper's pid is in helper_pid.
hold() {
  rm -f "$work/hold.ready"
  python3 "$here/hold_conns.py" "$1" "$work/hold.ready" "${@:2}" &
  helper_pid=$!
  local i
  for i in $(seq 1 300); do [ -s "$work/hold.ready" ] && break; sleep 0.1; done
}
unhold() {
  [ -n "$helper_pid" ] && kill "$helper_pid" 2>/dev/null || true
  wait "$helper_pid" 2>/dev/null || true
  helper_pid=""
}
# Client-side connections to PORT from NET that the server still keeps.
held_count() { ss -Htn state established "( dport = :$1 and src $2 )" | wc -l; }

idle_n=1000
declare -A memory
idle_cost() {  # server -> KiB per idle connection
  # 125 from each of eight /24 networks: under the per-address and per-network
  # caps, so every connection is admitted and held.
  local port before after specs=() k
  port=$(port_for "$1")
  for k in $(seq 0 7); do specs+=("127.0.$((20 + k)).1:$((idle_n / 8))"); done
  before=$(kib_of VmRSS "$1")
  hold "$port" 8 idle "${specs[@]}"
  sleep 1   # the server accepts what the kernel queued
  after=$(kib_of VmRSS "$1")
  local held=0
  for k in $(seq 0 7); do held=$((held + $(held_count "$port" "127.0.$((20 + k)).0/24"))); done
  unhold
  awk -v a="$after" -v b="$before" -v n="$idle_n" -v h="$held" \
    'BEGIN { printf "%.1f KiB (%d held, %s opened)", (a - b) / n, h, n }'
}
listing_cost() {  # server -> MiB the peak RSS rose by during 64 concurrent listings
  local port before peak p args=() i t0 t1 ok
  port=$(port_for "$1")
  local url="http://127.0.0.1:$port/$stream/many/"
  # Both list the whole folder, or the figure is of something else.
  ok=$(curl -s --max-time 60 "$url" | grep -o 'entry-[0-9]*\.txt' | sort -u | wc -l)
  for p in $(pids_of "$1"); do echo 5 > /proc/"$p"/clear_refs; done   # peak := now
  before=$(kib_of VmRSS "$1")
  for i in $(seq 1 64); do
    args+=(-s --max-time 120 -o /dev/null -w '%{http_code}\n' "$url")
    [ "$i" -lt 64 ] && args+=(--next)
  done
  t0=$(date +%s.%N)
  local codes; codes=$(curl -Z --parallel-max 64 --parallel-immediate "${args[@]}" 2>/dev/null || true)
  t1=$(date +%s.%N)
  peak=$(kib_of VmHWM "$1")
  awk -v a="$peak" -v b="$before" -v ok="$ok" -v n="$(grep -c '^200$' <<<"$codes")" -v t="$(echo "$t1 - $t0" | bc)" \
    'BEGIN { printf "%.1f MiB (%d x 200 in %.1f s; %d entries listed)", (a - b) / 1024, n, t, ok }'
}
for server in quarno nginx; do
  memory[$server-idle]=$(idle_cost $server)
  memory[$server-listing]=$(listing_cost $server)
done

declare -A result
measure() {  # key url threads connections script label [wrk options]
  local out args=()
  [ -n "$5" ] && args+=(-s "$here/$5")
  args+=("${@:7}")
  # A failed run prints its reason in the row instead of ending the bench.
  out=$(timeout $((seconds + 30)) wrk -t"$3" -c"$4" -d"${seconds}s" --timeout 20s "${args[@]}" "$2" 2>&1) ||
    out="$out
Socket errors: wrk ended with $?; $(kill -0 "$server_pid" 2>/dev/null || echo 'our server is gone')"
  local rps tps bytes errors
  rps=$(awk '/Requests\/sec/ {print $2}' <<<"$out")
  tps=$(awk '/Transfer\/sec/ {print $2}' <<<"$out")
  bytes=$(awk '/Transfer\/sec/ {v=$2; u=substr(v, length(v)-1); n=v+0;
    if (u=="GB") n*=1073741824; else if (u=="MB") n*=1048576; else if (u=="KB") n*=1024;
    printf "%.0f", n}' <<<"$out")
  errors=$(awk '/Non-2xx|Socket errors/ {$1=$1; printf "%s; ", $0}' <<<"$out")
  result[$1]="${rps:-0} ${bytes:-0}"
  printf '%-34s %12s req/s %12s/s  %s\n' "$1: $6" "${rps:-?}" "${tps:-?}" "${errors}"
}

echo "wrk ${seconds}s per run, loopback; quarno-httpd (own Asio + Beast engine, product options) vs nginx (2 workers, sendfile)"
# Each figure is taken for both servers back to back, so the load others put
# on the machine moves both sides of a ratio alike.
each() {  # key path threads connections script label wrk-options...; http or https by key
  local server port base
  for server in quarno nginx; do
    port=$ours_port
    [ $server = nginx ] && { port=$nginx_port; [[ $1 == tls-* ]] && port=$nginx_tls_port; }
    base="http://127.0.0.1:$port/$stream"; [[ $1 == tls-* ]] && base="https://127.0.0.1:$port/$stream"
    measure "$server-$1" "$base/$2" "${@:3}"
  done
}
each big big.bin 1 1 "" "1 GiB file, 1 connection" -H "Connection: close"
each close small/ 2 100 small.lua "4 KiB, 100 conns, close" -H "Connection: close"
each ranges big.bin 2 10 range.lua "64 KiB ranges, 10 conns" -H "Connection: close"
each keep small/ 2 100 small.lua "4 KiB, 100 conns, keep-alive" -H "Connection: keep-alive"
each tls-big big.bin 1 1 "" "HTTPS 1 GiB file, 1 connection" -H "Connection: close"
each tls-keep small/ 2 100 small.lua "HTTPS 4 KiB, 100 conns, keep-alive" -H "Connection: keep-alive"

# Starvation: 200, then 400 (more than one address may hold), connections
# from 127.0.0.2 that never send a byte, then one GET from 127.0.0.3; and 10
# downloads at 1 MB/s, then an 11th client.
base="http://127.0.0.1:$ours_port/$stream"
beside_idle() {  # count -> seconds of the GET
  hold "$ours_port" 40 idle "127.0.0.2:$1" >/dev/null
  curl -s -o /dev/null -w '%{time_total}' --interface 127.0.0.3 --max-time 35 "$base/small/f1.bin" || echo "no answer"
  unhold
}
idle_time=$(beside_idle 200)
crowd_time=$(beside_idle 400)
slow_pids=()
for i in $(seq 1 10); do
  curl -s -o /dev/null --limit-rate 1M --max-time 10 "$base/big.bin" & slow_pids+=($!)
done
sleep 1
slow_time=$(curl -s -o /dev/null -w '%{time_total}' --max-time 20 "$base/small/f2.bin" || echo "no answer")
kill "${slow_pids[@]}" 2>/dev/null || true
wait "${slow_pids[@]}" 2>/dev/null || true

# Hostile load: 2,000 connections from 64 addresses of one /24 (127.0.1.1-64),
# half of them silent, half trickling a head that never ends; then five GETs
# from a fresh address in another network. Bounded: 20 s of holding.
hostile_n=2000
hostile() {  # server -> "median / max ms of 5 GETs (held H)"
  local port specs=() a i times=() t held
  port=$(port_for "$1")
  for a in $(seq 1 64); do specs+=("127.0.1.$a:$(( hostile_n / 64 + (a <= hostile_n % 64 ? 1 : 0) ))"); done
  hold "$port" 20 trickle "${specs[@]}"
  sleep 1
  for i in 1 2 3 4 5; do
    t=$(curl -s -o /dev/null -w '%{time_total}' --interface 127.0.0.200 --max-time 10 \
      "http://127.0.0.1:$port/$stream/small/f$i.bin" || echo 10)
    times+=("$t"); sleep 0.2
  done
  held=$(held_count "$port" 127.0.1.0/24)
  unhold
  printf '%s\n' "${times[@]}" | sort -g | awk -v h="$held" -v n="$hostile_n" -v o="$(cat "$work/hold.ready" 2>/dev/null)" \
    '{ v[NR] = $1 * 1000 } END { printf "median %.1f / max %.1f ms (%d of %d still held; %s)", v[3], v[5], h, n, o }'
}
hostile_ours=$(hostile quarno)
hostile_nginx=$(hostile nginx)
exec 3>&-

ratio() {  # label key field(1 req/s, 2 bytes/s) anchor
  local ours theirs
  ours=$(cut -d' ' -f"$3" <<<"${result[quarno-$2]}")
  theirs=$(cut -d' ' -f"$3" <<<"${result[nginx-$2]}")
  awk -v o="$ours" -v t="$theirs" -v l="$1" -v a="$4" \
    'BEGIN { r = t > 0 ? o / t : 0; printf "%-32s %6.2fx nginx   (target >= %s)\n", l, r, a }'
}
echo "ratios (quarno / nginx):"
ratio "1 GiB file, bytes/s" big 2 1.0
ratio "4 KiB close, req/s" close 1 1.0
ratio "64 KiB ranges, req/s" ranges 1 0.9
ratio "4 KiB keep-alive, req/s" keep 1 1.0
ratio "HTTPS 1 GiB file, bytes/s" tls-big 2 0.8
ratio "HTTPS 4 KiB keep-alive, req/s" tls-keep 1 0.8
printf '%-32s %6s s           (target <= 2 s)\n' "GET beside 200 idle conns" "$idle_time"
printf '%-32s %6s s           (target <= 2 s; one address gets 128)\n' "GET beside 400 idle conns" "$crowd_time"
printf '%-32s %6s s           (answered, not queued)\n' "GET beside 10 slow downloads" "$slow_time"
echo "hostile load, GET from 127.0.0.200 beside $hostile_n idle/trickling conns from 127.0.1.1-64 (target < 100 ms):"
printf '  %-8s %s\n' quarno "$hostile_ours" nginx "$hostile_nginx"
echo "memory (target: <= 16 KiB per idle connection; < 64 MiB for the listings):"
for server in quarno nginx; do
  printf '  %-8s RSS per idle connection (%d): %s\n' $server "$idle_n" "${memory[$server-idle]}"
  printf '  %-8s peak RSS rise, 64 concurrent GETs of a %d-entry listing: %s\n' $server "$listing_entries" "${memory[$server-listing]}"
done
