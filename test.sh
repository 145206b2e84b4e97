#!/bin/sh
# Builds Quorvane and runs every test, then a short run of every fuzz target;
# exits non-zero on any failure.
set -eu
ROOT=$(cd "$(dirname "$0")" && pwd)
BUILD=${QV_BUILD_DIR:-$ROOT/build}
# The tests start python3 thousands of times: they run Debian's (bootstrap
# installs it), not a version manager's shim earlier in PATH, which costs
# half a second a start.
export PATH="/usr/bin:$PATH"
"$ROOT/tools/bootstrap.sh" test
export QT_QPA_PLATFORM=offscreen
# The X11 routines are tested on a real X server: without a display the
# tests run under xvfb-run (the tests start an Xvfb of their own otherwise,
# and skip, saying so, only where none can be started).
XRUN=""
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
  XRUN="xvfb-run -a"
fi
(cd "$BUILD" && $XRUN ctest --output-on-failure -j "$(nproc)" --timeout 300)
if [ "${QV_SKIP_FUZZ:-0}" != 1 ]; then
  "$ROOT/tools/fuzz.sh"
fi
