#!/usr/bin/env bash
# The Windows build against registers on a line, under Wine: Linux
# kkm-emulators on pseudo-terminals, each linked into the Wine prefix as a
# COM port (dosdevices/comN -> the pty) and listed under SERIALCOMM in its
# registry, as a real port is. kkm-cli.exe must leave the same results,
# files and register state as the Linux kkm-cli against a twin emulator;
# fleets, a lost line, unknown and busy ports end as on Linux.
#   tools/test-windows-line.sh PREFIX WINDOWS_BUILD_DIR LINUX_BUILD_DIR
# PREFIX is the stage's Wine prefix (tools/wine-run.sh made it).
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=$(realpath "${1:?usage: test-windows-line.sh PREFIX WINDOWS_BUILD_DIR LINUX_BUILD_DIR}")
windir=$(realpath "${2:?}")
linux=$(realpath "${3:?}")
started=$(date +%s)

emulator=$linux/emulator/kkm-emulator
cli=$linux/cli/kkm-cli
clixe=$windir/dist/kkm-cli.exe
for f in "$emulator" "$cli" "$clixe"; do
  [ -x "$f" ] || [ -f "$f" ] || { echo "Windows line checks: $f is missing" >&2; exit 1; }
done

work=$windir/line
rm -rf "$work"
mkdir -p "$work/emu"
export KKM_EMULATOR_DIR=$work/emu

fail() { echo "Windows line checks: $*" >&2; exit 1; }
wine() { tools/wine-run.sh "$prefix" "" "$@"; }
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
# One server of the prefix for all the checks, running until they end: the
# registry's HARDWARE key, where the COM ports are listed, is volatile and
# goes with the server, and one that ended in a pause between two programs
# (a slow Linux step on a loaded machine) would take the listed ports with
# it; the window's connect dialog offers only listed ports. A server already
# running keeps its own lifetime, so it is ended first. Its own output (a
# dump of its objects when it ends) stays out of the checks'.
WINEPREFIX=$prefix "$wineserver" -k >/dev/null 2>&1 || true
WINEPREFIX=$prefix "$wineserver" -w >/dev/null 2>&1 || true
WINEPREFIX=$prefix "$wineserver" -p >/dev/null 2>&1 || true
# Windows programs write CR LF to a pipe; the texts compare without the CR.
winecli() { wine "$clixe" "$@" | tr -d '\r'; }
# cli_status WHAT OUT ERR ARGS...: kkm-cli.exe's status in $status. 139 is
# Wine itself (the program's own faults end with Windows codes): now and
# then, more often on a loaded machine, one of its pool threads ending just
# as a program that ran briefly ends faults on its way out. Such a run is
# run again, up to three times in all.
cli_status() {
  local what=$1 out=$2 err=$3 try
  shift 3
  for try in 1 2 3; do
    status=0
    winecli "$@" >"$out" 2>"$err" || status=$?
    [ "$status" = 139 ] || return 0
    echo "$what: Wine crashed as the program ended (run $try); again"
  done
}

# Waits for a condition (a command) with a generous bound; no answer is
# timed by a fixed sleep.
wait_for() {
  local what=$1 bound=$2
  shift 2
  local deadline=$(( $(date +%s) + bound ))
  until "$@"; do
    [ "$(date +%s)" -lt "$deadline" ] || fail "waited ${bound} s for $what"
    sleep 0.05
  done
}

# A fixed clock and serial number, so that twins answer alike.
state() {
  cat >"$work/state-$1.json" <<EOF
{ "identity": { "serialNumber": $2 }, "state": { "clock": "31.12.2009 23:59:59" } }
EOF
  echo "$work/state-$1.json"
}

# start_emulator NAME SERIAL [options]: a register in the background; its
# pty in pty_NAME, its control FIFO in ctl_NAME, its process in pid_NAME.
pids=()
cleanup() {
  local status=$? p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  # The server was told to run on; it ends here, and with it any Windows
  # program a failed check left waiting (the prefix is the stage's own).
  WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
  WINEPREFIX=$prefix "$wineserver" -w 2>/dev/null || true
  return "$status"
}
trap cleanup EXIT
start_emulator() {
  local name=$1 serial=$2
  shift 2
  "$emulator" --state "$(state "$name" "$serial")" --logo "$work/logo-$name.pbm" "$@" \
    </dev/null >"$work/emu-$name.out" 2>"$work/emu-$name.err" &
  pids+=($!)
  printf -v "pid_$name" %s $!
  wait_for "emulator $name to start" 30 grep -qs '^control: ' "$work/emu-$name.out"
  printf -v "pty_$name" %s "$(sed -n 's/^pty: //p' "$work/emu-$name.out")"
  printf -v "ctl_$name" %s "$(sed -n 's/^control: //p' "$work/emu-$name.out")"
}
# Saves an emulator's register state into FILE.
save_state() {
  local ctl=ctl_$1
  echo "save $2" >"${!ctl}"
  wait_for "emulator $1 to save its state" 30 test -s "$2"
}

