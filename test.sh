#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest
# (window tests on Qt's offscreen platform). Then builds the tests without
# windows, kkm-cli's and the window test of closing during transfers under
# ThreadSanitizer, and those and the window tests of the transfers, the CSV
# files and the logo upload under AddressSanitizer with
# UndefinedBehaviorSanitizer, and runs them.
# Then builds the fuzz targets with clang and runs each for a few seconds.
# Last, when a Qt kit for Windows is at hand (cached by tools/windows-kit.sh,
# or KKM_WINDOWS_KIT_TARBALL names one), cross-builds the Windows program
# and runs its tests and its installer under Wine (tools/test-windows.sh).
set -euo pipefail
cd "$(dirname "$0")"

tools/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

# Most tests wait on a line most of the time, so ctest runs up to 16 at
# once; the ones that keep a core busy share the machine's cores through
# the resource file each build tree writes (tests/CMakeLists.txt).
run_tests() {
  local dir=$1
  shift
  ctest --test-dir "$dir" --output-on-failure -j 16 \
        --resource-spec-file "$PWD/$dir/ctest-resources.json" "$@"
}

# Optimised as released, with line tables only: full debug information
# would make the build a good part slower for no test's sake.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKKM_WERROR=ON \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
cmake --build build -j "$jobs"
run_tests build

for san in thread address,undefined; do
  dir="build-${san%%,*}"
  labels='sanitize|closing'
  if [ "$san" != thread ]; then labels='sanitize|asan'; fi
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKKM_SANITIZE=$san \
        -DKKM_BUILD_UI=ON -DKKM_BUILD_BENCH=OFF
  cmake --build "$dir" -j "$jobs"
  run_tests "$dir" -L "$labels"
done

# Fuzz smoke runs: each target a few seconds (tools/fuzz-long.sh for long runs).
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ -DKKM_FUZZ=ON
cmake --build build-fuzz -j "$jobs"
ctest --test-dir build-fuzz --output-on-failure -L fuzz -j "$jobs"

# Windows: only with a kit, which is made once (tools/windows-kit.sh).
kit=${KKM_WINDOWS_KIT:-${XDG_CACHE_HOME:-$HOME/.cache}/kkm-configurator/windows-kit}
if [ -n "${KKM_WINDOWS_KIT_TARBALL:-}" ] || [ -f "$kit/kkm-kit.stamp" ]; then
  tools/test-windows.sh
else
  echo "Windows stage skipped: no Qt kit for Windows; give one with KKM_WINDOWS_KIT_TARBALL=<kit.tar.xz> ./test.sh or build one with tools/windows-kit.sh"
fi
