#!/usr/bin/env bash
# Runs one fuzz target for SECONDS over CORPUS and prints one line: the
# executions, their rate, and the findings. A finding whose stack names a
# function listed in fuzz/known-findings.txt is counted as known and the
# target goes on for the rest of the time; any other finding stops it, is
# kept under CORPUS/../findings/ and makes the exit status 1.
#   tools/fuzz-run.sh build-fuzz/fuzz/fuzz_emulator 60 build-fuzz/fuzz/corpus/fuzz_emulator
set -uo pipefail

target=$1 seconds=$2 corpus=$3
name=$(basename "$target")
root=$(cd "$(dirname "$0")/.." && pwd)
findings=$(dirname "$corpus")/../findings/$name
mkdir -p "$corpus" "$findings"
known_list=$(grep -v '^#' "$root/fuzz/known-findings.txt" | grep -v '^$' || true)
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}

execs=0 known=0 new=0 cpu_ms=0
start=$(date +%s)
log=$(mktemp)
trap 'rm -f "$log" "$log.cpu"' EXIT
while :; do
  left=$(( seconds - ($(date +%s) - start) ))
  [ "$left" -gt 0 ] || break
  # CPU time as well as wall time: on a shared machine the rate per CPU
  # second tells how long a number of executions takes on an idle core.
  TIMEFORMAT='%3U %3S'
  { time "$target" -max_total_time="$left" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
            -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1; } 2>"$log.cpu"
  rc=$?
  read -r user sys <"$log.cpu" || true
  cpu_ms=$(( cpu_ms + $(awk -v u="${user:-0}" -v s="${sys:-0}" 'BEGIN { printf "%d", (u + s) * 1000 }') ))
  n=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$')
  if [ -z "$n" ]; then # a crash prints no final stats: take the last progress line
    n=$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#')
  fi
  execs=$(( execs + ${n:-0} ))
  [ "$rc" -eq 0 ] && break
  is_known=0
  while IFS= read -r fn; do
    [ -n "$fn" ] && grep -q "in $fn" "$log" && is_known=1
  done <<<"$known_list"
  if [ "$is_known" -eq 1 ]; then
    known=$(( known + 1 ))
    grep -m1 -E 'runtime error|ERROR: AddressSanitizer' "$log" | sed "s|^|  known: |"
    # Its input reproduces the known bug; keep it out of the corpus.
    rm -f "$findings"/crash-* "$findings"/leak-* "$findings"/timeout-*
    # Targets leave such inputs out from now on (see KkmTypesFuzz.cpp).
    export KKM_FUZZ_SKIP_KNOWN=1
  else
    new=$(( new + 1 ))
    echo "---- $name: finding (input kept in $findings)"
    grep -A30 -m1 -E 'runtime error|ERROR: |check failed|deadly signal' "$log" | head -40
    break
  fi
done
elapsed=$(( $(date +%s) - start ))
[ "$elapsed" -gt 0 ] || elapsed=1
[ "$cpu_ms" -gt 0 ] || cpu_ms=1
printf '%-22s %10d executions in %4d s (%d/s; %d/s of CPU time), findings: %d new, %d known\n' \
  "$name" "$execs" "$elapsed" $(( execs / elapsed )) $(( execs * 1000 / cpu_ms )) "$new" "$known"
[ "$new" -eq 0 ]
