#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine; ctest runs the
# Windows tests through it (CMAKE_CROSSCOMPILING_EMULATOR):
#   tools/wine-run.sh PREFIX DLL_DIR program.exe [arguments]
# PREFIX is a throwaway Wine prefix, made on first use (once, whoever comes
# first: tests start side by side) with Qt's offscreen platform set in its
# environment; the Linux environment's QT_QPA_PLATFORM does not reach the
# program. DLL_DIR (may be empty) is searched for DLLs after the program's
# own folder. Nothing is shown: no display is used.
set -euo pipefail
prefix=$(realpath -m "${1:?usage: wine-run.sh PREFIX DLL_DIR program [arguments]}")
dlls=${2-}
shift 2

wine=$(command -v wine64 || true)
[ -n "$wine" ] || [ ! -x /usr/lib/wine/wine64 ] || wine=/usr/lib/wine/wine64
[ -n "$wine" ] || wine=$(command -v wine || true)
[ -n "$wine" ] || { echo "wine-run: Wine is not installed (apt-get install wine64)" >&2; exit 1; }

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$(dirname "$prefix")"
if [ ! -f "$prefix/kkm-ready" ]; then
  (
    flock 9
    if [ ! -f "$prefix/kkm-ready" ]; then
      "$wine" wineboot -i >/dev/null 2>&1 || true
      "$wine" reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /d offscreen /f >/dev/null 2>&1
      touch "$prefix/kkm-ready"
    fi
  ) 9>"$prefix.lock"
fi
[ -z "$dlls" ] || export WINEPATH=$dlls
# Wine's notes about the prefix's Z: drive are no test's output.
exec "$wine" "$@" 2> >(grep -v --line-buffered 'FS volume label and serial are not available' >&2)
