#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest
# (window tests on Qt's offscreen platform). Then builds the serial link and
# transaction tests under ThreadSanitizer and AddressSanitizer and runs them.
set -euo pipefail
cd "$(dirname "$0")"

tools/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKKM_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

for san in thread address; do
  dir="build-$san"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKKM_SANITIZE=$san \
        -DKKM_BUILD_UI=OFF -DKKM_BUILD_BENCH=OFF
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -L sanitize
done
