#!/usr/bin/env bash
# Whole-process load scenario for the desktop window: velloran with N slots (default 64) on
# "GEN:tone" recording WAV16, all N tiles in view (8 columns, vertical auto-size, a 1600 x 1000
# window) and repainted ten times a second, on an Xvfb server; beside it, in the same run and at
# the same time, velloran -headless with the same slots. Both run DURATION seconds (default
# 60). Reports the CPU times (the window's including its X server's drawing) and the window's
# own cost: the difference per slot, in CPU milliseconds per second of running.
#
# Usage: bench/window_bench.sh [path/to/velloran] [N]
set -euo pipefail
source "$(dirname "$0")/lib.sh"
velloran="${1:-$(dirname "$0")/../build/src/velloran}"
n="${2:-64}"
duration="${DURATION:-60}"
bench_setup window-bench

write_ini() {
  local root=$1
  mkdir -p "$root"
  {
    ini_head "$n" $'ColumnCount=8\nVerticalAutoSize=on\n'
    printf '[MainWindowPosition]\nLeft=0\nTop=0\nWidth=1600\nHeight=1000\n'
    for ((i = 0; i < n; i++)); do
      printf '[Slot%d]\nName=Slot %d\nSource=Soundcard\nDevice=GEN:tone\nFormat=wav16\n' "$i" "$i"
      printf 'CleanupDaysEnabled=off\nCleanupSpaceEnabled=off\nFolder=%s/slot%d\n' "$root" "$i"
    done
  } > "$root/Velloran.ini"
}

write_ini "$work/window"
write_ini "$work/headless"
# Our own X server, so that its drawing work counts as part of the window's cost.
Xvfb -displayfd 3 -screen 0 1920x1200x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
pids+=("$xvfb")
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
export DISPLAY=":$(head -n 1 "$work/display")"

cpu_seconds timeout -s TERM "$duration" "$velloran" -rootfolder "$work/window" \
  > "$work/window.cpu" &
window=$!
cpu_seconds timeout -s TERM "$duration" "$velloran" -headless -rootfolder "$work/headless" \
  > "$work/headless.cpu" &
headless=$!
sleep 5
# The window must show all N tiles: its size as the X server has it.
xwininfo -root -tree | grep -q '"Sondrel Velloran".*1600x1000' ||
  echo "warning: the window is not 1600 x 1000; not every tile may be in view" >&2
wait "$window" "$headless" || true  # both end by the time-out's SIGTERM
ticks=$(getconf CLK_TCK)
xcpu=$(awk -v t="$ticks" '{ printf "%.2f", ($14 + $15) / t }' "/proc/$xvfb/stat")

wcpu=$(cat "$work/window.cpu")
hcpu=$(cat "$work/headless.cpu")
awk -v w="$wcpu" -v h="$hcpu" -v x="$xcpu" -v n="$n" -v d="$duration" 'BEGIN {
  printf "%6s  %11s  %11s  %12s  %22s  %8s\n", "N", "window cpu", "Xvfb cpu", "headless cpu",
    "window ms cpu/s/slot", "ratio"
  printf "%6d  %10.2fs  %10.2fs  %11.2fs  %22.3f  %8.2f\n", n, w, x, h, (w + x - h) * 1000 / d / n,
    (h > 0 ? (w + x) / h : 0)
}'
echo "window ms cpu/s/slot: (window CPU + X server CPU - headless CPU) per second and per slot."
echo "ratio: (window CPU + X server CPU) / headless CPU for the same slots."
