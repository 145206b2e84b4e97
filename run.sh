#!/bin/sh
# Installs what the program needs (nothing the tests alone need), builds it
# and starts it on the bundled sample registers.
set -eu
ROOT=$(cd "$(dirname "$0")" && pwd)
BUILD=${QV_BUILD_DIR:-$ROOT/build}
"$ROOT/tools/bootstrap.sh" run

EXE="$BUILD/app/quorvane"
INI="$BUILD/app/Quorvane.INI"
# First run: the sample registers to search, saved pages in a folder apart.
"$ROOT/tools/first_settings.sh" "$INI" "$ROOT"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
  echo "run.sh: no display (DISPLAY is not set); start Quorvane from a desktop session or under xvfb-run." >&2
  exit 1
fi
cd "$BUILD/app"
exec "$EXE" "$@"
