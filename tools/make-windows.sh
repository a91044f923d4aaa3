#!/usr/bin/env bash
# Cross-builds the program for 64-bit Windows in build-windows/: the
# configurator, kkm-cli and the tests that need no register, against the Qt
# kit of tools/windows-kit.sh (made once, or unpacked from
# KKM_WINDOWS_KIT_TARBALL); then dist/, the zip and the installer. Prints
# the zip's and the installer's paths, alone, on standard output (the build
# talks on standard error). Extra arguments go to cmake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."

kit=$(tools/windows-kit.sh)
dir=${KKM_WINDOWS_BUILD_DIR:-build-windows}

# -O2 as the Linux build: GCC 12's -O3 warns wrongly about the standard
# library's own copies (array-bounds).
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
      -DKKM_WINDOWS_KIT="$kit" -DCMAKE_BUILD_TYPE=Release -DKKM_WERROR=ON \
      -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" "$@" >&2
cmake --build "$dir" -j "$(nproc)" >&2

# dist/: the two programs, the plugins Qt loads at run time (the Windows
# platform and style), and every DLL from the kit they import, followed
# through the DLLs' own imports.
dist=$dir/dist
rm -rf "$dist"
mkdir -p "$dist/platforms" "$dist/styles"
cp "$dir/app/kkm-configurator.exe" "$dir/cli/kkm-cli.exe" "$dist/"
cp "$kit/plugins/platforms/qwindows.dll" "$dist/platforms/"
cp "$kit/plugins/styles/qwindowsvistastyle.dll" "$dist/styles/"
pending=("$dist"/*.exe "$dist"/platforms/*.dll "$dist"/styles/*.dll)
while [ ${#pending[@]} -gt 0 ]; do
  file=${pending[0]}
  pending=("${pending[@]:1}")
  while IFS= read -r dll; do
    if [ -f "$kit/bin/$dll" ] && [ ! -f "$dist/$dll" ]; then
      cp "$kit/bin/$dll" "$dist/"
      pending+=("$dist/$dll")
    fi
  done < <(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r')
done
x86_64-w64-mingw32-strip --strip-unneeded "$dist"/*.exe
tools/check-windows-imports.sh "$dist"

# The portable zip and the installer, named after the project's version.
version=$(cat "$dir/kkm-version.txt")
name=kkm-configurator-$version
rm -f "$dir/$name-win64.zip" "$dir/$name-setup.exe"
rm -rf "$dir/zip" && mkdir -p "$dir/zip" && cp -r "$dist" "$dir/zip/$name"
(cd "$dir/zip" && zip -qr9 "../$name-win64.zip" "$name" >&2)
rm -rf "$dir/zip"
# The uninstaller removes exactly what was installed.
(cd "$dist" && find . -type f | sed 's|^\./||; s|/|\\|g' | sort |
   sed 's|^|  Delete "$INSTDIR\\|; s|$|"|'; find . -mindepth 1 -type d | sed 's|^\./||' | sort -r |
   sed 's|^|  RMDir "$INSTDIR\\|; s|$|"|') >"$dir/installed-files.nsh"
version4=$(echo "$version.0.0.0" | cut -d. -f1-4)
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DVERSION4="$version4" -DDIST="$(realpath "$dist")" \
  -DICON="$(realpath "$dir/kkm-configurator.ico")" -DFILES="$(realpath "$dir/installed-files.nsh")" \
  -DOUTFILE="$(realpath "$dir")/$name-setup.exe" packaging/windows/installer.nsi >&2
echo "$dir/$name-win64.zip"
echo "$dir/$name-setup.exe"
