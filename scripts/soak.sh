#!/usr/bin/env bash
# Fault soak: the pin view (gadrel, offscreen, refresh timer) and two volink
# loops, each against an emulated adapter of its own (an emulator each, so
# that an unplugged adapter never shifts another's number), while a driver injects
# random faults of the emulators' control catalogue, unplugs and replugs.
# At the end it checks: no hang (every volink run ends within its time, the
# pin view still polls once the faults stop), no crash (no process died of a
# signal), every failure text one of the adapter layer's own, no lock left
# held (a fresh volink opens each adapter), memory flat (RSS of the view and
# of the emulators), and no protocol violation counted by the emulators.
#   scripts/soak.sh [MINUTES]          default 1; BUILD_DIR (default build)
# Prints the figures; exit status 1 when a check fails.
set -uo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-1}
BIN=$(cd "${BUILD_DIR:-build}/bin" && pwd)
for exe in gadrel volink volink-sim; do
  [ -x "$BIN/$exe" ] || { echo "soak: $BIN/$exe missing (build first)"; exit 2; }
done
work=$(mktemp -d -t gadrel-soak.XXXXXX)
export XDG_RUNTIME_DIR=$work/rt GADREL_USB_REAL=0 QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
view_dir=$work/view one_dir=$work/one two_dir=$work/two
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

adapter_json() {  # NAME ID SERIAL LOCATION
  cat <<EOF
{"adapters": [{"name": "$1", "generation": 1, "adapter_id": "$2", "serial": "$3", "location": "$4",
  "interfaces": [{"kind": "hid", "interface": 3, "size": 64}], "target": {"kind": "cortex-m"}}]}
EOF
}
adapter_json view 0x51A50001 50A1 1-4.2 >"$work/view.json"
adapter_json one 0x51A50002 50A2 1-4.3 >"$work/one.json"
adapter_json two 0x51A50003 50A3 1-4.4 >"$work/two.json"

ctl() { VOLINK_SIM_DIR=$1 "$BIN/volink-sim" ctl "${@:2}" 2>&1; }
rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0; }
sims_rss() { local t=0 p; for p in "${sims[@]}"; do t=$((t + $(rss_kb "$p"))); done; echo $t; }

sims=()
for a in view one two; do
  VOLINK_SIM_DIR=$work/$a "$BIN/volink-sim" --config "$work/$a.json" >"$work/sim-$a.log" 2>&1 &
  sims+=($!); pids+=($!)
done
for _ in $(seq 100); do
  ctl "$view_dir" list >/dev/null && ctl "$one_dir" list >/dev/null && ctl "$two_dir" list >/dev/null && break
  sleep 0.1
done

VOLINK_SIM_DIR=$view_dir "$BIN/gadrel" --series cortex-m >"$work/gadrel.log" 2>&1 &
gadrel=$!; pids+=($gadrel)

end=$(($(date +%s) + minutes * 60))
# One volink loop per adapter: each run must end within 30 s.
loop() {
  local n=$1 dir=$2 i=0 rc
  while [ "$(date +%s)" -lt "$end" ]; do
    i=$((i + 1))
    case $((i % 3)) in
      0) args=(info) ;;
      1) args=(read 0x20000000 256) ;;
      2) args=(write 0x20000100 $i) ;;
    esac
    VOLINK_SIM_DIR=$dir timeout -k 5 30 "$BIN/volink" "${args[@]}" \
      >"$work/out.$n" 2>"$work/err.$n" </dev/null
    rc=$?
    echo "$rc" >>"$work/status.$n"
    [ "$rc" -eq 0 ] || { cat "$work/err.$n" >>"$work/failures.$n"; sleep 0.1; }
  done
}
loop 0 "$one_dir" & pids+=($!)
loop 1 "$two_dir" & pids+=($!)

# The fault driver: a random fault on a random adapter about twice a second.
faults=0
fault() {
  local dir=$1 name=$2
  case $((RANDOM % 12)) in
    0) ctl "$dir" delay "$name" $((RANDOM % 1500)) $((1 + RANDOM % 3)) ;;
    1) ctl "$dir" drop "$name" 1 ;;
    2) ctl "$dir" stale "$name" $((1 + RANDOM % 3)) ;;
    3) ctl "$dir" flag "$name" $((RANDOM % 20)) 1 ;;
    4) ctl "$dir" errq-fail "$name" 1 ;;
    5) ctl "$dir" unplug-mid "$name" ;;
    6) ctl "$dir" unplug "$name"; sleep 0.$((RANDOM % 9)); ctl "$dir" plug "$name" ;;
    7) ctl "$dir" target "$name" off; sleep 0.3; ctl "$dir" target "$name" on ;;
    8) ctl "$dir" timing "$name" on ;;
    9) ctl "$dir" timing "$name" off ;;
    10) ctl "$dir" delay "$name" $((5000 + RANDOM % 2000)) 1 ;;  # beyond the host's time-out
    *) ctl "$dir" clear "$name" ;;
  esac >/dev/null
  faults=$((faults + 1))
}
warm=$(($(date +%s) + (minutes * 60) / 5 + 5))
rss_view0= rss_sim0=
while [ "$(date +%s)" -lt "$end" ]; do
  case $((RANDOM % 3)) in
    0) fault "$view_dir" view ;;
    1) fault "$one_dir" one ;;
    2) fault "$two_dir" two ;;
  esac
  if [ -z "$rss_view0" ] && [ "$(date +%s)" -ge "$warm" ]; then
    rss_view0=$(rss_kb $gadrel); rss_sim0=$(sims_rss)
  fi
  sleep 0.$((4 + RANDOM % 6))
