#!/usr/bin/env bash
# Installs a built tree into an empty folder and checks what lands there: exactly the expected
# files, a desktop entry and metainfo that their validators accept, a manual page that man
# formats without a warning, a completion that bash reads, and a program that runs.
# Usage: data/check-install.sh BUILD_FOLDER VERSION APP_ID   (a CTest test; needs the "test" group)
set -euo pipefail
build="$1" version="$2" id="$3"
for tool in desktop-file-validate appstreamcli man; do
    command -v "$tool" >/dev/null ||
        { echo "$tool is not installed: run bash scripts/install-deps.sh test"; exit 1; }
done

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

expected=(
    bin/ts6satchel
    "share/applications/$id.desktop"
    share/bash-completion/completions/ts6satchel
    share/doc/ts6satchel/ts6satchel.html
    "share/icons/hicolor/scalable/apps/$id.svg"
    share/man/man1/ts6satchel.1.gz
    "share/metainfo/$id.metainfo.xml"
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("share/icons/hicolor/${size}x$size/apps/$id.png")
done
status=0
if ! diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort); then
    echo "the installed files differ from the list above (< expected, > installed)"
    status=1
fi

desktop-file-validate "$prefix/share/applications/$id.desktop" || status=1
appstreamcli validate --no-net --no-color "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null ||
    { appstreamcli validate --no-net --no-color "$prefix/share/metainfo/$id.metainfo.xml"; status=1; }

warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$prefix/share/man/man1/ts6satchel.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "man: $warnings"; status=1; }
bash -n "$prefix/share/bash-completion/completions/ts6satchel" || status=1

printed=$("$prefix/bin/ts6satchel" --version)
[[ $printed == *"$version"* ]] || { echo "ts6satchel --version printed '$printed', not $version"; status=1; }
[ $status -ne 0 ] || echo "installed files: ${#expected[@]}, all valid"
exit $status
