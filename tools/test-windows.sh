#!/usr/bin/env bash
# test.sh's Windows stage: cross-builds the program (tools/make-windows.sh,
# which also checks dist/'s imports and packs the zip and the installer),
# runs the tests that need no register under Wine, kkm-cli.exe against
# emulators on COM ports (tools/test-windows-line.sh), then installs the
# program silently into the Wine prefix, asks the installed kkm-cli for its
# version and uninstalls it again.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)
dir=${KKM_WINDOWS_BUILD_DIR:-build-windows}

# Its standard output is the zip's and the installer's paths.
built=$(tools/make-windows.sh)
mapfile -t packages <<<"$built"
setup=$(realpath "${packages[1]}")

# One prefix for the whole stage: making one takes a good part of a minute.
prefix=$PWD/$dir/wine
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
# Every program of the prefix, its server and Wine's own services end with
# the stage, however it ends: nothing of it may outlive the test run.
stop_wine() {
  if [ -d "$prefix" ]; then
    WINEPREFIX=$prefix "$wineserver" -k >/dev/null 2>&1 || true
  fi
}
trap stop_wine EXIT
stop_wine
rm -rf "$prefix" "$prefix.lock"
wine() { tools/wine-run.sh "$prefix" "" "$@"; }
# Waits until every program of the prefix has ended.
settle() { WINEPREFIX=$prefix "$wineserver" -w || true; }
wine cmd /c exit 0

ctest --test-dir "$dir" --output-on-failure -j 4 --resource-spec-file "$PWD/$dir/ctest-resources.json"

# kkm-cli.exe against Linux emulators on COM ports of the prefix, beside
# the Linux kkm-cli and window (test.sh has built them in build/).
linux=${KKM_LINUX_BUILD_DIR:-build}
[ -f "$linux/CMakeCache.txt" ] ||
  cmake -S . -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
cmake --build "$linux" --target kkm-emulator kkm-cli line_window_test
tools/test-windows-line.sh "$prefix" "$dir" "$linux"

# The installer, as a user's silent install would run it.
version=$(cat "$dir/kkm-version.txt")
installed=$prefix/drive_c/Program\ Files/KKM\ Configurator
entry=$prefix/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Конфигуратор\ ДЛФ.lnk
fail() { echo "Windows stage: $*" >&2; exit 1; }
wine "$setup" /S
settle
[ -f "$installed/kkm-configurator.exe" ] || fail "the installer put no kkm-configurator.exe into $installed"
[ -f "$entry" ] || fail "the installer made no Start menu entry ($entry)"
answer=$(wine "$installed/kkm-cli.exe" --version | tr -d '\r')
[ "$answer" = "kkm-cli $version" ] || fail "the installed kkm-cli --version answered '$answer', not 'kkm-cli $version'"
# Russian text reaches a reader as UTF-8 (the console is switched to it).
help=$(wine "$installed/kkm-cli.exe" --help | tr -d '\r' | sed -n 1p)
[ "$help" = "kkm-cli: настройка ККМ из командной строки, одной или сразу нескольких." ] ||
  fail "kkm-cli --help began with '$help'"
wine "$installed/uninstall.exe" /S
# The uninstaller runs on from a copy of itself: wait until it is done.
settle
[ ! -e "$installed" ] || fail "the uninstaller left $(ls "$installed" | tr '\n' ' ')in $installed"
[ ! -e "$entry" ] || fail "the uninstaller left the Start menu entry"
echo "Windows stage passed in $(( $(date +%s) - started )) s"
