#!/usr/bin/env bash
# Runs every benchmark under build/bench and prints one table of the figures
# that matter. A benchmark that is missing or fails is reported in the table
# and the rest still run. The full output of each run stays in the log folder.
#
#   tools/bench-all.sh [build-dir]          (default: build)
#
#   KKM_BENCH_PACED_RANGE   goods range of the run paced at 115200 baud
#                           (default 1..9999; that run alone takes minutes)
#   KKM_BENCH_FLEET_RANGE   goods range kkm-cli writes to four registers at
#                           once and to each alone (default 1..2000)
#   KKM_BENCH_LOG           folder for the raw outputs (default: a temp folder)
set -u

BUILD=${1:-build}
BENCH="$BUILD/bench"
PACED_RANGE=${KKM_BENCH_PACED_RANGE:-1..9999}
LOG=${KKM_BENCH_LOG:-$(mktemp -d /tmp/kkm-bench.XXXXXX)}
mkdir -p "$LOG"
LOAD_START=$(cut -d' ' -f1-3 /proc/loadavg)
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

ROWS=()
row() { ROWS+=("$1|$2|$3"); }   # figure | value | benchmark

# run NAME LOGFILE ARGS...: runs build/bench/NAME; 0 when it ran cleanly.
run() {
    local name=$1 out=$2
    shift 2
    if [[ ! -x "$BENCH/$name" ]]; then
        echo "-- $name: not built" >&2
        row "$name" "MISSING (not built in $BENCH)" "$name"
        return 1
    fi
    echo "-- $name $*" >&2
    local start=$SECONDS
    if ! "$BENCH/$name" "$@" >"$LOG/$out" 2>&1; then
        echo "   failed after $((SECONDS - start)) s, see $LOG/$out" >&2
        row "$name" "FAILED (see $LOG/$out)" "$name"
        return 1
    fi
    echo "   $((SECONDS - start)) s" >&2
    return 0
}

# The first match of a sed expression in a log, or "n/a".
pick() {
    local v
    v=$(sed -nE "$2" "$LOG/$1" | head -n1)
    echo "${v:-n/a}"
}

