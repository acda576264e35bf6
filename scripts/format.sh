#!/usr/bin/env bash
# Formats the C++ sources of the project with its .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
find src tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i
