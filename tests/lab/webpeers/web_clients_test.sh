#!/usr/bin/env bash
# Real web clients read the share from the internet namespace through the
# lab's router, as people out there do:
#   - curl: Digest over http and https, Basic over https, the share link over
#     both; no account, Basic in the clear, a wrong token and a wrong password
#     refused;
#   - cadaver (WebDAV, Digest): ls and get;
#   - rclone (WebDAV, Basic, so https): the whole share listed and copied;
#   - davfs2: the share mounted read-only in the internet namespace and read;
#   - headless Chromium: the share link's folder page and two files, with
#     screenshots left in BUILD_DIR/web-clients-*.png.
# Two servers on the same share, checked one after the other: the HTTP serving of
# quarno-ftpd as the boot-up service starts it, and the desktop program's own
# server (quarno-lab-tool serve-http, the window's HttpServing without the
# window). Every byte a client fetched is compared with the share's file.
#
#   tests/lab/webpeers/web_clients_test.sh SOURCE_DIR BUILD_DIR
#
# Exit status 77 (skipped) when not root or a client is missing.
set -uo pipefail
src=$1 bin=$2
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "the namespace lab needs root"
for t in ip nft miniupnpd upnpc curl python3 setpriv script cadaver rclone mount.davfs chromium; do
  command -v "$t" >/dev/null || skip "$t is not installed (scripts/install-deps.sh)"
done
[ -c /dev/fuse ] || skip "no /dev/fuse for the davfs2 mount"
tool=$bin/tests/lab/service/quarno-lab-tool
for p in "$tool" "$bin/apps/quarno-ftpd" "$bin/apps/quarno-bootup-service"; do
  [ -x "$p" ] || skip "$p is not built"
done

id=wc$$
lab=("$src/lab/netns-lab.sh" -i "$id")
# Readable by the davfs2 daemon's own user, which keeps its cache in here.
work=$(mktemp -d "$bin/web-clients-test.XXXXXX")
chmod 0755 "$work"
demo=$work/demo
user=joe password=s3cret-Pw window_port=8090
failures=0 passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; passes=$((passes + 1)); }
nft_before=$(nft list tables)
window_pid=""

# Processes of this run: the programs (their state folder) and the clients
# (their folders, the lab's).
leftovers() {
  local pid
  for pid in $( (grep -lzx "QUARNO_WRITABLE_FOLDER=$demo/program" /proc/[0-9]*/environ
                 grep -lzE "quarno-lab-$id|$work" /proc/[0-9]*/cmdline) 2>/dev/null |
                cut -d/ -f3 | sort -u); do
    [ "$pid" = $$ ] || [ "$pid" = "$BASHPID" ] || [ ! -e "/proc/$pid" ] && continue
    echo "$pid"
  done
}
teardown() {
  trap '' INT TERM
  [ -n "$window_pid" ] && kill -TERM "$window_pid" 2>/dev/null
  "${lab[@]}" down >/dev/null 2>&1
  [ -n "$window_pid" ] && wait "$window_pid" 2>/dev/null
  local pid
  for _ in $(seq 40); do leftovers | grep -q . || break; sleep 0.25; done
  for pid in $(leftovers); do
    fail "process left: $pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"
    kill -KILL "$pid" 2>/dev/null
  done
  ip netns list | grep -q "^qlab-$id-" && fail "namespaces left: $(ip netns list | grep "^qlab-$id-" | tr '\n' ' ')"
  [ -e "/tmp/quarno-lab-$id" ] && fail "/tmp/quarno-lab-$id left"
  [ "$(nft list tables)" = "$nft_before" ] || fail "host nftables tables changed"
  grep -q "$work" /proc/mounts && fail "a mount of the run is left on the host"
  rm -rf "$work"
}
finish() {
  local rc=$?  # 130/143 when interrupted: never a pass
  teardown
  echo "$passes passed, $failures failed"
  [ $rc -ne 0 ] && exit $rc
  [ $failures -eq 0 ] && exit 0
  exit 1
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

envfile=$(QUARNO_LAB_WATCH=$$ "${lab[@]}" up) || { fail "the lab did not come up"; exit 1; }
# shellcheck source=/dev/null
. "$envfile"
wan=$ROUTER_WAN_IP

# ---- the pc: a registration, the share, both services ----
mkdir -p "$demo"/{config,state,data,program,home,share/docs} && mkdir -m 0700 "$demo/run"
share=$demo/share
printf 'hello from the share\r\nline two\n' >"$share/hello.txt"
printf '안녕하세요. 공유 폴더의 한글 메모입니다.\n둘째 줄: 가나다라마바사\n' >"$share/한글 메모.txt"
printf 'notes in a subfolder\n' >"$share/docs/notes.txt"
# Past 64 KiB: the body leaves in pieces (sendfile, or TLS records).
head -c 307213 /dev/urandom >"$share/data.bin"
demo_env=(
  HOME="$demo/home" XDG_CONFIG_HOME="$demo/config" XDG_STATE_HOME="$demo/state"
  XDG_DATA_HOME="$demo/data" XDG_RUNTIME_DIR="$demo/run" QUARNO_WRITABLE_FOLDER="$demo/program"
  QUARNO_SUPERVISOR=builtin QUARNO_FTPD_LISTEN="$PC_IP" PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8
  QUARNO_BOOT_TIMINGS="network_interval=50,settle_after_start=300,settle_after_renew=300"
)
in_pc() { ip netns exec "$NS_PC" env -i "${demo_env[@]}" "$@"; }
setting() { in_pc "$tool" settings | awk -v n="$1" '$1 == n { print $2; exit }'; }

in_pc "$tool" register home me@example.org 2121 8080 "$user" "$password" "$share" ||
  { fail "register"; exit 1; }
printf '{"records": {"%s": {"domain": "home.quarno.ralmek.co.kr", "email": "me@example.org",
  "ftp_port": "2121", "http_port": "8080"}}}\n' "$ROUTER_MAC" >"$LAB_DIR/ddns-state.json"
