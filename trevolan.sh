#!/usr/bin/env bash
# Builds the Release program and starts it with the bundled sample family tree open.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-run-deps.sh  # only what running needs; ./test.sh adds the test toolchain
build=build-release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTREVOLAN_TESTS=OFF -DTREVOLAN_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target trevolan
exe="$build/app/trevolan"
ini="$build/app/trevolan.ini"
# The program reads no command line: on a first start, point its settings at the sample tree.
if [ ! -f "$ini" ]; then
  printf '[Options]\r\nEdit2=%s\r\n' "$(pwd)/samples/sample-utf8.ged" > "$ini"
fi
exec "$exe"
