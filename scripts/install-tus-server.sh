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
dest=$(cd "$dest" && pwd) # npm runs inside it; its log is named from anywhere
# The scripts are run from the source folder; only the package files live in DEST.
if [ -d "$dest/node_modules" ] && cmp -s "$source_dir/package-lock.json" "$dest/package-lock.json" &&
    cmp -s "$source_dir/package.json" "$dest/package.json"; then
    exit 0
fi

cp "$source_dir/package.json" "$source_dir/package-lock.json" "$dest/"
log="$dest/npm-ci.log"
install() { (cd "$dest" && npm ci --no-audit --no-fund --loglevel=error "$@" >"$log" 2>&1); }
# Every package of the lock file carries its SHA-512, and npm ci checks each download against it.
every_package_pinned() {
    node -e 'const l = require(process.argv[1]);
             const p = Object.entries(l.packages || {}).filter(([k]) => k !== "");
             process.exit(p.length > 0 && p.every(([, v]) => /^sha512-/.test(v.integrity || "")) ? 0 : 1);' \
        "$dest/package-lock.json"
}
ok=0
install && ok=1
# Behind a proxy that re-signs TLS with a CA this system does not know (a fresh machine on a
# company network), the registry's certificate cannot be checked. The bytes still can: with every
# package pinned by its SHA-512 in the lock file, npm ci tries once more without the certificate
# check and installs only what matches the lock.
if [ "$ok" = 0 ] && grep -qE 'SELF_SIGNED_CERT_IN_CHAIN|UNABLE_TO_GET_ISSUER_CERT|UNABLE_TO_VERIFY_LEAF_SIGNATURE' "$log" &&
    every_package_pinned; then
    echo "install-tus-server.sh: the registry's certificate cannot be checked here; installing the" \
        "packages pinned by their SHA-512 in the lock file" >&2
    install --strict-ssl=false && ok=1
fi
if [ "$ok" = 0 ]; then
    echo "install-tus-server.sh: npm ci failed in $dest:" >&2
    tail -n 20 "$log" >&2
    # A half-made node_modules must not pass for an installation the next time.
    rm -rf "$dest/node_modules"
    exit 1
fi
