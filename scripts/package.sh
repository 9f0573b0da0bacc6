#!/usr/bin/env bash
# Builds the Debian package of the three programs and checks it:
#   scripts/package.sh            -> build/package/quarno_<version>-1_<arch>.deb
# It installs what is missing, builds the programs and the icons in build/,
# runs `cpack -G DEB` there, and fails when lintian reports an error.
# --no-deps skips the installation step (the tests use it).
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${1:-}" = --no-deps ] || bash scripts/install-deps.sh
bash scripts/build.sh normal quarno-server quarno-bootup-service quarno-ftpd quarno_icons
rm -f build/package/quarno_*.deb
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/package/quarno_*.deb)
# Warnings are shown; only errors fail.
lintian --fail-on error "$deb" || { echo "package.sh: lintian found errors" >&2; exit 1; }
echo "$deb"