"${lab[@]}" sim ddns >/dev/null
for p in 2121:FTP 8080:HTTP; do
  in_pc upnpc -u "$IGD_URL" -e "Quarno_Server_${p#*:}" -a "$PC_IP" "${p%:*}" "${p%:*}" TCP >/dev/null ||
    fail "mapping ${p%:*}"
done
in_pc "$tool" start-services >/dev/null || { fail "start-services"; exit 1; }
log=$demo/program/Logs/Quarno_Bootup_log.txt
timeout 90 sh -c "until grep -q 자동실행에 '$log' 2>/dev/null; do sleep 0.5; done"
if ! grep -q '서버를 시작합니다' "$log" 2>/dev/null; then
  fail "the boot-up service did not start the servers"; cat "$log" 2>/dev/null; exit 1
fi
ftpd_port=$(setting BOOT_HTTP)
[[ $ftpd_port =~ ^[0-9]+$ ]] || { fail "no BOOT_HTTP port in the settings"; exit 1; }
echo "boot-up service: quarno-ftpd serves HTTP on $PC_IP:$ftpd_port, the router maps $wan:$ftpd_port"

# ---- the internet side ----
home=$work/home
mkdir -p "$home"
in_internet() { ip netns exec "$NS_INTERNET" env -i HOME="$home" PATH=/usr/bin:/bin:/usr/sbin:/sbin LANG=C.UTF-8 "$@"; }
enc() { python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1]))' "$1"; }
reachable() {  # port: the server answers through the router within 20 s
  local code
  for _ in $(seq 40); do
    code=$(in_internet curl -s -o /dev/null -w '%{http_code}' --max-time 3 "http://$wan:$1/") 
    [ "$code" != 000 ] && return 0
    sleep 0.5
  done
  return 1
}