# ---- exchange overhead: one command round trip against an instant peer
if run transaction_bench transaction.txt --benchmark_out="$LOG/transaction.json" --benchmark_out_format=json; then
    if command -v jq >/dev/null; then
        for b in BM_Connect BM_ReadGoodsRecord; do
            v=$(jq -r --arg b "$b" '.benchmarks[] | select(.name | startswith($b)) |
                "median \(.median_us*10|round/10) us, p99 \(.p99_us*10|round/10) us (request leg \(.req_leg_med_us*10|round/10), answer leg \(.ans_leg_med_us*10|round/10))"' \
                "$LOG/transaction.json" | head -n1)
            row "exchange round trip, $b" "${v:-n/a}" transaction_bench
        done
        v=$(jq -r '.benchmarks[] | select(.name | startswith("BM_GoodsListRead")) |
            "\(.real_time|round) ms for 19998 exchanges"' "$LOG/transaction.json" | head -n1)
        row "goods list read, protocol only" "${v:-n/a}" transaction_bench
    else
        row "exchange round trip" "jq not installed; see $LOG/transaction.txt" transaction_bench
    fi
fi

# ---- emulator answer time and pacing accuracy
if run emulator_bench emulator.txt; then
    row "emulator round trip, unpaced (ReadTableRecord 9/1)" "$(pick emulator.txt 's/^unpaced ReadTableRecord 9\/1 round trip +n=[0-9]+ +median +([0-9.]+ us).*/\1/p')" emulator_bench
    row "emulator pacing at 115200, median off" "$(pick emulator.txt '/^115200 baud/{n;s/.*median off by ([^ ]+ us \([^)]*\)).*/\1/p}')" emulator_bench
fi

# ---- goods list through the window: unpaced and resident memory (full list)
# The pacing part of this run is made harmless with a very fast line.
if run goods_bench goods-unpaced.txt 1..9999 100000000; then
    row "goods read 1..9999 unpaced" "$(pick goods-unpaced.txt 's/^unpaced read +.*: +([0-9]+ exchanges\/s).*/\1/p')" goods_bench
    row "goods write 1..9999 unpaced" "$(pick goods-unpaced.txt 's/^unpaced write +.*: +([0-9]+ exchanges\/s).*/\1/p')" goods_bench
    row "  the same, protocol alone (read)" "$(pick goods-unpaced.txt 's/^unpaced protocol alone +.*: +([0-9]+ exchanges\/s).*/\1/p')" goods_bench
    row "resident memory, full list read" "$(pick goods-unpaced.txt 's/^resident memory after the read: (VmRSS .*, VmHWM [^(]*).*/\1/p')" goods_bench
fi

# ---- goods list paced at 115200: elapsed over line time
if run goods_bench goods-115200.txt "$PACED_RANGE" 115200; then
    row "goods read $PACED_RANGE at 115200, elapsed/line" "$(pick goods-115200.txt 's/^115200 baud read +.*elapsed +([0-9.]+ s), ratio ([0-9.]+).*/\2 (\1)/p')" goods_bench
    row "  the same exchanges, protocol alone" "$(pick goods-115200.txt 's/^115200 baud protocol alone +.*elapsed +([0-9.]+ s), ratio ([0-9.]+).*/\2 (\1)/p')" goods_bench
    row "goods write $PACED_RANGE at 115200, elapsed/line" "$(pick goods-115200.txt 's/^115200 baud write +.*elapsed +([0-9.]+ s), ratio ([0-9.]+).*/\2 (\1)/p')" goods_bench
fi

# ---- logo preview rebuild and JPEG load
if run logo_bench logo.txt --benchmark_out="$LOG/logo.json" --benchmark_out_format=json; then
    if command -v jq >/dev/null; then
        v=$(jq -r '[.benchmarks[] | select(.label | test("dithered") | not) | .real_time] |
            "\(min*10|round/10) to \(max*10|round/10) us"' "$LOG/logo.json")
        row "logo preview rebuild and frame, 0.1 to 24 MP at 10 to 500 %" "${v:-n/a}" logo_bench
        v=$(jq -r '[.benchmarks[] | select(.label | test("dithered")) | .real_time] |
            "\(min*10|round/10) to \(max*10|round/10) us"' "$LOG/logo.json")
        row "the same with halftones (dithered), 24 MP" "${v:-n/a}" logo_bench
    else
        row "logo preview rebuild" "jq not installed; see $LOG/logo.txt" logo_bench
    fi
    row "JPEG load 24 MP, ours" "$(pick logo.txt 's/^ +LoadJpegPicture +median +([0-9.]+ ms).*/\1/p')" logo_bench
    row "JPEG load, djpeg" "$(pick logo.txt 's/^ +djpeg -outfile \/dev\/null median +([0-9.]+ ms).*/\1/p')" logo_bench
    row "JPEG load ratio ours/djpeg" "$(pick logo.txt 's/^ +ratio +([0-9.]+ x).*/\1/p')" logo_bench
    row "JPEG load peak resident growth" "$(pick logo.txt 's/^ +peak resident growth +([0-9.]+ MB).*/\1/p')" logo_bench
fi

# ---- logo upload at 115200
if run logo_upload_bench logo-upload.txt; then
    row "logo upload at 115200, elapsed/line (median)" "$(pick logo-upload.txt 's/^median ratio ([0-9.]+), best ([0-9.]+), worst ([0-9.]+).*/\1 (best \2, worst \3)/p')" logo_upload_bench
fi

# ---- goods CSV export and import of all 9999 rows
if run csv_bench csv.txt; then
    row "CSV export 9999 rows" "$(pick csv.txt 's/^export +9999 rows: transfer median +([0-9.]+) ms.*whole command median +([0-9.]+) ms/\1 ms (whole command \2 ms)/p')" csv_bench
    row "CSV import 9999 rows" "$(pick csv.txt 's/^import +9999 rows: transfer median +([0-9.]+) ms.*whole command median +([0-9.]+) ms/\1 ms (whole command \2 ms)/p')" csv_bench
fi

# ---- kkm-cli: the goods list read at 115200, and four registers written at once
if run cli_bench cli.txt "$PACED_RANGE" "${KKM_BENCH_FLEET_RANGE:-1..2000}" 115200; then
    row "kkm-cli goods read $PACED_RANGE at 115200, elapsed/line" "$(pick cli.txt 's/^goods read .*whole command ([0-9.]+ s), ratio ([0-9.]+); transfer ([0-9.]+ s), ratio ([0-9.]+).*/\2 (\1; the transfer alone \4)/p')" cli_bench
    row "  the same exchanges, protocol alone" "$(pick cli.txt 's/^the same exchanges, protocol alone: .*elapsed ([0-9.]+ s), ratio ([0-9.]+).*/\2 (\1)/p')" cli_bench
    row "kkm-cli goods write to four registers at once / the slowest alone" "$(pick cli.txt 's/^goods write (.*) at .*slowest ([0-9.]+ s)\); four at once ([0-9.]+ s), ratio to the slowest alone ([0-9.]+).*/\4 (\3 against \2, items \1)/p')" cli_bench
fi

# ---- exchanges that failed inside a run that still finished
for f in "$LOG"/goods-*.txt; do
    [[ -f "$f" ]] && grep -q '\[errors\]' "$f" && row "errors during the run" "see $f" goods_bench
done

# ---- the table, as Markdown
echo
echo "Machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1); load average $LOAD_START at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end"
echo
echo "| Figure | Value | Benchmark |"
echo "|---|---|---|"
for r in "${ROWS[@]}"; do
    IFS='|' read -r a b c <<<"$r"
    echo "| $a | $b | $c |"
done
echo
echo "Raw outputs: $LOG"
