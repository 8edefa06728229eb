#!/usr/bin/env bash
# Whole-process load scenario: velloran -headless with N slots on "GEN:tone" recording WAV16,
# for N = 8, 32, 128 (or the counts given as arguments), each run for DURATION seconds (default
# 60). Reports the process CPU time per slot-hour, the peak memory and the audio it lost (the
# log's "Audio lost" and "has gaps" lines: dropped input, an input that ran dry, encoder queue drops), beside N
# FFmpeg processes writing the same WAV files from a generated tone in real time in the same run.
#
# Usage: bench/recorder_bench.sh [path/to/velloran] [N ...]
set -euo pipefail
source "$(dirname "$0")/lib.sh"
velloran="${1:-$(dirname "$0")/../build/src/velloran}"
shift || true
counts=("$@")
[[ ${#counts[@]} -eq 0 ]] && counts=(8 32 128)
duration="${DURATION:-60}"
bench_setup bench
measure() { cpu_and_peak "$@"; }  # prints "cpu_seconds max_rss_kib"

run_velloran() {
  local n=$1 root="$work/velloran-$1"
  mkdir -p "$root"
  {
    printf '[General]\nSlotCount=%d\nAlarmSlotCount=0\nCloseConfirmation=off\n' "$n"
    printf '[Webserver]\nEnabled=off\n'
    for ((i = 0; i < n; i++)); do
      printf '[Slot%d]\nSource=Soundcard\nDevice=GEN:tone\nFormat=wav16\n' "$i"
      printf 'CleanupDaysEnabled=off\nCleanupSpaceEnabled=off\nFolder=%s/slot%d\n' "$root" "$i"
    done
  } > "$root/Velloran.ini"
  # The log is kept (stdout) so that lost audio can be counted afterwards.
  measure sh -c 'exec timeout -s TERM "$1" "$2" -headless -rootfolder "$3" > "$3/velloran.log" 2>&1' \
    sh "$duration" "$velloran" "$root"
}
lost_lines() { grep -cE "Audio lost|has gaps" "$work/velloran-$1/velloran.log" || true; }

run_ffmpeg() {
  local n=$1 dir="$work/ffmpeg-$1"
  mkdir -p "$dir"
  cat > "$work/ffmpeg-run.sh" <<SCRIPT
for ((i = 0; i < $n; i++)); do
  ffmpeg -nostdin -loglevel error -re -f lavfi -i sine=frequency=1000:sample_rate=44100 \
    -ac 2 -c:a pcm_s16le -t $duration -y "$dir/\$i.wav" &
done
wait
SCRIPT
  measure bash "$work/ffmpeg-run.sh"
}

printf '%6s  %12s %14s %12s %6s  %12s %14s %12s  %8s\n' N "velloran cpu" "cpu/slot-hour" \
  "peak KiB" lost "ffmpeg cpu" "cpu/slot-hour" "peak KiB*" ratio
for n in "${counts[@]}"; do
  read -r vcpu vrss < <(run_velloran "$n")
  read -r fcpu frss < <(run_ffmpeg "$n")
  vper=$(awk -v c="$vcpu" -v n="$n" -v d="$duration" 'BEGIN { printf "%.3f", c / n * 3600 / d }')
  fper=$(awk -v c="$fcpu" -v n="$n" -v d="$duration" 'BEGIN { printf "%.3f", c / n * 3600 / d }')
  ratio=$(awk -v a="$vcpu" -v b="$fcpu" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')
  printf '%6d  %11.2fs %13.3fs %12d %6d  %11.2fs %13.3fs %12d  %8s\n' "$n" "$vcpu" "$vper" \
    "$vrss" "$(lost_lines "$n")" "$fcpu" "$fper" "$frss" "$ratio"
done
echo "* FFmpeg: the largest single process (each of the N processes holds about this much)."
echo "lost: lines in velloran's log that report lost audio (0 = every slot recorded every block)."
echo "ratio: velloran CPU / FFmpeg CPU for the same audio work."
