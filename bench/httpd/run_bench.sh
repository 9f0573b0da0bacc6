#!/usr/bin/env bash
# The HTTP server against nginx on the same files, measured with wrk on
# loopback: one 1 GiB file, 4 KiB files at 100 connections (closed after each
# answer, and kept alive), 64 KiB ranges; then the ratios.
# Bounded: each run lasts BENCH_SECONDS (default 8), eight runs in all.
#   bash bench/httpd/run_bench.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/../.."
here=bench/httpd
build=${1:-build-bench}
seconds=${BENCH_SECONDS:-8}
for tool in wrk nginx; do
  command -v $tool >/dev/null || [ -x /usr/sbin/$tool ] || { echo "missing $tool" >&2; exit 1; }
done
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARNO_BUILD_BENCH=ON \
  -DQUARNO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target httpd_bench_server >/dev/null
server_bin=$build/bench/httpd/httpd_bench_server

work=$(mktemp -d /tmp/quarno-httpd-bench-XXXXXX)
server_pid=""; nginx_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The same tree for both: home folder with a share link, as in the product.
mkdir -p "$work/home" "$work/share/small" "$work/nginx"
ln -s "$work/share" "$work/home/DISK_E"
truncate -s 1G "$work/share/big.bin"   # sparse: measures the servers, not the disk
# Read once, so neither server pays for filling the page cache the other reuses.
cat "$work/share/big.bin" > /dev/null
for i in $(seq 1 100); do head -c 4096 /dev/urandom > "$work/share/small/f$i.bin"; done
chmod -R a+rX "$work"

port_of() { python3 -c 'import socket;s=socket.socket();s.bind(("127.0.0.1",0));print(s.getsockname()[1])'; }
ours_port=$(port_of); nginx_port=$(port_of)

mkfifo "$work/server-stdin"
"$server_bin" "$ours_port" "$work/home" < "$work/server-stdin" > "$work/server.out" &
server_pid=$!
exec 3>"$work/server-stdin"   # closing it stops the server

cat > "$work/nginx/nginx.conf" <<CONF
worker_processes 2;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
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
    root $work/home;
    autoindex on;
    location /httpstream/ { rewrite ^/httpstream/[^/]*(/.*)\$ \$1 break; }
  }
}
CONF
"$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" &
nginx_pid=$!

for i in $(seq 1 50); do
  grep -q ready "$work/server.out" 2>/dev/null && curl -s -o /dev/null "http://127.0.0.1:$nginx_port/" && break
  sleep 0.1
done

declare -A result
measure() {  # key url threads connections script label [wrk options]
  local out args=()
  [ -n "$5" ] && args+=(-s "$here/$5")
  args+=("${@:7}")
  out=$(timeout $((seconds + 30)) wrk -t"$3" -c"$4" -d"${seconds}s" --timeout 20s "${args[@]}" "$2" 2>&1)
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

stream=httpstream/tok/DISK_E
echo "wrk ${seconds}s per run, loopback; quarno-httpd (own Asio + Beast engine, product options) vs nginx (2 workers, sendfile)"
for server in quarno nginx; do
  port=$ours_port; [ $server = nginx ] && port=$nginx_port
  base="http://127.0.0.1:$port/$stream"
  measure $server-big "$base/big.bin" 1 1 "" "1 GiB file, 1 connection" -H "Connection: close"
  measure $server-close "$base/small/" 2 100 small.lua "4 KiB, 100 conns, close" -H "Connection: close"
  measure $server-ranges "$base/big.bin" 2 10 range.lua "64 KiB ranges, 10 conns" -H "Connection: close"
  measure $server-keep "$base/small/" 2 100 small.lua "4 KiB, 100 conns, keep-alive" -H "Connection: keep-alive"
done

# Starvation: 200, then 400 (more than the 256 workers), connections from
# 127.0.0.2 that never send a byte, then one GET from 127.0.0.3; and 10
# downloads at 1 MB/s, then an 11th client.
base="http://127.0.0.1:$ours_port/$stream"
beside_idle() {  # count -> seconds of the GET
  rm -f "$work/idle.ready"
  python3 - "$ours_port" "$work/idle.ready" "$1" <<'PY' &
import socket, sys, time
held = []
for _ in range(int(sys.argv[3])):
    s = socket.socket(); s.bind(("127.0.0.2", 0)); s.connect(("127.0.0.1", int(sys.argv[1]))); held.append(s)
open(sys.argv[2], "w").close()
time.sleep(40)
PY
  local pid=$!
  for i in $(seq 1 100); do [ -e "$work/idle.ready" ] && break; sleep 0.1; done
  curl -s -o /dev/null -w '%{time_total}' --interface 127.0.0.3 --max-time 35 "$base/small/f1.bin" || echo "no answer"
  kill $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
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
ratio "64 KiB ranges, req/s" ranges 1 0.7
ratio "4 KiB keep-alive, req/s" keep 1 0.7
printf '%-32s %6s s           (target <= 2 s)\n' "GET beside 200 idle conns" "$idle_time"
printf '%-32s %6s s           (target <= 2 s; one address gets 128)\n' "GET beside 400 idle conns" "$crowd_time"
printf '%-32s %6s s           (answered, not queued)\n' "GET beside 10 slow downloads" "$slow_time"
