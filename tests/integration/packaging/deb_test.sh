#!/usr/bin/env bash
# Builds the package from the build folder (as scripts/package.sh does) and
# checks what a person installing it relies on: the files, the Depends
# field, and no lintian errors.
set -uo pipefail
bin=$1 out=$2 src=$3
skip() { echo "SKIPPED: $*"; exit 77; }
for t in cpack dpkg-deb dpkg-shlibdeps lintian; do
  command -v "$t" >/dev/null || skip "$t is not installed (scripts/install-deps.sh)"
done
rm -rf "$out"
(cd "$bin" && cpack -G DEB -B "$out") || { echo "FAIL: cpack"; exit 1; }
rm -rf "$out/_CPack_Packages"
deb=$(ls "$out"/quarno_*.deb) || { echo "FAIL: no package in $out"; exit 1; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

contents=$(dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }')
expect=(
  "./usr/lib/quarno/quarno-server" "./usr/lib/quarno/quarno-bootup-service" "./usr/lib/quarno/quarno-ftpd"
  "./usr/bin/quarno-server -> ../lib/quarno/quarno-server"
  "./usr/bin/quarno-bootup-service -> ../lib/quarno/quarno-bootup-service"
  "./usr/bin/quarno-ftpd -> ../lib/quarno/quarno-ftpd"
  "./usr/lib/systemd/user/Quarno_Bootup_Service.service"
  "./usr/share/applications/quarno-server.desktop"
  "./usr/share/icons/hicolor/scalable/apps/quarno-server.svg"
  "./usr/share/doc/quarno/copyright"
  "./usr/share/man/man1/quarno-server.1.gz"
)
for size in 16 22 24 32 48 64 128 256; do
  expect+=("./usr/share/icons/hicolor/${size}x${size}/apps/quarno-server.png")
done
# The help page, once the tree has one, beside the program.
[ -n "$(find "$src/src" "$src/packaging" -name help_quarno.html 2>/dev/null)" ] &&
  expect+=("./usr/lib/quarno/help_quarno.html")
for f in "${expect[@]}"; do grep -qxF "$f" <<<"$contents" || fail "missing $f"; done
# Nothing lands outside /usr: the package writes no configuration and
# enables nothing (the program's auto-start option does that per user).
grep -v '^\./usr/' <<<"$contents" | grep -v '^\./$' | grep . && fail "files outside /usr"

# The icon files are what they claim to be.
tmp=$(mktemp -d)
dpkg-deb -x "$deb" "$tmp"
for size in 16 48 256; do
  png=$tmp/usr/share/icons/hicolor/${size}x${size}/apps/quarno-server.png
  size_out=$(python3 -c 'import struct, sys
d = open(sys.argv[1], "rb").read(24)
print("%dx%d" % struct.unpack(">II", d[16:24]) if d[:8] == b"\x89PNG\r\n\x1a\n" else "no PNG")' "$png")
  [ "$size_out" = "${size}x${size}" ] || fail "icon $size: $size_out"
done
# The unit starts the program the package installs.
grep -qx "ExecStart=/usr/bin/quarno-bootup-service" "$tmp/usr/lib/systemd/user/Quarno_Bootup_Service.service" ||
  fail "the user unit does not start /usr/bin/quarno-bootup-service"
rm -rf "$tmp"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for p in libqt6widgets6 libssl3 libtinyxml2-9 libcurl4 libnettle8 libhogweed6 fonts-nanum \
    qt6-translations-l10n xdg-utils libc6 libstdc++6; do
  tr ',' '\n' <<<"$depends" | awk '{ print $1 }' | grep -qxF "$p" || fail "Depends lacks $p"
done
# Each package once, whether named by hand or found in the binaries.
dups=$(tr ',' '\n' <<<"$depends" | awk '{ print $1 }' | sort | uniq -d)
[ -z "$dups" ] || fail "Depends names twice: $dups"

lint=$(lintian --fail-on error "$deb" 2>&1); rc=$?
echo "$lint"
[ $rc -eq 0 ] || fail "lintian reports errors"
[ $failures -eq 0 ] || exit 1
echo "package: $deb"
