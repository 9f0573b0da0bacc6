#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tests, the lab and the
# benchmarks need. Safe to run again: apt-get skips what is there.
set -euo pipefail
packages=(
  build-essential cmake ninja-build ccache pkg-config git
  clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libtinyxml2-dev nettle-dev libboost-dev libssl-dev libcurl4-openssl-dev
  python3 curl lftp cadaver xdg-utils
  # Web clients of the lab's internet side (tests/lab/webpeers).
  rclone davfs2 chromium
  iproute2 nftables miniupnpd-nftables miniupnpc
  vsftpd nginx-light wrk
  # The run command's virtual screen; the Debian package, its icons and its checks.
  xvfb x11vnc librsvg2-bin lintian debootstrap
  # The boot start where systemd is absent (a @reboot line in the user's crontab).
  cron
  # The desktop program and its tests (offscreen, Xvfb with a tray host).
  qt6-base-dev qt6-qpa-plugins qt6-translations-l10n fonts-nanum xdg-utils
  xauth trayer xdotool x11-utils imagemagick
  # A private session bus and a StatusNotifierItem tray host for the tray test.
  dbus python3-dbus python3-gi
  # A Korean desktop's locale, in which the servers' dates must stay English.
  locales
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
make_korean_locale() {
  locale -a 2>/dev/null | grep -qix 'ko_KR\.utf-\?8' && return 0
  grep -q '^ko_KR.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null ||
    echo 'ko_KR.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
}
if [ ${#missing[@]} -eq 0 ]; then
  make_korean_locale
  exit 0
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# Daemons among these (vsftpd, nginx, miniupnpd) are only ever started by the
# project's own scripts on loopback or inside lab namespaces; keep the package
# scripts from starting them on the host.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod +x "$policy"
  trap '$sudo rm -f "$policy"' EXIT
fi
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
make_korean_locale
