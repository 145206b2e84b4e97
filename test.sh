#!/bin/sh
# Builds Quorvane and runs every test, then a short run of every fuzz target;
# exits non-zero on any failure.
set -eu
ROOT=$(cd "$(dirname "$0")" && pwd)
BUILD=${QV_BUILD_DIR:-$ROOT/build}
"$ROOT/tools/bootstrap.sh"
export QT_QPA_PLATFORM=offscreen
(cd "$BUILD" && ctest --output-on-failure -j "$(nproc)" --timeout 300)
if [ "${QV_SKIP_FUZZ:-0}" != 1 ]; then
  "$ROOT/tools/fuzz.sh"
fi
