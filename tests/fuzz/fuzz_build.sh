#!/usr/bin/env bash
# fuzz_build.sh SOURCE BUILD CC CXX SECONDS TARGET...: configures a clang
# build of the fuzz targets in BUILD (once) and builds the named targets
# (fuzz_TARGET); fails when one of them cannot be built.
set -euo pipefail
src=$1 build=$2 cc=$3 cxx=$4 seconds=$5
shift 5
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_CXX_COMPILER="$cxx" -DZV_FUZZ=ON -DZV_FUZZ_SECONDS="$seconds" >/dev/null
fi
ninja -C "$build" -j2 "${@/#/fuzz_}" >/dev/null
echo "built: $*"
