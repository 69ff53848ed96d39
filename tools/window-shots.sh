#!/usr/bin/env bash
# Writes a picture of every page of the main window, in Russian, English and Ukrainian, for a look by eye:
#   tools/window-shots.sh OUTDIR [TREE.ged]
# Uses the trevolan-shots program (tests/gui/shots/) of build-test/ (./test.sh builds it) or of $TREVOLAN_BUILD,
# under a virtual X server when xvfb-run is there, else on Qt's offscreen platform.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:?usage: tools/window-shots.sh OUTDIR [TREE.ged]}
shift
build=${TREVOLAN_BUILD:-$root/build-test}
shots=$build/tests/gui/shots/trevolan-shots
if [ ! -x "$shots" ]; then
  echo "no $shots: build it first (cmake --build $build --target trevolan-shots)" >&2
  exit 1
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
if command -v xvfb-run >/dev/null; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$shots" "$out" "$@"
fi
QT_QPA_PLATFORM=offscreen exec "$shots" "$out" "$@"
