#!/bin/sh
# Shared by run.sh and test.sh: installs the Debian packages that are missing,
# then configures and builds Quorvane into build/ (or $QV_BUILD_DIR).
#
#   tools/bootstrap.sh run    what the program needs, and the program alone
#   tools/bootstrap.sh test   that, the tests' tools too (GoogleTest, clang
#                             for the fuzz build, Gramps, Xvfb, ...), and
#                             everything built
#   tools/bootstrap.sh <mode> --list   prints the packages of the mode
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${QV_BUILD_DIR:-$ROOT/build}
MODE=${1:-test}

# The program: compiler and build tools, Qt 6 (its OpenGL headers), the
# fonts its pages use and ALSA for its sounds.
PROGRAM_PACKAGES="build-essential cmake ninja-build ccache qt6-base-dev qt6-qpa-plugins libgl-dev \
fonts-liberation2 libasound2-dev"
# The tests, benchmarks and fuzz targets.
TEST_PACKAGES="clang libgtest-dev libgmock-dev libbenchmark-dev poppler-utils sqlite3 python3 \
xvfb xauth libx11-dev libxtst-dev unrtf libclang-rt-14-dev ripgrep libsqlite3-dev"

case "$MODE" in
  run) PACKAGES="$PROGRAM_PACKAGES" ;;
  test) PACKAGES="$PROGRAM_PACKAGES $TEST_PACKAGES gramps" ;;
  *) echo "usage: $0 run|test [--list]" >&2; exit 2 ;;
esac
if [ "${2:-}" = --list ]; then
  echo $PACKAGES
  exit 0
fi

missing=""
gramps=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    if [ "$p" = gramps ]; then gramps=gramps; else missing="$missing $p"; fi
  fi
done
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
if [ -n "$missing$gramps" ]; then
  echo "Installing:$missing $gramps"
  $SUDO apt-get update
fi
if [ -n "$missing" ]; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y $missing
fi
# Gramps checks exported GEDCOM files (tests only); it runs headless, so none
# of its recommended desktop packages is needed.
if [ -n "$gramps" ]; then
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends gramps
fi

# A fresh clone in another folder still reuses the compiler cache.
export CCACHE_BASEDIR="$ROOT"
export CCACHE_NOHASHDIR=1

if [ "$MODE" = run ]; then
  # A build folder of its own making leaves the tests and benchmarks out; one
  # that test.sh made already is only brought up to date for the program.
  if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF ${QV_CMAKE_ARGS:-}
  fi
  cmake --build "$BUILD" -j "$(nproc)" --target quorvane
else
  if [ ! -f "$BUILD/build.ninja" ] || grep -q "^QV_BUILD_TESTS:BOOL=OFF" "$BUILD/CMakeCache.txt" 2>/dev/null; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DQV_BUILD_TESTS=ON -DQV_BUILD_BENCH=ON ${QV_CMAKE_ARGS:-}
  fi
  cmake --build "$BUILD" -j "$(nproc)"
fi
