#!/usr/bin/env bash
# Renders every window and page state of quarno-server to build/ui-gallery/
# (offscreen, no display needed) and refreshes the few pictures under docs/ui/.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -d build ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target ui_gallery
QT_QPA_PLATFORM=offscreen build/tests/unit/ui_qt/ui_gallery build/ui-gallery
mkdir -p docs/ui
for picture in init-running init-error-101 page-firmware-intro page-upgrade-installing \
  main-registered main-unfolded-users main-dimmed-waiting folder-chooser-korean help-window; do
  cp "build/ui-gallery/$picture.png" docs/ui/
done
echo "docs/ui/ refreshed"
