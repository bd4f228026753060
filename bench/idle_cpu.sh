#!/usr/bin/env bash
# Idle CPU and memory of the pin view: gadrel (offscreen window, refresh
# period 0.5 s, the shipped pin script) against the emulator in USB timing
# mode. Prints the share of one core that gadrel and the emulator used over
# SECONDS, and their resident memory (now and peak) at the end. Further
# arguments go to gadrel, e.g. --timeline 'PB*' for the timeline strip
# showing port B while the view's refreshes are recorded.
#   bench/idle_cpu.sh [BUILD_DIR] [SECONDS] [GADREL ARGS...]
set -euo pipefail
BIN=${1:-build}/bin
SECONDS_RUN=${2:-20}
shift $(($# < 2 ? $# : 2))
export VOLINK_SIM_DIR=$(mktemp -d -t idle-cpu.XXXXXX)
export XDG_RUNTIME_DIR=$VOLINK_SIM_DIR
export GADREL_USB_REAL=0
"$BIN/volink-sim" >/dev/null 2>&1 &
sim=$!
gadrel=
trap 'kill $sim ${gadrel:-} 2>/dev/null || true; rm -rf "$VOLINK_SIM_DIR"' EXIT
for _ in $(seq 50); do "$BIN/volink-sim" ctl list >/dev/null 2>&1 && break; sleep 0.1; done
"$BIN/volink-sim" ctl timing demo on >/dev/null
QT_QPA_PLATFORM=offscreen "$BIN/gadrel" --series cortex-m "$@" >/dev/null 2>&1 &
gadrel=$!
sleep 3  # start-up, adapter opened
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
g0=$(ticks $gadrel); s0=$(ticks $sim); t0=$(date +%s.%N)
sleep "$SECONDS_RUN"
g1=$(ticks $gadrel); s1=$(ticks $sim); t1=$(date +%s.%N)
hz=$(getconf CLK_TCK)
mem() { awk '/^VmRSS/ {r = $2} /^VmHWM/ {h = $2} END {printf "%.1f MiB (peak %.1f MiB)", r / 1024, h / 1024}' "/proc/$1/status"; }
echo "gadrel RSS: $(mem $gadrel); volink-sim RSS: $(mem $sim)"
awk -v g=$((g1 - g0)) -v s=$((s1 - s0)) -v t0="$t0" -v t1="$t1" -v hz="$hz" 'BEGIN {
  wall = t1 - t0
  printf "gadrel idle: %.2f %% of a core; volink-sim: %.2f %% (over %.1f s)\n", 100 * g / hz / wall, 100 * s / hz / wall, wall
}'
