#!/usr/bin/env bash
# Installs the Debian packages TS6Satchel needs, by purpose. Safe to run again: packages already
# present are left alone, and nothing is asked of apt when none is missing.
#
#   bash scripts/install-deps.sh [GROUP]...     (no group: build)
#
#   build     building and running the program, and the sample run of scripts/run-example.sh
#   test      the test suite, the fuzzer, the soak and the checks of the installed files
#   bench     the benchmarks, their competitors, the screenshots under Xvfb, rendering the icons
#   package   making and checking the Debian package (scripts/package-deb.sh)
#   all       every group
set -euo pipefail

declare -A groups
groups[build]="
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  zlib1g-dev libdeflate-dev libspdlog-dev libfmt-dev libtomlplusplus-dev
  libcurl4-openssl-dev libssl-dev ca-certificates
  fonts-dejavu-core unzip groff"
groups[test]="
  clang-14 libclang-rt-14-dev
  unzip zip python3 7zip libarchive-tools time
  desktop-file-utils appstream man-db
  openssh-client openssh-server libnss-wrapper"
groups[bench]="
  libisal-dev zip 7zip python3 time
  xvfb xauth x11-utils icewm fonts-dejavu-core librsvg2-bin
  openssh-client openssh-server libnss-wrapper"
groups[package]="dpkg-dev file lintian"

chosen=("${@:-build}")
wanted=()
for group in "${chosen[@]}"; do
    [ "$group" != all ] || group="build test bench package"
    for g in $group; do
        if [ -z "${groups[$g]+set}" ]; then
            echo "install-deps.sh: there is no group '$g'; the groups are: build test bench package all" >&2
            exit 64
        fi
        read -r -d '' -a names <<<"${groups[$g]}" || true
        wanted+=("${names[@]}")
        # The tus server of the upload tests and benchmark runs on Node.js (scripts/install-tus-server.sh).
        # Debian's nodejs and npm only where no node and npm are found: a Node.js from elsewhere brings
        # its own npm, which Debian's npm package conflicts with.
        if [[ $g == test || $g == bench ]] && ! { command -v node && command -v npm; } >/dev/null; then
            wanted+=(nodejs npm)
        fi
    done
done

missing=()
for p in $(printf '%s\n' "${wanted[@]}" | sort -u); do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

as_root=(env DEBIAN_FRONTEND=noninteractive)
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "install-deps.sh: these Debian packages are missing: ${missing[*]}" >&2
        echo "Installing them needs root, and sudo is not installed. As root, run:" >&2
        echo "    apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
    as_root=(sudo "${as_root[@]}")
fi

echo "install-deps.sh: installing ${missing[*]}"
"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
