#!/bin/sh
# Shared by run.sh and test.sh: installs the Debian packages that are missing,
# then configures and builds Quorvane into build/ (or $QV_BUILD_DIR).
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${QV_BUILD_DIR:-$ROOT/build}

PACKAGES="build-essential cmake ninja-build ccache clang qt6-base-dev libgtest-dev \
libgmock-dev libbenchmark-dev fonts-liberation2 poppler-utils sqlite3 python3 \
xvfb xauth libx11-dev libxtst-dev libgl-dev unrtf libclang-rt-14-dev libasound2-dev ripgrep libsqlite3-dev"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y $missing
fi
# Gramps checks exported GEDCOM files (tests only); it runs headless, so none
# of its recommended desktop packages is needed.
if ! dpkg-query -W -f='${Status}' gramps 2>/dev/null | grep -q "install ok installed"; then
  echo "Installing: gramps"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends gramps
fi

# A fresh clone in another folder still reuses the compiler cache.
export CCACHE_BASEDIR="$ROOT"
export CCACHE_NOHASHDIR=1

if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${QV_CMAKE_ARGS:-}
fi
cmake --build "$BUILD" -j "$(nproc)"
