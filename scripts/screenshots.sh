#!/usr/bin/env bash
# Starts the program's windows under Xvfb, with a window manager, on the sample installation and
# saves screenshots in build/screenshots: the main window with the grid expanded, the save dialog,
# the progress window during a build, the final message, the viewer on the package built (viewer)
# and the About box; the progress window and the About box with a dark palette (-dark) and with an
# 11 pt font (-11pt); the main window of a start on a LastFolder deep in the tree
# (main-window-lastfolder); a build that could not write its package and F1; and the first start
# at scale 2 on 1920x1080 and on 1024x600, and a placement stored for a monitor that is gone
# (placement-*).
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
# Runs the screenshots tool with its arguments on a screen of the given size, once IceWM is up.
under_wm() {
    local screen="$1"
    shift
    xvfb-run -a -s "-screen 0 ${screen}x24" bash -c '
      icewm >/dev/null 2>&1 &
      trap "kill $!" EXIT
      for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
        sleep 0.1
      done
      ./build/default/tools/screenshots "$@"
    ' screenshots "$@"
}
under_wm 1280x800 "$work/sample/drive-c/Apps/Orders" "$work"

# The first start, and a placement stored for a monitor that is gone, on other screens: each run
# with settings of its own (those of the program named screenshots).
start_on() {
    local picture="$1" screen="$2" scale="$3" stored="$4"
    export XDG_CONFIG_HOME="$work/config-$picture"
    mkdir -p "$XDG_CONFIG_HOME/Norvale/TS6"
    [ -z "$stored" ] || printf '[Settings]\n%s\n' "$stored" >"$XDG_CONFIG_HOME/Norvale/TS6/screenshots.ini"
    QT_SCALE_FACTOR="$scale" under_wm "$screen" --start "$work/$picture.png"
}
start_on placement-scale2-1920x1080 1920x1080 2 ""
start_on placement-1024x600 1024x600 1 ""
start_on placement-gone-monitor 1280x800 1 $'WindowLeft=2500\nWindowTop=200\nWindowWidth=900\nWindowHeight=650'
ls -l "$work"/*.png
