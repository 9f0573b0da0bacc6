#!/usr/bin/env bash
# The whole test suite on a fresh Debian 12: installs what is missing, builds
# the normal and the sanitizer configuration, and runs every test of both.
# Tests that need root (network namespaces) skip themselves with a reason
# when not run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for kind in normal sanitize; do
  echo "=== build: $kind"
  bash scripts/build.sh "$kind"
  dir=build; [ "$kind" = sanitize ] && dir=build-asan
  echo "=== test: $kind"
  # The namespace lab runs whole programs end to end; once, in the normal build, is enough.
  # The package's install into a Debian 12 chroot takes minutes (debootstrap
  # once per build folder): a step of its own, after the rest.
  # The package is built and installed from the normal build only.
  exclude=(-LE chroot); [ "$kind" = sanitize ] && exclude=(-LE 'lab|package|chroot')
  ctest --test-dir "$dir" --output-on-failure -j "${QUARNO_TEST_JOBS:-2}" "${exclude[@]}" || status=1
done
echo "=== test: the Debian package in a Debian 12 chroot"
# The base system and apt's downloads are kept outside the clone, so a second
# run on the same machine does not fetch them again.
export QUARNO_PACKAGE_CACHE=${QUARNO_PACKAGE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quarno-package}
ctest --test-dir build --output-on-failure -L chroot || status=1
exit $status
