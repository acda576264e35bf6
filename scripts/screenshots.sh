#!/usr/bin/env bash
# Starts the program's windows under Xvfb on the sample installation and saves screenshots in
# build/screenshots: the main window with the grid expanded, the save dialog, the progress window
# during a build, the final message and the About box.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/sample.sh
work="$PWD/build/screenshots"
prepare_sample screenshots "$work" bench
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1280x800x24" ./build/default/tools/screenshots "$work/sample/drive-c/Apps/Orders" "$work"
ls -l "$work"/*.png
