#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs the whole test suite.
# In CI (CI=true) warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

preset=default
[ "${CI:-}" = "true" ] && preset=ci
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j2
