#!/usr/bin/env bash
# Installs what is missing, builds the configurator and the register
# emulator, starts the emulator in the background and then the configurator,
# whose port list shows the emulator's port. The emulator ends with it.
set -euo pipefail
cd "$(dirname "$0")"

tools/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target kkm-configurator kkm-emulator

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display (DISPLAY and WAYLAND_DISPLAY are empty); start it from a desktop session." >&2
  exit 1
fi

log=$(mktemp)
build/emulator/kkm-emulator </dev/null >"$log" 2>&1 &
emulator=$!
trap 'kill "$emulator" 2>/dev/null; wait "$emulator" 2>/dev/null; rm -f "$log"' EXIT

# The port list is read once at start: wait until the emulator has published.
for _ in $(seq 100); do
  grep -q '^port:' "$log" && break
  if ! kill -0 "$emulator" 2>/dev/null; then
    cat "$log" >&2
    exit 1
  fi
  sleep 0.1
done
sed -n 's/^port: /Register emulator on /p; s/^control: /Control it through /p' "$log"

build/app/kkm-configurator "$@"
