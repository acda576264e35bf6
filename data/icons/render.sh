#!/usr/bin/env bash
# Renders the PNG icons from ts6satchel.svg, one per size the desktop asks for. Run it after
# changing the SVG and commit the PNGs with it; the build installs them as they are.
# Needs rsvg-convert (bash scripts/install-deps.sh pictures).
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert --width "$size" --height "$size" ts6satchel.svg --output "ts6satchel-$size.png"
done
