#!/usr/bin/env bash
# Runs the whole ctest suite of a finished build again and again under CPU
# load, to show that no test depends on timing luck: each round is
# `ctest -j6` beside two busy loops (on a 2-core machine that is a loaded
# shared CI runner). Prints "N passed, M failed" at the end and keeps the
# output of every failed round.
#
#   tools/stress-tests.sh [rounds] [build dir] [ctest options]   # defaults: 20, build
#   tools/stress-tests.sh 5 build -R closing     # only the tests that match
set -uo pipefail
cd "$(dirname "$0")/.."

rounds=${1:-20}
build=${2:-build}
shift $(($# < 2 ? $# : 2))
if [ ! -f "$build/CTestTestfile.cmake" ]; then
  echo "No test build in '$build': run ./test.sh or cmake --build $build first." >&2
  exit 2
fi
export QT_QPA_PLATFORM=offscreen

logs=$(mktemp -d "${TMPDIR:-/tmp}/kkm-stress.XXXXXX")
busy=()
stop_busy() {
  for pid in "${busy[@]}"; do
    kill "$pid" 2>/dev/null
  done
  wait "${busy[@]}" 2>/dev/null
}
trap stop_busy EXIT
trap 'exit 130' INT TERM

# Two busy loops, each bounded to two hours even if this script were killed
# without running its exit trap.
for _ in 1 2; do
  ( end=$((SECONDS + 7200)); while [ "$SECONDS" -lt "$end" ]; do :; done ) &
  busy+=("$!")
done

passed=0
failed=0
for ((round = 1; round <= rounds; round++)); do
  log="$logs/round-$round.log"
  if ctest --test-dir "$build" -j6 --output-on-failure "$@" >"$log" 2>&1; then
    passed=$((passed + 1))
    rm -f "$log"
    echo "round $round: passed"
  else
    failed=$((failed + 1))
    echo "round $round: FAILED ($(grep -E '^\s+[0-9]+ - ' "$log" | sed -E 's/^\s+[0-9]+ - //' | tr '\n' ' ')) log: $log"
  fi
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && rmdir "$logs" 2>/dev/null
[ "$failed" -eq 0 ]