# One request with curl: NAME WANT_STATUS SHARE_FILE(or -) URL CURL_ARGS...
# Passes when the status is WANT_STATUS and, with SHARE_FILE, the body is
# that file's bytes.
fetch_check() {
  local name=$1 want=$2 file=${3#-} url=$4 code out=$work/fetched
  shift 4
  rm -f "$out"
  code=$(in_internet curl -sS --max-time 20 --connect-timeout 5 -o "$out" -w '%{http_code}' \
           "$@" "$url" 2>"$work/curl.err")
  if [ "$code" != "$want" ]; then
    fail "$name: status $code, not $want ($url; $(tail -n 1 "$work/curl.err"))"
  elif [ -n "$file" ] && ! cmp -s "$out" "$share/$file"; then
    fail "$name: the body is not $file ($(stat -c %s "$out" 2>/dev/null) bytes)"
  else
    pass "$name: $code${file:+, the bytes of $file}"
  fi
}
# The challenge of a request without an account: SCHEMES is what it must offer.
challenge_check() {  # NAME URL "Digest" or "Digest Basic"
  local offered
  offered=$(in_internet curl -sk --max-time 20 -o /dev/null -D - "$2" |
            sed -n 's/^WWW-Authenticate: \([A-Za-z]*\).*/\1/ip' | sort -u | tr '\n' ' ' | sed 's/ $//')
  if [ "$offered" = "$3" ]; then pass "$1: offers $3"; else fail "$1: offers '$offered', not '$3'"; fi
}

# In cadaver's ls output: LOG NAME SIZE
listed() {
  grep -qE "^ +$(sed 's/[].[*^$()+?{}|\\]/\\&/g' <<<"$2") +$3 " "$1"
}

# All clients against one server: LABEL PORT
clients() {
  local label=$1 port=$2
  local H=http://$wan:$port S=https://$wan:$port A=/httpstream/internet/share
  local token_link hangul=한글\ 메모.txt
  local hangul_enc
  hangul_enc=$(enc "$hangul")
  echo "==== $label on $wan:$port"
  if ! reachable "$port"; then fail "$label: nothing answers on $wan:$port"; return; fi
  token_link=$(in_pc "$tool" share-link "$wan" "$port")
  local L=${token_link#"https://$wan:$port"}  # /httpstream/<token>/share/
  [[ $L =~ ^/httpstream/[A-Za-z0-9_-]{32}/share/$ ]] || { fail "$label: share link '$token_link'"; return; }
  local wrong=/httpstream/AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA/share

  # -- curl, each row: name, status, share file (- for none), URL, options
  local rows=(
    "http Digest|200|hello.txt|$H$A/hello.txt|--digest -u $user:$password"
    "http Digest, Hangul name|200|$hangul|$H$A/$hangul_enc|--digest -u $user:$password"
    "http Digest, 300 KiB|200|data.bin|$H$A/data.bin|--digest -u $user:$password"
    "https Digest, 300 KiB|200|data.bin|$S$A/data.bin|-k --digest -u $user:$password"
    "https Basic, 300 KiB|200|data.bin|$S$A/data.bin|-k --basic -u $user:$password"
    "https Basic, subfolder|200|docs/notes.txt|$S$A/docs/notes.txt|-k --basic -u $user:$password"
    "http without the account|401|-|$H$A/hello.txt|"
    "https without the account|401|-|$S$A/hello.txt|-k"
    "http Basic (in the clear)|401|-|$H$A/hello.txt|--basic -u $user:$password"
    "share link, http|200|hello.txt|$H${L}hello.txt|"
    "share link, https, 300 KiB|200|data.bin|$S${L}data.bin|-k"
    "share link, https, Hangul name|200|$hangul|$S${L}$hangul_enc|-k"
    "wrong token, http|401|-|$H$wrong/hello.txt|"
    "wrong token, https|401|-|$S$wrong/data.bin|-k"
  )
  local row name want file url opts
  for row in "${rows[@]}"; do
    IFS='|' read -r name want file url opts <<<"$row"
    # shellcheck disable=SC2086
    fetch_check "$label curl $name" "$want" "$file" "$url" $opts
  done
  fetch_check "$label curl http Digest, range" 206 - "$H$A/data.bin" --digest -u "$user:$password" -r 1000-1999
  if cmp -s "$work/fetched" <(tail -c +1001 "$share/data.bin" | head -c 1000); then
    pass "$label curl range: the file's bytes 1000-1999"
  else
    fail "$label curl range: not the file's bytes 1000-1999"
  fi
  challenge_check "$label http challenge" "$H$A/hello.txt" "Digest"
  challenge_check "$label https challenge" "$S$A/hello.txt" "Basic Digest"

  # -- cadaver (Digest over http; over https it asks on its terminal, a pty
  # here, whether to accept the self-signed certificate, and is told yes)
  printf 'machine %s login %s password %s\n' "$wan" "$user" "$password" >"$home/.netrc"
  chmod 0600 "$home/.netrc"
  local scheme base out
  for scheme in http https; do
    out=$work/cadaver-$label-$scheme
    rm -rf "$out" && mkdir -p "$out"
    base=$scheme://$wan:$port$A/
    { [ $scheme = https ] && echo y
      printf 'ls\ncd docs\nls\ncd ..\nget hello.txt %s/hello.txt\nget "%s" "%s/hangul.txt"\nget data.bin %s/data.bin\nquit\n' \
        "$out" "$hangul" "$out" "$out"
    } | in_internet timeout 60 script -qec "cadaver $base" /dev/null >"$out.log" 2>&1
    # A listing line: "Coll:" for a folder, the name, its size.
    local missing="" entry
    for entry in "hello.txt" "$hangul" "data.bin" "docs/notes.txt"; do
      listed "$out.log" "${entry#docs/}" "$(stat -c %s "$share/$entry")" || missing+=" $entry"
    done
    grep -qE '^Coll: +docs +0 ' "$out.log" || missing+=" docs/"
    if [ -n "$missing" ]; then
      fail "$label cadaver $scheme ls: missing$missing"; sed 's/^/    /' "$out.log" | grep -v '^ *Progress' | head -n 30
    else
      pass "$label cadaver $scheme ls: the names and sizes of the share and its subfolder"
    fi
    if cmp -s "$out/hello.txt" "$share/hello.txt" && cmp -s "$out/hangul.txt" "$share/$hangul" &&
       cmp -s "$out/data.bin" "$share/data.bin"; then
      pass "$label cadaver $scheme get: three files, the share's bytes"
    else
      fail "$label cadaver $scheme get: not the share's bytes"
    fi
  done
  rm -f "$home/.netrc"

  # -- rclone: a WebDAV remote with Basic, so https; the certificate is the
  # install's self-signed one
  local rc_env=(RCLONE_CONFIG="$home/rclone.conf" RCLONE_CONFIG_LAB_TYPE=webdav
                RCLONE_CONFIG_LAB_URL="$S$A/" RCLONE_CONFIG_LAB_VENDOR=other
                RCLONE_CONFIG_LAB_USER="$user"
                RCLONE_CONFIG_LAB_PASS="$(rclone obscure "$password")")
  local rclone=(in_internet env "${rc_env[@]}" timeout 90 rclone --no-check-certificate
                --contimeout 5s --timeout 20s --retries 1 --low-level-retries 1)
  local listed expected
  listed=$("${rclone[@]}" lsf -R lab: 2>"$work/rclone.err" | sort)
  expected=$(cd "$share" && find . -mindepth 1 \( -type d -printf '%P/\n' -o -printf '%P\n' \) | sort)
  if [ "$listed" = "$expected" ]; then
    pass "$label rclone lsf -R: the share's tree"
  else
    fail "$label rclone lsf -R: got [$listed], want [$expected] ($(tail -n 2 "$work/rclone.err"))"
  fi
  rm -rf "$work/rclone-copy"
  if "${rclone[@]}" copy lab: "$work/rclone-copy" 2>"$work/rclone.err" &&
     diff -r "$share" "$work/rclone-copy" >/dev/null; then
    pass "$label rclone copy: the whole share, the same bytes"
  else
    fail "$label rclone copy: $(tail -n 2 "$work/rclone.err")"
  fi
  if [ "$("${rclone[@]}" cat "lab:$hangul" 2>/dev/null)" = "$(cat "$share/$hangul")" ]; then
    pass "$label rclone cat of the Hangul file"
  else
    fail "$label rclone cat of the Hangul file"
  fi
  # A wrong password is refused, not answered with an empty share.
  if in_internet env "${rc_env[@]}" RCLONE_CONFIG_LAB_PASS="$(rclone obscure wrong)" timeout 60 \
       rclone --no-check-certificate --retries 1 --low-level-retries 1 lsf lab: >/dev/null 2>&1; then
    fail "$label rclone with a wrong password listed the share"
  else
    pass "$label rclone with a wrong password: refused"
  fi
  sleep 1.5  # the ban paces the next password check after a failure

  # -- davfs2: mounted read-only inside the internet namespace (a mount
  # namespace of that one command), read, unmounted
  local dav=$work/davfs-$label
  mkdir -p "$dav/mnt" "$dav/cache"
  # As the system cache is: the daemon runs as davfs2 and writes there.
  chown root:davfs2 "$dav/cache" && chmod 0775 "$dav/cache"
  printf '"%s" %s "%s"\n' "$H$A/" "$user" "$password" >"$dav/secrets"
  chmod 0600 "$dav/secrets"
  # This kernel's FUSE asks for directory entries in reads larger than
  # davfs2's default 16 KiB buffer, which davfs2 answers with EINVAL (ls:
  # "Invalid argument"); 64 KiB takes them.
  cat >"$dav/davfs2.conf" <<EOF
secrets $dav/secrets
cache_dir $dav/cache
use_locks 0
ask_auth 0
buf_size 64
EOF
  in_internet timeout 120 bash -c '
    mnt=$1 conf=$2 url=$3 share=$4 hangul=$5
    mount -t davfs -o ro,conf="$conf" "$url" "$mnt" || { echo "mount failed"; exit 1; }
    status=0
    ls -la "$mnt" "$mnt/docs"
    for f in hello.txt "$hangul" data.bin docs/notes.txt; do
      cmp "$mnt/$f" "$share/$f" || status=1
    done
    [ "$(cd "$mnt" && find . -path ./lost+found -prune -o -print | sort)" = \
      "$(cd "$share" && find . -print | sort)" ] || { echo "trees differ"; status=1; }
    echo x >"$mnt/written" 2>/dev/null && { echo "a write went through"; status=1; }
    umount "$mnt" || status=1
    exit $status' davfs "$dav/mnt" "$dav/davfs2.conf" "$H$A/" "$share" "$hangul" >"$dav.log" 2>&1
  if [ $? -eq 0 ]; then
    pass "$label davfs2 mount: the tree and four files, the share's bytes; read-only"
  else
    fail "$label davfs2 mount"; sed 's/^/    /' "$dav.log" | tail -n 25
  fi

  # -- headless Chromium on the share link: the folder page and two files.
  # Every name resolves to nothing but the server's address.
  # shellcheck disable=SC2054  # the comma is the resolver rules' own
  local chrome=(in_internet timeout 90 chromium --headless=new --no-sandbox --disable-gpu
                --user-data-dir="$work/chrome-$label" --ignore-certificate-errors --no-first-run
                --disable-background-networking --disable-component-update --disable-sync
                --disable-extensions --no-pings --host-resolver-rules="MAP * ~NOTFOUND, EXCLUDE $wan"
                --window-size=900,560 --hide-scrollbars)
  local page
  page=$("${chrome[@]}" --dump-dom "$token_link" 2>/dev/null)
  missing=""
  for f in hello.txt "$hangul" data.bin docs; do grep -qF ">$f" <<<"$page" || missing+=" $f"; done
  if [ -z "$missing" ]; then pass "$label chromium folder page: lists every entry"
  else fail "$label chromium folder page: missing$missing"; fi
  rm -f "$bin"/web-clients-"$label"-*.png
  "${chrome[@]}" --screenshot="$bin/web-clients-$label-folder.png" "$token_link" >/dev/null 2>&1
  if [ -s "$bin/web-clients-$label-folder.png" ]; then pass "$label chromium folder screenshot"
  else fail "$label chromium folder screenshot"; fi
  "${chrome[@]}" --screenshot="$bin/web-clients-$label-file.png" "${token_link}hello.txt" >/dev/null 2>&1
  page=$("${chrome[@]}" --dump-dom "${token_link}hello.txt" 2>/dev/null)
  # The page shows the text; compare it with the file's (line ends as shown).
  if [ "$(python3 -c 'import html,re,sys; m=re.search(r"<pre[^>]*>(.*?)</pre>", sys.stdin.read(), re.S); print(html.unescape(m.group(1)) if m else "")' <<<"$page")" = \
       "$(tr -d '\r' <"$share/hello.txt")" ]; then
    pass "$label chromium file: the text of hello.txt"
  else
    fail "$label chromium file: page [$page]"
  fi
  "${chrome[@]}" --screenshot="$bin/web-clients-$label-hangul.png" "${token_link}$hangul_enc" >/dev/null 2>&1
  page=$("${chrome[@]}" --dump-dom "${token_link}$hangul_enc" 2>/dev/null)
  if grep -qF "가나다라마바사" <<<"$page"; then
    pass "$label chromium Hangul text file: shown as Hangul"
  else
    echo "note: $label chromium shows the Hangul .txt as: $(sed -n 's/.*<pre[^>]*>\(.*\)/\1/p' <<<"$page" | head -n 1)"
  fi
  page=$("${chrome[@]}" --dump-dom "$S$wrong/" 2>/dev/null)
  if grep -qF "hello.txt" <<<"$page"; then fail "$label chromium with a wrong token saw the listing"
  else pass "$label chromium with a wrong token: no listing"; fi

  # -- last: wrong passwords (they count toward the address's ban)
  fetch_check "$label curl wrong password, Digest" 401 - "$H$A/hello.txt" --digest -u "$user:nope"
  sleep 1.5
  fetch_check "$label curl wrong password, https Basic" 401 - "$S$A/hello.txt" -k --basic -u "$user:nope"
}

clients ftpd "$ftpd_port"

# ---- the desktop program's server, beside the daemon's, on its own port ----
# Started without a shell between, so that $! is the server itself.
ip netns exec "$NS_PC" env -i "${demo_env[@]}" setpriv --pdeathsig TERM "$tool" serve-http \
  "$window_port" "$PC_IP" >"$work/window.out" 2>&1 &
window_pid=$!
in_pc upnpc -u "$IGD_URL" -e Quarno_Window_HTTP -a "$PC_IP" "$window_port" "$window_port" TCP >/dev/null ||
  fail "mapping $window_port"
clients window "$window_port"
kill -TERM "$window_pid" 2>/dev/null
wait "$window_pid"; rc=$?
[ $rc -eq 0 ] && pass "window server: stopped on SIGTERM" || fail "window server ended with $rc: $(cat "$work/window.out")"
window_pid=""
