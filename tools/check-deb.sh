#!/usr/bin/env bash
# Installs the Debian package on a clean Debian 12 (a minimal debootstrap
# root) and starts both programs there: the emulator publishes its port, the
# configurator runs (offscreen) until it is stopped after a few seconds.
# Needs root and the Debian mirror; the root is made once and kept.
#
#   tools/check-deb.sh [package.deb] [root dir]   # defaults: tools/make-deb.sh's, /var/tmp/kkm-deb12
set -euo pipefail
cd "$(dirname "$0")/.."

deb=${1:-}
root=${2:-/var/tmp/kkm-deb12}
if [ -z "$deb" ]; then
  deb=$(tools/make-deb.sh)
fi
if [ "$(id -u)" != 0 ]; then
  echo "Run as root: it makes and enters a chroot." >&2
  exit 2
fi
command -v debootstrap >/dev/null || apt-get install -y debootstrap
if [ ! -x "$root/bin/bash" ]; then
  debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian
fi

mounts=()
cleanup() {
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount "${mounts[i]}" || true
  done
}
trap cleanup EXIT
for m in proc dev dev/pts; do
  case $m in
    proc) mount -t proc proc "$root/proc" ;;
    dev/pts) mount -t devpts devpts "$root/dev/pts" ;;
    *) mount --bind "/$m" "$root/$m" ;;
  esac
  mounts+=("$root/$m")
done

cp "$deb" "$root/tmp/kkm.deb"
chroot "$root" /bin/bash -eu -c '
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null
  apt-get install -y -q /tmp/kkm.deb >/dev/null
  echo "installed: $(dpkg-query -W -f="\${Package} \${Version}" kkm-configurator)"
  if ldd /usr/bin/kkm-configurator /usr/bin/kkm-cli /usr/bin/kkm-emulator | grep "not found"; then exit 1; fi
  export XDG_RUNTIME_DIR=/tmp/kkm-rt
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"
  kkm-emulator >/tmp/kkm-emulator.log 2>&1 &
  emulator=$!
  for _ in $(seq 50); do [ -e "$XDG_RUNTIME_DIR/kkm-emulator/ttyEMU0" ] && break; sleep 0.1; done
  head -1 /tmp/kkm-emulator.log
  kkm-cli info -p ttyEMU0 | head -2
  rc=0
  QT_QPA_PLATFORM=offscreen timeout 5 kkm-configurator || rc=$?
  kill "$emulator"
  if [ "$rc" != 124 ]; then echo "kkm-configurator ended by itself with $rc"; exit 1; fi
  echo "kkm-configurator ran until stopped"
'
