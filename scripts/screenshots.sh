#!/usr/bin/env bash
# Starts the program's windows under Xvfb on the sample installation and saves screenshots in
# build/screenshots: the main window with the grid expanded, the save dialog, the progress window
# during a build, the final message and the About box.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target screenshots

work="$PWD/build/screenshots"
rm -rf "$work"
mkdir -p "$work/sample"
cp -r examples/drive-c "$work/sample/"
export TS6_SAMPLE="$work/sample"
# shellcheck source=../examples/sample.env
source examples/sample.env
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1280x800x24" ./build/default/tests/screenshots "$work/sample/drive-c/Apps/Orders" "$work"
ls -l "$work"/*.png
