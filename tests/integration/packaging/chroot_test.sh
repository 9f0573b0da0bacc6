#!/usr/bin/env bash
# The package on a clean Debian 12: installed into a fresh bookworm chroot
# with apt (which brings its dependencies from the Debian mirror), started
# from its desktop entry's Exec line, and purged, after which none of its
# files may remain.
#
#   chroot_test.sh DEB_DIR CACHE_DIR
#
# CACHE_DIR (or $QUARNO_PACKAGE_CACHE, for a cache that outlives the build
# folder) keeps the debootstrapped base system as a tarball, the downloaded
# .debs and apt's lists, so a rerun only unpacks and installs. Skips (77)
# without root or debootstrap, or when the mirror cannot be reached. The
# program runs in a network namespace of its own with only loopback, so it
# never sees this machine's real network.
set -uo pipefail
deb_dir=$1 cache=${QUARNO_PACKAGE_CACHE:-$2}
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "the chroot install needs root"
for t in debootstrap chroot unshare tar; do
  command -v "$t" >/dev/null || skip "$t is not installed (scripts/install-deps.sh)"
done
deb=$(ls "$deb_dir"/quarno_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { echo "FAIL: no package in $deb_dir"; exit 1; }

# The mirror this machine's apt uses for bookworm itself.
mirror=$(sed -n 's/^URIs: *\(http[^ ]*\/debian\)\/\{0,1\}$/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" && $2 ~ /\/debian\/?$/ { print $2; exit }' /etc/apt/sources.list 2>/dev/null)
mirror=${mirror:-http://deb.debian.org/debian}
offline() { grep -qiE "Failed getting release|Couldn't download|Could not resolve|Temporary failure|Connection (refused|timed out)|Network is unreachable|Failed to fetch|Unable to connect" "$1"; }

mkdir -p "$cache/archives" "$cache/lists"
base=$cache/bookworm-minbase.tar
root=$(mktemp -d "$cache/root.XXXXXX")
cleanup() {
  mountpoint -q "$root/proc" && umount "$root/proc"
  mountpoint -q "$root/proc" || rm -rf --one-file-system "$root"
}
trap cleanup EXIT
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }
# A throw-away system needs no fsync after every file; it is most of dpkg's time.
apt_get() { in_root apt-get -o Dpkg::Options::=--force-unsafe-io "$@"; }

SECONDS=0
if [ -s "$base" ]; then
  tar -C "$root" -xf "$base" || { echo "FAIL: the cached base system $base does not unpack"; exit 1; }
else
  echo "debootstrap bookworm (minbase) from $mirror; kept in $base for the next runs"
  if ! debootstrap --variant=minbase --cache-dir="$cache/archives" bookworm "$root" "$mirror" \
       >"$cache/debootstrap.log" 2>&1; then
    tail -n 5 "$cache/debootstrap.log"
    offline "$cache/debootstrap.log" && skip "debootstrap could not reach the Debian mirror $mirror"
    echo "FAIL: debootstrap (see $cache/debootstrap.log)"; exit 1
  fi
  in_root apt-get clean
  tar -C "$root" -cf "$base.part" . && mv "$base.part" "$base"
fi
echo "base system ready after ${SECONDS}s"

# Name lookups for apt; no service may start in the chroot.
cp /etc/resolv.conf "$root/etc/resolv.conf"
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
mount -t proc proc "$root/proc"
cp -n "$cache"/archives/*.deb "$root/var/cache/apt/archives/" 2>/dev/null
cp -rn "$cache"/lists/. "$root/var/lib/apt/lists/" 2>/dev/null
cp "$deb" "$root/tmp/"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! apt_get update -qq >"$cache/apt.log" 2>&1; then
  cat "$cache/apt.log"
  offline "$cache/apt.log" && skip "apt could not reach the Debian mirror $mirror"
  echo "FAIL: apt-get update"; exit 1
fi
if ! apt_get install -y -q --no-install-recommends "/tmp/$(basename "$deb")" >"$cache/apt.log" 2>&1; then
  tail -n 20 "$cache/apt.log"
  offline "$cache/apt.log" && skip "apt could not fetch the dependencies from $mirror"
  echo "FAIL: apt-get install of the package"; exit 1
fi
grep -E '^(Setting up|Unpacking) quarno' "$cache/apt.log"
cp -n "$root"/var/cache/apt/archives/*.deb "$cache/archives/" 2>/dev/null
cp -r "$root"/var/lib/apt/lists/. "$cache/lists/" 2>/dev/null; rm -f "$cache/lists/lock"
echo "installed with its dependencies after ${SECONDS}s"

files=$(in_root dpkg-query -L quarno)
for f in /usr/bin/quarno-server /usr/lib/quarno/quarno-ftpd /usr/lib/systemd/user/Quarno_Bootup_Service.service \
         /usr/share/icons/hicolor/48x48/apps/quarno-server.png; do
  grep -qxF "$f" <<<"$files" || fail "dpkg does not list $f"
done

# The desktop entry's Exec line, as a launcher runs it (no field codes here),
# on Qt's offscreen platform, without any network but loopback. A program
# still running after 20 s has started too (the real windows wait for a
# person); it is ended then.
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/quarno-server.desktop" | head -n 1)
[ -n "$exec_line" ] || fail "no Exec line in the desktop entry"
mkdir -p "$root/tmp/home"
out=$(unshare --net chroot "$root" env -i PATH=/usr/bin:/bin HOME=/tmp/home LANG=C.UTF-8 \
        XDG_RUNTIME_DIR=/tmp/home/run QT_QPA_PLATFORM=offscreen QUARNO_SUPERVISOR=builtin \
        timeout --kill-after=5 20 sh -c "$exec_line" 2>&1)
rc=$?
echo "Exec=$exec_line: exit status $rc"
sed 's/^/    /' <<<"$out"
case $rc in
  0) ;;
  124) echo "    (still running after 20 s: started)" ;;
  *) fail "the program from the desktop entry ended with $rc" ;;
esac
grep -q . <<<"$out" || [ $rc -eq 124 ] || fail "the program said nothing"

if ! apt_get purge -y -q quarno >"$cache/apt.log" 2>&1; then
  tail -n 20 "$cache/apt.log"; fail "apt-get purge"
fi
in_root dpkg-query -W -f '${Status}\n' quarno 2>/dev/null | grep -q installed && fail "still known to dpkg after purge"
left=0
while IFS= read -r f; do
  [ -n "$f" ] || continue
  # Folders other packages share (/usr/bin, ...) stay; none of ours may.
  if [ -L "$root$f" ] || [ -f "$root$f" ]; then echo "left: $f"; left=1; fi
done <<<"$files"
for d in /usr/lib/quarno /usr/share/doc/quarno; do
  [ -e "$root$d" ] && { echo "left: $d"; left=1; }
done
[ $left -eq 0 ] || fail "files of the package remain after purge"
echo "purged after ${SECONDS}s"
[ $failures -eq 0 ] || exit 1
echo "package: installed, started from its desktop entry, purged without a trace"
