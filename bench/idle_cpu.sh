#!/usr/bin/env bash
# CPU and memory of the whole demo as scripts/run.sh starts it: the pin view
# (a window on an X server, refresh period 0.5 s, the shipped pin script), the
# emulator (`volink-sim --demo DEMO`) and the simulator it runs as a child
# (QEMU for the qemu demo). Prints each one's share of one core over SECONDS,
# their total, and the resident memory of the view and the emulator.
# Further arguments go to gadrel, e.g. --timeline 'PB*' for the timeline
# strip showing port B while the view's refreshes are recorded.
#   bench/idle_cpu.sh [BUILD_DIR] [SECONDS] [GADREL ARGS...]
#   DEMO=qemu|model|auto (default qemu); TIMING=on puts the emulated adapter
#   in USB timing mode (each packet takes its transfer time); without DISPLAY
#   a private Xvfb is started (its own CPU is shown apart: a real desktop's X
#   server is not the demo's); QT_QPA_PLATFORM=offscreen draws without any X
#   server.
set -euo pipefail
BIN=${1:-build}/bin
SECONDS_RUN=${2:-20}
shift $(($# < 2 ? $# : 2))
DEMO=${DEMO:-qemu}
work=$(mktemp -d -t idle-cpu.XXXXXX)
export VOLINK_SIM_DIR=$work/sim XDG_RUNTIME_DIR=$work GADREL_USB_REAL=0
mkdir -m 0700 "$VOLINK_SIM_DIR"
sim= gadrel= xvfb=
cleanup() {
  for p in $gadrel $sim $xvfb; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -z "${DISPLAY:-}" ]; then
  command -v Xvfb >/dev/null || { echo "Xvfb is not installed (or set QT_QPA_PLATFORM=offscreen)" >&2; exit 1; }
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$work/display" 2>/dev/null &
  xvfb=$!
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=:$(head -n1 "$work/display")
fi

"$BIN/volink-sim" --demo "$DEMO" >"$work/sim.log" 2>&1 &
sim=$!
for _ in $(seq 100); do "$BIN/volink-sim" ctl list >/dev/null 2>&1 && break; sleep 0.1; done
"$BIN/volink-sim" ctl list >/dev/null 2>&1 || { cat "$work/sim.log" >&2; exit 1; }
if [ "${TIMING:-off}" = on ]; then "$BIN/volink-sim" ctl timing demo on >/dev/null; fi
"$BIN/gadrel" --series cortex-m "$@" >"$work/gadrel.log" 2>&1 &
gadrel=$!
sleep 3  # start-up, adapter opened, first refreshes

# The processes measured: the view, the emulator and every process below it.
tree() {
  local p=$1
  echo "$p"
  for c in $(ps -o pid= --ppid "$p"); do tree "$c"; done
}
pids=$( (echo "$gadrel"; tree "$sim") | tr '\n' ' ')
ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo -1; }
name() { cat "/proc/$1/comm" 2>/dev/null || echo "?"; }
declare -A t0
for p in $pids ${xvfb:-}; do t0[$p]=$(ticks "$p"); done
s0=$(date +%s.%N)
sleep "$SECONDS_RUN"
s1=$(date +%s.%N)
hz=$(getconf CLK_TCK)
wall=$(awk -v a="$s0" -v b="$s1" 'BEGIN {print b - a}')
pct() { awk -v d="$1" -v hz="$hz" -v w="$wall" 'BEGIN {printf "%.2f", 100 * d / hz / w}'; }
total=0
line=
for p in $pids; do
  t1=$(ticks "$p")
  if [ "$t1" -lt 0 ]; then echo "process $p ($(name "$p")) ended during the run" >&2; exit 1; fi
  d=$((t1 - t0[$p]))
  total=$((total + d))
  line+="$(name "$p") $(pct $d) %; "
done
mem() { awk '/^VmRSS/ {r = $2} /^VmHWM/ {h = $2} END {printf "%.1f MiB (peak %.1f MiB)", r / 1024, h / 1024}' "/proc/$1/status"; }
echo "gadrel RSS: $(mem "$gadrel"); volink-sim RSS: $(mem "$sim")"
echo "per process: ${line%; }"
if [ -n "$xvfb" ]; then echo "(Xvfb, not counted: $(pct $(($(ticks "$xvfb") - t0[$xvfb]))) %)"; fi
echo "whole demo ($DEMO): $(pct $total) % of a core (over $(printf %.1f "$wall") s)"
