#!/usr/bin/env bash
# Runs the walkthrough of lab/netns-lab.md as a person would: the commands of
# its ```sh blocks, in order, in one shell, on a fresh lab of its own. Any
# command that fails fails the run.
#
#   tests/lab/walkthrough/run.sh BUILD_DIR
#
# Exit status 77 (skipped) where no lab can be built here.
set -uo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)

if [ "$(id -u)" -ne 0 ]; then echo "skipped: the namespace lab needs root"; exit 77; fi
for tool in ip nft miniupnpd upnpc python3 curl; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
for program in tests/lab/service/quarno-lab-tool apps/quarno-bootup-service apps/quarno-ftpd; do
  [ -x "$build/$program" ] || { echo "run.sh: $build/$program is not built" >&2; exit 1; }
done

id=walk$$
script=$(mktemp)
# The lab goes whatever happens; QUARNO_LAB_WATCH also takes it down should
# this script be killed before its trap runs.
trap 'QUARNO_LAB_ID=$id "$root/lab/netns-lab.sh" down >/dev/null 2>&1; rm -f "$script"' EXIT
awk '/^```sh$/ {on = 1; next} /^```/ {on = 0} on' "$root/lab/netns-lab.md" >"$script"
[ -s "$script" ] || { echo "run.sh: no commands found in lab/netns-lab.md" >&2; exit 1; }

cd "$root"
QUARNO_LAB_ID=$id QUARNO_LAB_WATCH=$$ QUARNO_BUILD_DIR=$build bash -euxo pipefail "$script"