# Links a pty into the prefix as COMn and lists it as the system lists its
# serial ports.
comports=()
link_com() {
  local n=$1 pty=$2
  ln -sfn "$pty" "$prefix/dosdevices/com$n"
  wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "\\Device\\KkmSerial$n" /d "COM$n" /f >/dev/null
  comports+=("COM$n")
}

# The fixtures: 200 goods in the goods page's CSV (Windows-1251, CR LF), and
# a 64 x 32 BMP for the logo.
for i in $(seq 1 200); do
  barcode=""
  [ "$i" -ne 1 ] || barcode=4600000000017
  fractional=НЕТ
  [ $((i % 7)) -ne 0 ] || fractional=ДА
  printf '%d;Товар №%d;%s;%d;%d.%02d;%s;%d\r\n' "$i" "$i" "$barcode" $((i % 16 + 1)) $((i * 3)) $((i % 100)) \
    "$fractional" $((i * 10))
done | iconv -f UTF-8 -t CP1251 >"$work/goods-in.csv"
LC_ALL=C awk 'function le(v, n,  i) { for (i = 0; i < n; i++) { printf "%c", v % 256; v = int(v / 256) } }
  BEGIN { w = 64; h = 32; size = 54 + w * h * 3
    printf "BM"; le(size, 4); le(0, 4); le(54, 4); le(40, 4); le(w, 4); le(h, 4); le(1, 2); le(24, 2)
    le(0, 4); le(w * h * 3, 4); le(2835, 4); le(2835, 4); le(0, 4); le(0, 4)
    for (y = 0; y < h; y++) for (x = 0; x < w; x++) {
      v = ((int(x / 8) + int(y / 8)) % 2) ? 255 : (x * 4) % 256; le(v, 1); le(v, 1); le(v, 1) } }' \
  >"$work/logo.bmp"

# ---------------------------------------------------------------- the ports
start_emulator win 110000123456 --baud 115200
start_emulator lin 110000123456 --baud 115200
start_emulator f2 110000123457
start_emulator f3 110000123458 --fault silent
# Out of number order on purpose: the list must sort by number, not text.
link_com 12 "$pty_f3"
link_com 7 "$pty_win"
link_com 9 "$pty_f2"
listed=$(winecli ports | grep -E '^COM[0-9]+$' || true)
expected=$(printf '%s\n' "${comports[@]}" $(echo "$listed" | grep -vxF -e COM7 -e COM9 -e COM12) | sort -V | uniq)
[ "$listed" = "$expected" ] || fail "kkm-cli.exe ports listed '$(echo $listed)', not '$(echo $expected)'"
echo "ports: $(echo $listed)"

# ---------------------------------------------------------------- the twins
# The same command through kkm-cli.exe on COM7 and through the Linux kkm-cli
# on the twin's pty: @P@ is the port, @D@ the side's own folder.
mkdir -p "$work/win" "$work/lin"
twin() {
  local out=$1 w=0 l=0
  shift
  local wargs=("${@//@P@/COM7}") largs=("${@//@P@/$pty_lin}")
  wargs=("${wargs[@]//@D@/$work/win}")
  largs=("${largs[@]//@D@/$work/lin}")
  winecli "${wargs[@]}" >"$work/win/$out" 2>"$work/win/$out.err" || w=$?
  "$cli" "${largs[@]}" >"$work/lin/$out" 2>"$work/lin/$out.err" || l=$?
  [ "$w" = 0 ] || fail "kkm-cli.exe $* ended with $w: $(tr -d '\r' <"$work/win/$out.err")"
  [ "$l" = 0 ] || fail "kkm-cli $* ended with $l: $(cat "$work/lin/$out.err")"
  # The answers name the port.
  sed -i "s|$pty_lin|COM7|g" "$work/lin/$out"
  same "$out"
}
# A file of both sides, byte for byte.
same() {
  cmp -s "$work/win/$1" "$work/lin/$1" ||
    fail "$1 differs between Windows and Linux: $(diff "$work/win/$1" "$work/lin/$1" | head -20)"
}
# The registers' whole state, tables, sales and logo.
same_state() {
  save_state win "$work/win/state-$1.json"
  save_state lin "$work/lin/state-$1.json"
  same "state-$1.json"
}
export KKM_PASSWORD=1
# The answers are compared, not their speed: under Wine the port is polled,
# and on a loaded machine an answer can come later than kkm-cli's own
# 200 ms, which would end one side with a time-out and not its twin.
answer_ms=3000
twin info.json info --timeout "$answer_ms" -p @P@ --json
twin read.out settings read --timeout "$answer_ms" -p @P@ -o @D@/profile.json
# The tables byte for byte; the time the profile was read is its own.
sed -i '/^    "time": /d' "$work/win/profile.json" "$work/lin/profile.json"
same profile.json
# A profile with the register's tables changed: a discount, a header line.
sed 's/"Скидка 5%"/"Скидка 7%"/; s/"00500"/"00700"/; s/"  РОМАШКА"/"  ЛЮТИК"/' "$work/lin/profile.json" \
  >"$work/profile-in.json"
