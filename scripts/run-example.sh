#!/usr/bin/env bash
# Installs what is missing, builds the program, and packs the sample installation of examples/
# with a batch start: no window, no dialog. The sample is copied under build/example first, so a
# run never changes examples/ (the program's own trace goes into the copy's log folder).
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/sample.sh
work="$PWD/build/example"
prepare_sample ts6satchel "$work"

package="$work/TS6Satchel-sample.zip"
status=0
./build/default/ts6satchel "$TS6_SAMPLE/drive-c/Apps/Orders" "$package" || status=$?
echo
echo "ts6satchel ended with status $status"
if [ "$status" -ne 0 ] || [ ! -f "$package" ]; then
    echo "no package was written; the trace is in $TS6_SAMPLE/drive-c/ProgramData/Norvale/TS6/logs/TS6Satchel.log"
    exit 1
fi
echo "Package: $package"
unzip -l "$package"
echo
echo "Its version manifest (TSVERSION.TXT):"
unzip -p "$package" TSVERSION.TXT | tr -d '\r'
