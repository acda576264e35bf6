#!/usr/bin/env bash
# Installs the tus server and the fault-injecting proxy the upload tests and benchmark run against:
# copies tests/support/tus/package.json and its lock file to DEST and installs exactly the locked
# packages there with npm ci. Safe to run again: nothing is fetched while DEST/node_modules exists
# and the lock file is the one it was installed from.
#
#   bash scripts/install-tus-server.sh DEST
set -euo pipefail

if [ $# -ne 1 ] || [ -z "$1" ]; then
    echo "usage: install-tus-server.sh DEST" >&2
    exit 64
fi
dest=$1
source_dir="$(cd "$(dirname "$0")/.." && pwd)/tests/support/tus"

if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    echo "install-tus-server.sh: node and npm are needed for the tus test server;" \
        "install them with: bash scripts/install-deps.sh test" >&2
    exit 1
fi

mkdir -p "$dest"
# The scripts are run from the source folder; only the package files live in DEST.
if [ -d "$dest/node_modules" ] && cmp -s "$source_dir/package-lock.json" "$dest/package-lock.json" &&
    cmp -s "$source_dir/package.json" "$dest/package.json"; then
    exit 0
fi

cp "$source_dir/package.json" "$source_dir/package-lock.json" "$dest/"
log="$dest/npm-ci.log"
if ! (cd "$dest" && npm ci --no-audit --no-fund --loglevel=error >"$log" 2>&1); then
    echo "install-tus-server.sh: npm ci failed in $dest:" >&2
    tail -n 20 "$log" >&2
    # A half-made node_modules must not pass for an installation the next time.
    rm -rf "$dest/node_modules"
    exit 1
fi
