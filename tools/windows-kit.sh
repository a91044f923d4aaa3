#!/usr/bin/env bash
# Makes the Qt kit the Windows build compiles against, once, into a cache
# folder, and prints that folder on standard output (the rest goes to
# standard error). The kit is Qt 6.4.2's qtbase (Core, Gui, Widgets, Test,
# the windows and offscreen platform plugins, the Windows styles) and
# libjpeg-turbo for x86_64-w64-mingw32, with the compiler's runtime DLLs.
#
#   KKM_WINDOWS_KIT          the kit's folder
#                            (default ~/.cache/kkm-configurator/windows-kit)
#   KKM_WINDOWS_KIT_TARBALL  a prebuilt kit (.tar.xz) to unpack instead of
#                            building one; a kit already unpacked from the
#                            same file is kept
#   KKM_WINDOWS_KIT_WORK     where a build from source unpacks and compiles
#                            (default: the kit's folder with ".work" added)
#
# Without a tarball the kit is built from Debian's own source packages
# (qt6-base, libjpeg-turbo) with the host's Qt tools of the same version,
# which Qt's cross build runs: about half an hour on two idle cores.
set -euo pipefail
cd "$(dirname "$0")/.."

kit=${KKM_WINDOWS_KIT:-${XDG_CACHE_HOME:-$HOME/.cache}/kkm-configurator/windows-kit}
kit=$(realpath -m "$kit")
stamp=$kit/kkm-kit.stamp
triplet=x86_64-w64-mingw32
qt_version=6.4.2

say() { echo "windows-kit: $*" >&2; }

# The cross compilers, NSIS, Wine, and rsvg-convert and icotool for the
# icon: the Windows build's own tools. The host's Qt tools come with the
# Linux build's packages.
install_tools() {
  local packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
                  nsis wine64 zip qt6-base-dev-tools xz-utils librsvg2-bin icoutils)
  local missing=() p
  for p in "${packages[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  say "installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2 ||
    { "${sudo[@]}" apt-get update -qq >&2 &&
      DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2; }
}

# The host's Qt tools must be the kit's version: moc and uic of another
# version write code the kit's headers refuse.
check_host_qt() {
  local have
  have=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null || true)
  case "$have" in
    "$qt_version"*) ;;
    *) say "the host's Qt tools are ${have:-missing}; the kit needs qt6-base-dev-tools $qt_version"; exit 1 ;;
  esac
}

from_tarball() {
  local tarball sum
  tarball=$(realpath "$KKM_WINDOWS_KIT_TARBALL")
  [ -f "$tarball" ] || { say "no such file: $KKM_WINDOWS_KIT_TARBALL"; exit 1; }
  sum=$(sha256sum "$tarball" | cut -d' ' -f1)
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "tarball $sum" ]; then
    return 0
  fi
  say "unpacking $tarball into $kit"
  rm -rf "$kit" "$kit.part"
  mkdir -p "$kit.part"
  tar -C "$kit.part" -xJf "$tarball"
  echo "tarball $sum" >"$kit.part/kkm-kit.stamp"
  mv "$kit.part" "$kit"
}

