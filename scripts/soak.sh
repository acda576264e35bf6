#!/usr/bin/env bash
# Soak test: COUNT batch builds in a row (200 unless told) of an installation of 100 templates,
# watching what a long run of scheduled builds would pile up: open descriptors at exit, files left
# in the temporary and package folders, peak memory of each run, and the trace rotating at 5 MB
# over 3 old files. Prints the figures of the first and the last run; fails on any growth.
set -euo pipefail
cd "$(dirname "$0")/.."
count="${1:-200}"
preset="${TS6_SOAK_PRESET:-default}"

bash scripts/install-deps.sh build test
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target ts6satchel >/dev/null
program="$PWD/build/$preset/ts6satchel"

work="$PWD/build/soak"
rm -rf "$work"
mkdir -p "$work"/{c/App/Batch,c/Logs,c/Out,tmp,trace,programdata/Norvale/TS6/logs}
for t in $(seq -w 1 100); do
    cat > "$work/c/App/T$t.TST6" <<TEMPLATE
[Template]
Title = "Template $t"
PreProcessBatchFile = 'C:\\App\\Batch\\PRE$t.BAT'
AuditLogFile = 'C:\\Logs\\T$t.LOG'
PostProcessBatchFile = 'C:\\App\\Batch\\POST$t.BAT'

[[Field]]
Name = "FIELD"
KindCode = "P"
PopupFile = 'C:\\App\\POP$t.TPX'
TEMPLATE
    for f in "App/T$t.TSD6" "App/T$t.TSX6" "App/Batch/PRE$t.BAT" "App/Batch/POST$t.BAT" "App/POP$t.TPT" "Logs/T$t.LOG"; do
        echo "$f" > "$work/c/$f"
    done
done
head -c 2000000 /dev/urandom | base64 > "$work/programdata/Norvale/TS6/logs/product.log"

export TS6_DRIVES="C=$work/c" TS6_PROGRAMDATA="$work/programdata" TS6_LOG_DIR="$work/trace"
export TMPDIR="$work/tmp" XDG_CONFIG_HOME="$work/config" TS6_REPORT_RESOURCES=1
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

leftovers() { find "$work/tmp" "$work/c/Out" -mindepth 1 | wc -l; }
first_fds="" first_left="" first_peak="" last_fds="" last_left="" last_peak=""
for i in $(seq 1 "$count"); do
    /usr/bin/time -f "peak-kb %M" "$program" "$work/c/App/" "$work/c/Out/package.zip" \
        >/dev/null 2>"$work/run.err" || { echo "run $i failed:"; tail -5 "$work/run.err"; exit 1; }
    fds=$(sed -n 's/.*open descriptors at exit: //p' "$work/run.err")
    peak=$(sed -n 's/^peak-kb //p' "$work/run.err")
    left=$(leftovers)
    if [ "$i" -eq 1 ]; then first_fds=$fds first_left=$left first_peak=$peak; fi
    last_fds=$fds last_left=$left last_peak=$peak
done

echo "soak: $count batch builds of 100 templates"
printf '%-30s %10s %10s\n' "" "run 1" "run $count"
printf '%-30s %10s %10s\n' "open descriptors at exit" "$first_fds" "$last_fds"
printf '%-30s %10s %10s\n' "files left in tmp and out" "$first_left" "$last_left"
printf '%-30s %10s %10s\n' "peak memory (MB)" "$((first_peak / 1024))" "$((last_peak / 1024))"
echo "trace files:"
ls -l "$work/trace"
unzip -tqq "$work/c/Out/package.zip"

status=0
[ "$last_fds" -le "$first_fds" ] || { echo "open descriptors grew"; status=1; }
[ "$last_left" -le "$first_left" ] || { echo "files were left behind"; status=1; }
[ "$last_peak" -le $((first_peak * 12 / 10)) ] || { echo "peak memory grew"; status=1; }
for f in "$work"/trace/*; do
    [ "$(stat -c %s "$f")" -le $((5 * 1024 * 1024 + 4096)) ] || { echo "$f is over 5 MB"; status=1; }
done
[ "$(ls "$work/trace" | wc -l)" -le 4 ] || { echo "more than 3 old trace files"; status=1; }
exit $status
