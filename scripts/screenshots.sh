#!/usr/bin/env bash
# Starts the program's windows under Xvfb, with a window manager, on the sample installation and
# saves screenshots in build/screenshots: the main window with the grid expanded, the save dialog,
# the progress window during a build, the final message and the About box; the progress window
# and the About box with a dark palette (-dark) and with an 11 pt font (-11pt); the main window
# of a start on a LastFolder deep in the tree (main-window-lastfolder).
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/sample.sh
work="$PWD/build/screenshots"
prepare_sample screenshots "$work" bench
unset QT_QPA_PLATFORM
# IceWM draws the frames the windows ask for (no minimise or maximise button where a window has
# none); without its task bar, so the pictures show only the program.
mkdir -p "$work/icewm"
printf "ShowTaskBar=0\nShowWorkspaceStatus=0\n" >"$work/icewm/preferences"
export ICEWM_PRIVCFG="$work/icewm"
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  icewm >/dev/null 2>&1 &
  trap "kill $!" EXIT
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
    sleep 0.1
  done
  ./build/default/tools/screenshots "$1" "$2"
' screenshots "$work/sample/drive-c/Apps/Orders" "$work"
ls -l "$work"/*.png
