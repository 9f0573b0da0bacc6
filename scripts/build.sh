#!/usr/bin/env bash
# scripts/build.sh [normal|sanitize] [TARGET...]: configures and builds one
# build folder (only the named targets, when given).
#   normal   -> build/       g++, RelWithDebInfo
#   sanitize -> build-asan/  clang, ASan + UBSan, libFuzzer targets
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-normal}
[ $# -gt 0 ] && shift
jobs=${QUARNO_JOBS:-$(nproc)}
case "$kind" in
  normal)
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null ;;
  sanitize)
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DQUARNO_SANITIZE=ON -DQUARNO_FUZZ=ON >/dev/null ;;
  *) echo "usage: $0 [normal|sanitize]" >&2; exit 2 ;;
esac
dir=build; [ "$kind" = sanitize ] && dir=build-asan
targets=()
[ $# -gt 0 ] && targets=(--target "$@")
cmake --build "$dir" -j "$jobs" "${targets[@]}"
