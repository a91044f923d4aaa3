#!/usr/bin/env bash
# Builds the fuzz targets with clang (build-fuzz/) and runs each for SECONDS
# (default 60), one after the other, printing executions and findings per
# target. The corpus grows in build-fuzz/fuzz/corpus/ from run to run.
#   tools/fuzz-long.sh 120
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DKKM_FUZZ=ON >/dev/null || exit 1
cmake --build build-fuzz -j "$(nproc)" || exit 1

export QT_QPA_PLATFORM=offscreen
status=0
for target in build-fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  tools/fuzz-run.sh "$target" "$seconds" "build-fuzz/fuzz/corpus/$name" || status=1
done
exit $status
