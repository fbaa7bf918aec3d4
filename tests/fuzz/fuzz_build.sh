#!/usr/bin/env bash
# fuzz_build.sh SOURCE BUILD CC CXX SECONDS: configures a clang build of the
# fuzz targets in BUILD (once), builds them and runs their tests.
set -euo pipefail
src=$1 build=$2 cc=$3 cxx=$4 seconds=$5
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_CXX_COMPILER="$cxx" -DZV_FUZZ=ON -DZV_FUZZ_SECONDS="$seconds" >/dev/null
fi
targets=$(cd "$build" && ninja -t targets all | sed -n 's/^\(fuzz_[a-z_]*\): phony$/\1/p' | sort -u)
[ -n "$targets" ] || { echo "no fuzz targets (engine sources missing)"; exit 77; }
# shellcheck disable=SC2086
ninja -C "$build" -j2 $targets >/dev/null
ctest --test-dir "$build" -L fuzz --output-on-failure
