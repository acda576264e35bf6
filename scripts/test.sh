#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs the whole test suite: the tests, a bounded
# fuzzing run of the template reader and of the zip reader, the suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a soak of 200 batch builds. In CI (CI=true) warnings are errors.
# TS6_QUICK=1 runs the tests and the fuzzer only.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh build test bench

preset=default
[ "${CI:-}" = "true" ] && preset=ci
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
# The upload tests' tus server, before the tests: the window tests skip their upload case without it.
bash scripts/install-tus-server.sh "build/$preset/tus"
ctest --preset "$preset" -j2

# Bad templates must never crash a load, nor a hostile package a read: fuzz the template reader and
# the zip reader for a bounded time each under AddressSanitizer (a crash, leak or hang fails the run).
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_templatereader fuzz_zipreader
mkdir -p build/fuzz/corpus build/fuzz/zipcorpus
./build/fuzz/tests/fuzz/fuzz_templatereader -max_total_time="${TS6_FUZZ_SECONDS:-30}" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 build/fuzz/corpus tests/fuzz/seeds 2>build/fuzz/last-run.log \
    || { tail -n 60 build/fuzz/last-run.log; exit 1; }
grep -E '^stat::number_of_executed_units' build/fuzz/last-run.log | sed 's/^/fuzz_templatereader: /'
./build/fuzz/tests/fuzz/fuzz_zipreader -max_total_time="${TS6_FUZZ_SECONDS:-30}" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 build/fuzz/zipcorpus tests/fuzz/zipseeds 2>build/fuzz/last-zip-run.log \
    || { tail -n 60 build/fuzz/last-zip-run.log; exit 1; }
grep -E '^stat::number_of_executed_units' build/fuzz/last-zip-run.log | sed 's/^/fuzz_zipreader: /'

[ "${TS6_QUICK:-}" = "1" ] && exit 0

# The whole suite once more under the sanitizers.
cmake --preset asan >/dev/null
cmake --build --preset asan
bash scripts/install-tus-server.sh build/asan/tus
ctest --preset asan -j2

# A long run of batch builds: no growth in descriptors, leftovers or memory; the trace rotates.
# It runs the program built above, not a build of its own.
TS6_SOAK_PRESET="$preset" bash scripts/soak.sh "${TS6_SOAK_COUNT:-200}"
