#!/usr/bin/env bash
# Builds a Release tree of the three programs in build-deb/ and packs it as a
# Debian package with CPack. Prints the path of the .deb, alone, on standard
# output (the build talks on standard error):
#   sudo apt-get install -y ./build-deb/kkm-configurator_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh >&2

dir=${KKM_DEB_BUILD_DIR:-build-deb}
# Tests and benchmarks are left out of the package, so only the programs are
# built: `install` (which cpack runs) then does not wait for the whole tree.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DKKM_BUILD_BENCH=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >&2
cmake --build "$dir" -j "$(nproc)" --target kkm-configurator kkm-cli kkm-emulator man-pages >&2

rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB >&2)
deb=$(ls "$dir"/*.deb)
realpath "$deb"
