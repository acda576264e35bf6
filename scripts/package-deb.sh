#!/usr/bin/env bash
# Builds the Debian package build/deb/ts6satchel_<version>_<arch>.deb: a release build of the
# program with Debian's hardening flags (no tests, no benchmarks), packed by CPack with its
# dependencies read from the shared libraries it links, then checked by lintian.
# Install it with:  apt-get install ./build/deb/ts6satchel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh build package

build=build/deb
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -G Ninja "${launcher[@]}" \
    -DCMAKE_BUILD_TYPE=Release -DTS6_BUILD_TESTS=OFF -DTS6_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" --target ts6satchel ts6satchel_changelog
rm -f "$build"/ts6satchel_*.deb
(cd "$build" && cpack)

deb=$(echo "$build"/ts6satchel_*.deb)
[ -f "$deb" ] || { echo "package-deb.sh: CPack made no package"; exit 1; }
echo
dpkg-deb --field "$deb" Package Version Architecture Depends Installed-Size
dpkg-deb --contents "$deb" | awk '{print $1, $6}'
echo
# lintian reads the package as any Debian maintainer would; an error fails the script.
lintian --info --display-info --pedantic "$deb" || { echo "package-deb.sh: lintian found errors"; exit 1; }
echo "Package: $deb"
