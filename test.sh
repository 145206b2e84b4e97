#!/bin/sh
# Builds Quorvane and runs every test; exits non-zero on any failure.
set -eu
ROOT=$(cd "$(dirname "$0")" && pwd)
BUILD=${QV_BUILD_DIR:-$ROOT/build}
"$ROOT/tools/bootstrap.sh"
export QT_QPA_PLATFORM=offscreen
cd "$BUILD"
ctest --output-on-failure -j "$(nproc)" --timeout 300
