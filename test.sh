#!/usr/bin/env bash
# Builds the test configuration (AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh
build=build-test
# Line tables are all the sanitizers need for their stack traces; full debug info would make the build
# several gigabytes, more than a small CI disk holds.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1 \
  -DTREVOLAN_SANITIZE=ON -DTREVOLAN_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 600 "$@"