# A sources file for deb-src entries made from the machine's own deb entries
# (deb822 or one-line form), so the source packages come from the mirror the
# machine already uses.
source_entries() {
  local out=$1 f
  : >"$out"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed -E 's/^Types:.*$/Types: deb-src/' "$f" >>"$out"
    echo >>"$out"
  done
  local lists=()
  [ -f /etc/apt/sources.list ] && lists+=(/etc/apt/sources.list)
  for f in /etc/apt/sources.list.d/*.list; do [ -f "$f" ] && lists+=("$f"); done
  if [ ${#lists[@]} -gt 0 ]; then
    grep -hE '^[[:space:]]*deb[[:space:]]' "${lists[@]}" | sed -E 's/^[[:space:]]*deb[[:space:]]/deb-src /' \
      >"$out.list" || true
  fi
  [ -s "$out" ] || [ -s "$out.list" ] || { say "no apt sources to derive deb-src entries from"; exit 1; }
}

# The toolchain file the kit's libraries are built with; the kit keeps a
# copy for whoever builds against it without this project.
write_toolchain() {
  cat >"$1" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $triplet-gcc-posix)
set(CMAKE_CXX_COMPILER $triplet-g++-posix)
set(CMAKE_RC_COMPILER $triplet-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$triplet \${CMAKE_CURRENT_LIST_DIR})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
}

from_source() {
  if [ -f "$stamp" ] && grep -q '^source' "$stamp"; then
    return 0
  fi
  install_tools dpkg-dev cmake ninja-build perl
  check_host_qt
  local work=${KKM_WINDOWS_KIT_WORK:-$kit.work}
  work=$(realpath -m "$work")
  local prefix=$kit.part
  rm -rf "$prefix"
  mkdir -p "$work" "$prefix"
  say "building the kit from source in $work (about half an hour on two cores)"

  # Source packages through a private apt state, leaving the machine's alone.
  local apt=$work/apt
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/parts"
  source_entries "$apt/src.sources"
  [ -s "$apt/src.sources.list" ] && mv "$apt/src.sources.list" "$apt/parts/src.list"
  [ -s "$apt/src.sources" ] && cp "$apt/src.sources" "$apt/parts/src.sources"
  local aptopts=(-o "Dir::Etc::sourcelist=/dev/null" -o "Dir::Etc::sourceparts=$apt/parts"
                 -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache")
  apt-get "${aptopts[@]}" update -qq >&2
  (cd "$work" && apt-get "${aptopts[@]}" source --download-only -qq qt6-base libjpeg-turbo >&2)

  local qtsrc jpegsrc
  qtsrc=$work/qtbase-everywhere-src-$qt_version
  rm -rf "$qtsrc"
  local qtorig=("$work"/qt6-base_"$qt_version"*.orig.tar.xz)
  tar -C "$work" -xJf "${qtorig[0]}"
  # The windows platform plugin of 6.4.2 asks the GL context whether GL is
  # software under dynamicgl, which it has no type for when OpenGL is off.
  sed -i '/isSoftwareGl()/,/#endif/ s/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
    "$qtsrc/src/plugins/platforms/windows/qwindowswindow.cpp"
  local jpegorig=("$work"/libjpeg-turbo_*.orig.tar.gz)
  jpegsrc=$work/$(tar -tzf "${jpegorig[0]}" | sed -n '1s|/.*||p')
  rm -rf "$jpegsrc"
  tar -C "$work" -xzf "${jpegorig[0]}"

  write_toolchain "$work/mingw.cmake"
  local jobs
  jobs=$(nproc)

  # Only what the program and its tests use; the dfsg source has no wintab
  # headers, so tablet events are off. Qt's own copies of zlib, PNG and the
  # rest, so the kit needs nothing more from the build machine.
  rm -rf "$work/qt-build"
  cmake -S "$qtsrc" -B "$work/qt-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/mingw.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DBUILD_SHARED_LIBS=ON \
    -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF -DFEATURE_network=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_tabletevent=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF \
    -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF \
    -DFEATURE_system_harfbuzz=OFF >&2
  cmake --build "$work/qt-build" -j "$jobs" >&2
  cmake --install "$work/qt-build" >/dev/null

  # No SIMD: it would need nasm, and the logo's pictures are small.
  rm -rf "$work/jpeg-build"
  cmake -S "$jpegsrc" -B "$work/jpeg-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/mingw.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF >&2
  cmake --build "$work/jpeg-build" -j "$jobs" >&2
  cmake --install "$work/jpeg-build" >/dev/null

  # The compiler's runtime, which every program built with it loads.
  mkdir -p "$prefix/bin"
  local dll f
  for dll in libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll; do
    f=$($triplet-g++-posix -print-file-name=$dll)
    [ -f "$f" ] || f=$(find /usr/lib/gcc/$triplet /usr/$triplet -name $dll | sort | sed -n '$p')
    [ -f "$f" ] || { say "the compiler's $dll was not found"; exit 1; }
    cp "$f" "$prefix/bin/"
  done
  find "$prefix" -iname '*.dll' -exec $triplet-strip --strip-unneeded {} +
  write_toolchain "$prefix/mingw.cmake"
  echo "source qt6-base $qt_version" >"$prefix/kkm-kit.stamp"
  rm -rf "$kit"
  mv "$prefix" "$kit"
}

install_tools
if [ -n "${KKM_WINDOWS_KIT_TARBALL:-}" ]; then
  from_tarball
elif [ -f "$stamp" ]; then
  :
else
  from_source
fi
echo "$kit"