! cmp -s "$work/profile-in.json" "$work/lin/profile.json" || fail "the profile to write changes nothing"
twin write.out settings write --timeout "$answer_ms" -p @P@ -u 1 "$work/profile-in.json"
same_state settings
twin goods-write.out goods write --timeout "$answer_ms" -p @P@ -u 1 --zero-sales "$work/goods-in.csv"
twin goods-read.out goods read --timeout "$answer_ms" -p @P@ -r 1..200 -o @D@/goods.csv
same goods.csv
same_state goods
twin logo.out logo upload --timeout "$answer_ms" -p @P@ -u 1 --contrast 60 "$work/logo.bmp"
same_state logo
cmp -s "$work/logo-win.pbm" "$work/logo-lin.pbm" || fail "the stored logos differ"
echo "twins: info, settings read and write, goods write and read, logo upload alike"

# ---------------------------------------------------------------- the fleet
# Three COM ports at once, COM12 silent: one summary line a port, as the
# Linux kkm-cli gives for the same registers, and status 4.
fleet() {
  local side=$1 status=0
  shift
  if [ "$side" = win ]; then
    winecli info --timeout "$answer_ms" -p COM7 -p COM9 -p COM12 >"$work/win/fleet.out" 2>"$work/win/fleet.err" || status=$?
    sed -i 's/\r$//' "$work/win/fleet.err"
  else
    "$cli" info --timeout "$answer_ms" -p "$pty_lin" -p "$pty_f2" -p "$pty_f3" >"$work/lin/fleet.out" 2>"$work/lin/fleet.err" || status=$?
    sed -i "s|$pty_lin|COM7|g; s|$pty_f2|COM9|g; s|$pty_f3|COM12|g" "$work/lin/fleet.out" "$work/lin/fleet.err"
  fi
  [ "$status" = 4 ] || fail "the fleet with a silent register ended with $status on $side, not 4"
}
fleet win
fleet lin
same fleet.out
same fleet.err
grep -q '^COM12: 4 ' "$work/win/fleet.err" || fail "no summary line of the silent COM12: $(cat "$work/win/fleet.err")"
echo "fleet: $(grep -c '^COM[0-9]*: [0-9] ' "$work/win/fleet.err") summary lines, status 4"

# ---------------------------------------------------------------- the window
# The window, cross-built, on Qt's offscreen platform: connect to COM7
# through the dialog, refresh the information, authorise, read goods
# 1..100, write the options table; its journal as the Linux window's against
# the twin, and the same register state. Qt Test's report goes to a file:
# under Wine its standard output stays empty.
kit=$(sed -n 's/^KKM_WINDOWS_KIT:[A-Z]*=//p' "$windir/CMakeCache.txt")
link_lin=$(sed -n 's/^port: //p' "$work/emu-lin.out")
# What a failed window run says: its report's failures and its journal.
window_failed() {
  fail "the window $1: $(tr -d '\r' <"$2" | grep -E 'FAIL|Loc:' | head -5)
its journal ends: $(tail -5 "$3" 2>/dev/null)"
}
status=0
KKM_LINE_PORT=COM7 KKM_LINE_JOURNAL=$work/win/journal.txt \
  tools/wine-run.sh "$prefix" "$kit/bin" "$windir/tests/ui/line_window_test.exe" \
  -o "Z:$work/win/window.txt,txt" >"$work/win/window.out" 2>&1 || status=$?
