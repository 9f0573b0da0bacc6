#!/usr/bin/env bash
# What the internet sees of a registered PC in the lab: from the internet
# namespace, one file of the share fetched through the router's WAN address
# over FTP (active mode: only the control port is mapped) and over HTTP
# ("/httpstream/<token>/<share>/<file>", with the same account as FTP: Digest
# over plain HTTP), and the two compared byte for byte. The HTTP line also
# tells whether the share refused the same request without the account.
#
#   lab/internet-fetch.sh -i ID [-o DIR] USER PASSWORD FTP_PORT HTTP_PORT SHARE [FILE]
#
# SHARE is the folder name the share is served under (the link name in the
# home folder). Without FILE the first plain file of the share's FTP listing
# is taken. Prints one line per protocol; exit status 0 when both fetches
# worked and gave the same bytes, 1 otherwise. Downloads go to a temporary
# folder inside DIR (default /tmp) that is removed again. Needs root (it
# enters the lab's namespace); every request has a time limit.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
id=${QUARNO_LAB_ID:-0}
out_base=/tmp
while getopts "i:o:" opt; do
  case $opt in
    i) id=$OPTARG ;;
    o) out_base=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
if [ $# -lt 5 ] || [ $# -gt 6 ]; then
  sed -n '7,7p' "$0" | sed 's/^# *//' >&2
  exit 2
fi
user=$1 password=$2 ftp_port=$3 http_port=$4 share=$5 file=${6:-}
for p in "$ftp_port" "$http_port"; do
  [[ $p =~ ^[0-9]{1,5}$ ]] || { echo "internet-fetch: bad port '$p'" >&2; exit 2; }
done

envfile=/tmp/quarno-lab-$id/env
[ -f "$envfile" ] || { echo "internet-fetch: lab $id is not up" >&2; exit 1; }
wan=$(sed -n 's/^ROUTER_WAN_IP=//p' "$envfile")
tmp=$(mktemp -d "$out_base/internet-fetch.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

# Path segments go into URLs percent-encoded (names may hold spaces or Korean).
enc() { python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1]))' "$1"; }
internet() { "$here/netns-lab.sh" -i "$id" exec internet "$@"; }
# curl -u takes "user:password"; a netrc keeps both off the command line and
# copes with a colon in the password.
printf 'machine %s login %s password %s\n' "$wan" "$user" "$password" >"$tmp/netrc"
ftp_base="ftp://$wan:$ftp_port/$(enc "$share")"
curl_ftp=(curl -sS --max-time 20 --connect-timeout 5 --ftp-port - --netrc-file "$tmp/netrc")

if [ -z "$file" ]; then
  if ! internet "${curl_ftp[@]}" "$ftp_base/" -o "$tmp/listing" 2>"$tmp/err"; then
    echo "FTP  $ftp_base/: listing failed: $(tail -n 1 "$tmp/err")"
    exit 1
  fi
  # A plain file's line starts with "-"; its name is everything after the
  # eighth field (names may hold spaces).
  file=$(awk '/^-/ { for (i = 0; i < 8; i++) sub(/^[^ ]+ +/, ""); sub(/\r$/, ""); print; exit }' \
         "$tmp/listing")
  if [ -z "$file" ]; then
    echo "FTP  $ftp_base/: logged in, but the share holds no file to fetch"
    exit 1
  fi
fi

describe() {  # file -> "N bytes, sha256 XXXXXXXXXXXX"
  printf '%s bytes, sha256 %.12s' "$(stat -c %s "$1")" "$(sha256sum "$1" | cut -d' ' -f1)"
}

status=0
ftp_url="$ftp_base/$(enc "$file")"
if internet "${curl_ftp[@]}" "$ftp_url" -o "$tmp/ftp.bin" 2>"$tmp/err"; then
  echo "FTP  $ftp_url: $(describe "$tmp/ftp.bin")"
else
  echo "FTP  $ftp_url: failed: $(tail -n 1 "$tmp/err")"
  status=1
fi
http_url="http://$wan:$http_port/httpstream/internet/$(enc "$share")/$(enc "$file")"
refused=$(internet curl -s -o /dev/null -w '%{http_code}' --max-time 20 --connect-timeout 5 \
  "$http_url" 2>/dev/null || true)
if internet curl -sS --fail --max-time 20 --connect-timeout 5 --anyauth --netrc-file "$tmp/netrc" \
     "$http_url" -o "$tmp/http.bin" 2>"$tmp/err"; then
  same=""
  if [ -f "$tmp/ftp.bin" ]; then
    if cmp -s "$tmp/ftp.bin" "$tmp/http.bin"; then same=", the same bytes as over FTP"
    else same=", DIFFERENT from what FTP gave"; status=1; fi
  fi
  echo "HTTP $http_url: $(describe "$tmp/http.bin")$same"
  if [ "$refused" = 401 ]; then
    echo "HTTP without the account: 401, refused"
  else
    echo "HTTP without the account: $refused, NOT refused"
    status=1
  fi
else
  echo "HTTP $http_url: failed: $(tail -n 1 "$tmp/err")"
  status=1
fi
exit $status
