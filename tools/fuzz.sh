#!/bin/sh
# Builds the libFuzzer targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer (its reports fatal), then runs each for a short while from its
# committed corpus (the fuzz_* CTest tests of the fuzz build), with a fixed
# seed so that a run is repeatable.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${QV_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
export CCACHE_BASEDIR="$ROOT"
export CCACHE_NOHASHDIR=1
if [ ! -f "$BUILD/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_FUZZ=ON -DQV_BUILD_GUI=OFF -DQV_BUILD_BENCH=OFF
fi
cmake --build "$BUILD" --target fuzz_all -j "$(nproc)"
# Undefined behaviour ends a fuzz run as a crash does (the fuzz build's
# UndefinedBehaviorSanitizer would otherwise report and carry on).
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
cd "$BUILD"
ctest --output-on-failure -R '^fuzz_' -j "$(nproc)"