done
wait "${pids[@]:4}" 2>/dev/null  # the loops end at the deadline

fail=0
check() { echo "FAIL: $*"; fail=1; }
# Faults off: everything must come back.
for a in view one two; do
  for c in clear plug target timing; do
    case $c in target) set -- on ;; timing) set -- off ;; *) set -- ;; esac
    ctl "$work/$a" $c $a "$@" >/dev/null
  done
done
sleep 3
rss_view1=$(rss_kb $gadrel); rss_sim1=$(sims_rss)

# No crash: the view and the emulators are alive; no run died of a signal or hung.
for p in $gadrel "${sims[@]}"; do kill -0 "$p" 2>/dev/null || check "process $p ended early"; done
runs=0 ok=0
for n in 0 1; do
  [ -f "$work/status.$n" ] || { check "volink loop $n never ran"; continue; }
  while read -r rc; do
    runs=$((runs + 1))
    case $rc in
      0) ok=$((ok + 1)) ;;
      1) ;;
      124|137) check "volink loop $n: a run hung (status $rc)" ;;
      *) check "volink loop $n: a run ended with status $rc" ;;
    esac
  done <"$work/status.$n"
done
# Every failure in the adapter layer's words.
known='^(Can not (enable flash operator|wait flash command|execute flash command)\.|ICE write error\.|ICE read error or time-out\.|There is no Vo-Link connected to a USB port\.|ICE: Cmd error - .*\.|ICE: protocol error - .*!|ICE: Device ID not found!|ICE: .* buffer overflow!)$'
for n in 0 1; do
  [ -f "$work/failures.$n" ] || continue
  if grep -Evq "$known" "$work/failures.$n"; then
    check "volink failure texts outside the adapter layer's:"
    grep -Ev "$known" "$work/failures.$n" | sort | uniq -c | head -5
  fi
done
failures=$(cat "$work"/failures.* 2>/dev/null | sort | uniq -c | sort -rn)
# The pin view polls again: its emulator keeps being woken by it.
w0=$(ctl "$view_dir" stats | awk '{for (i = 1; i < NF; i++) if ($i == "wakeups") print $(i + 1)}')
sleep 2
w1=$(ctl "$view_dir" stats | awk '{for (i = 1; i < NF; i++) if ($i == "wakeups") print $(i + 1)}')
[ "${w1:-0}" -gt "${w0:-0}" ] || check "the pin view stopped polling its adapter"
# No lock left held: the view lets go when it ends, and a fresh volink opens each adapter.
kill -TERM $gadrel; for _ in $(seq 50); do kill -0 $gadrel 2>/dev/null || break; sleep 0.1; done
kill -0 $gadrel 2>/dev/null && check "the pin view did not end on SIGTERM"
for a in view one two; do
  VOLINK_SIM_DIR=$work/$a timeout -k 5 15 "$BIN/volink" info >/dev/null 2>"$work/final.$a" </dev/null ||
    check "adapter $a not usable after the soak: $(cat "$work/final.$a")"
done
# Memory flat: at most 20 % + 4 MiB above the figure after warm-up.
flat() { [ "$2" -le $(($1 * 12 / 10 + 4096)) ]; }
[ -n "$rss_view0" ] || { rss_view0=$rss_view1; rss_sim0=$rss_sim1; }
flat "$rss_view0" "$rss_view1" || check "pin view memory grew: ${rss_view0} kB -> ${rss_view1} kB"
flat "$rss_sim0" "$rss_sim1" || check "emulator memory grew: ${rss_sim0} kB -> ${rss_sim1} kB"
# The emulators saw no protocol violation, faults or not.
for d in "$view_dir" "$one_dir" "$two_dir"; do
  v=$(ctl "$d" violations)
  [ "$(echo "$v" | tail -1)" = "ok violations 0" ] || { check "protocol violations:"; echo "$v" | tail -20; }
done

echo "soak: $minutes min, $faults faults, volink runs $runs ($ok ok), pin view RSS ${rss_view0} -> ${rss_view1} kB," \
  "emulators RSS ${rss_sim0} -> ${rss_sim1} kB"
[ -z "$failures" ] || { echo "failure texts:"; echo "$failures"; }
[ $fail -eq 0 ] && echo "soak: passed" || echo "soak: FAILED"
exit $fail