# Wine's own fault as a program ends (139, see cli_status) after a whole
# report without a failure is none of the window's.
if [ "$status" = 139 ] && tr -d '\r' <"$work/win/window.txt" | grep -q '^\*\** Finished testing' &&
   ! tr -d '\r' <"$work/win/window.txt" | grep -q '^FAIL'; then
  echo "window: Wine crashed as the program ended, after a report without a failure"
  status=0
fi
[ "$status" = 0 ] || window_failed "under Wine (status $status)" "$work/win/window.txt" "$work/win/journal.txt"
KKM_LINE_PORT=$link_lin KKM_LINE_JOURNAL=$work/lin/journal.txt QT_QPA_PLATFORM=offscreen \
  "$linux/tests/ui/line_window_test" >"$work/lin/window.out" 2>&1 ||
  window_failed "on Linux" "$work/lin/window.out" "$work/lin/journal.txt"
sed -i "s|$link_lin|COM7|g" "$work/lin/journal.txt"
same journal.txt
same_state window
echo "window: $(wc -l <"$work/win/journal.txt") journal lines as on Linux, the same register state"

# ---------------------------------------------------------------- lost, busy
# A slow goods read holds COM5 open: a second program is told the port is
# busy. Then the register goes away mid-read: the read ends with 4, soon.
start_emulator lost 110000123459 --baud 115200 --think 20 --log
link_com 5 "$pty_lost"
wine "$clixe" goods read -p COM5 -r 1..2000 -o "$work/lost.csv" >"$work/lost.out" 2>"$work/lost.err" &
holder=$!
pids+=("$holder")
wait_for "the goods read on COM5 to run" 60 \
  bash -c "[ \"\$(grep -c '^<-' '$work/emu-lost.err' || true)\" -ge 10 ]"
cli_status "busy port" "$work/busy.out" "$work/busy.err" info -p COM5
[ "$status" = 4 ] || fail "a second program on the busy COM5 ended with $status, not 4"
grep -q 'Порт занят другой программой.' "$work/busy.err" || fail "COM5 held open was not reported busy: $(cat "$work/busy.err")"
echo quit >"$ctl_lost"
lost_at=$(date +%s%N)
wait_for "the goods read on the lost COM5 to end" 20 bash -c "! kill -0 $holder 2>/dev/null"
status=0
wait "$holder" || status=$?
lost_ms=$(( ($(date +%s%N) - lost_at) / 1000000 ))
[ "$status" = 4 ] || fail "the goods read whose register went away ended with $status, not 4: $(tr -d '\r' <"$work/lost.err")"
[ "$lost_ms" -le 2000 ] || fail "the goods read whose register went away took $lost_ms ms to end, over 2 s"
echo "lost line: status 4 after $lost_ms ms; busy port reported"

cli_status "unknown port" /dev/null "$work/unknown.err" info -p COM99
[ "$status" = 4 ] || fail "the unknown COM99 ended with $status, not 4: $(cat "$work/unknown.err")"
echo "unknown port: status 4"

# ---------------------------------------------------------------- the pace
# The goods read's time against the line time of its exchanges (10 bits a
# byte at 115200), under Wine and on Linux: a figure, no goal (Wine's serial
# layer is not Windows's).
start_emulator pace 110000123460 --baud 115200 --log
link_com 6 "$pty_pace"
line_ms() {
  awk '$1 == "<-" || $1 == "->" { for (i = 2; i <= NF && $i ~ /^[0-9A-Fa-f][0-9A-Fa-f]$/; i++) n++ }
       END { printf "%.1f", n * 10 / 115200 * 1000 }' "$work/emu-pace.err"
}
paced() {
  local side=$1 t0 ms
  : >"$work/emu-pace.err"
  t0=$(date +%s%N)
  if [ "$side" = win ]; then
    winecli goods read --timeout "$answer_ms" -p COM6 -r 1..200 -o "$work/win/pace.csv" >/dev/null
  else
    "$cli" goods read --timeout "$answer_ms" -p "$pty_pace" -r 1..200 -o "$work/lin/pace.csv" >/dev/null
  fi
  ms=$(( ($(date +%s%N) - t0) / 1000000 ))
  local line
  line=$(line_ms)
  echo "$side: goods 1..200 read in $ms ms, line time $line ms, ratio $(awk -v a="$ms" -v b="$line" 'BEGIN { printf "%.2f", a / b }')"
}
echo "paced goods read at 115200 (whole command, the program's start included):"
paced win
paced lin
same pace.csv
echo "Windows line checks passed in $(( $(date +%s) - started )) s"
