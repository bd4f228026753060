#!/usr/bin/env bash
# gdb-multiarch against `volink gdbserver` on the emulator's QEMU board
# (lm3s6965evb running firmware/blink.c), one debugging session with its
# checks, and the same single steps on QEMU's own gdbstub as the reference;
# then gdb against the pin view (`gadrel --render --gdb-port`):
#   monitor reset halt   stops at the reset handler (named by the ELF)
#   stepi 40             ends where QEMU's own stub ends (pc, sp, lr)
#   break tick/continue  stops at tick; the firmware's semihosting text on gdb's console
#   watch g_counter      stops on the write; the stop reply names the address
#   print g_counter      agrees with `volink read` once the server is gone
#   detach               leaves the core running and port B counting
#   pin view             while gdb holds the core at tick the rendered pins stay
#                        as they are (the view keeps rendering); after continue
#                        they change
# Exit 0 = all hold, 1 = one does not, 77 = skipped (no QEMU, gdb-multiarch or firmware).
#   gdb_session.sh BUILD_DIR [pin-view]      (pin-view: the pin view's part alone)
set -euo pipefail

# Called back from gdb (`shell`): the pin levels of the render FILE.json
# once two more renders have replaced it, or - with "changes" - once they
# differ from what they were (bounded waits).
if [ "${1:-}" = "--pins" ]; then
  levels() { grep -o 'Level: [a-z]*' "$1" | tr -d '\n'; }
  renders() { local i; i=$(stat -c %i "$1"); for _ in $(seq 100); do [ "$(stat -c %i "$1")" != "$i" ] && return; sleep 0.02; done; }
  before=$(levels "$2")
  renders "$2"; renders "$2"
  if [ "${3:-}" = "changes" ]; then
    for _ in $(seq 100); do [ "$(levels "$2")" != "$before" ] && { echo "pins changed"; exit; }; sleep 0.05; done
    echo "pins did not change"
  else
    [ "$(levels "$2")" = "$before" ] && echo "pins held" || echo "pins moved"
  fi
  exit
fi

build=$(cd "${1:?build folder}" && pwd)
only=${2:-}
elf="$build/firmware/lm3s6965evb.elf"
for tool in qemu-system-arm gdb-multiarch; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
[ -f "$elf" ] || { echo "skipped: $elf was not built"; exit 77; }

work=$(mktemp -d -t gdb-session.XXXXXX)
sim_pid="" server_pid="" qemu_pid=""
stop() { [ -n "$1" ] && kill "$1" 2>/dev/null && wait "$1" 2>/dev/null || true; }
cleanup() { stop "$server_pid"; stop "$sim_pid"; stop "$qemu_pid"; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- gdb"; cat "$work/gdb.out" 2>/dev/null; echo "--- server"; cat "$work/server.err" 2>/dev/null; exit 1; }
# Waits (bounded) until FILE holds a line matching PATTERN.
await() { for _ in $(seq 200); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done; return 1; }

export VOLINK_SIM_DIR="$work/sim" XDG_RUNTIME_DIR="$work/rt" GADREL_USB_REAL=0
mkdir -p "$VOLINK_SIM_DIR" "$XDG_RUNTIME_DIR"
"$build/bin/volink-sim" --demo qemu >"$work/sim.log" 2>&1 &
sim_pid=$!
await "$work/sim.log" . || true
for _ in $(seq 100); do [ -S "$VOLINK_SIM_DIR/volink-sim.ctl" ] && break; sleep 0.05; done
volink() { timeout 30 "$build/bin/volink" "$@"; }

serve() {
  : >"$work/server.out"
  volink gdbserver --port 0 >"$work/server.out" 2>"$work/server.err" &
  server_pid=$!
  await "$work/server.out" "target extended-remote" || fail "the server printed no target line"
  target=$(grep -o 'target extended-remote .*' "$work/server.out")
}
gdb_run() {
  timeout 90 gdb-multiarch -nx -q -batch -ex "set pagination off" -ex "set confirm off" \
    -ex "set debug remote 1" -ex "file $elf" -ex "$target" "$@" >"$work/gdb.out" 2>"$work/gdb.err" ||
    fail "gdb failed"
}

if [ "$only" != pin-view ]; then
# The reference: QEMU's own stub, 40 single steps from reset.
qemu-system-arm -M lm3s6965evb -kernel "$elf" -S -gdb "unix:$work/qemu.sock,server,nowait" \
  -nographic -monitor none -serial none -nodefaults -net none 2>/dev/null &
qemu_pid=$!
for _ in $(seq 100); do [ -S "$work/qemu.sock" ] && break; sleep 0.05; done
reference=$(timeout 60 gdb-multiarch -nx -q -batch -ex "file $elf" -ex "target remote $work/qemu.sock" \
  -ex "stepi 40" -ex 'printf "steps pc=0x%08x sp=0x%08x lr=0x%08x\n", $pc, $sp, $lr' 2>/dev/null | grep '^steps')
stop "$qemu_pid"; qemu_pid=""

# The session.
serve
gdb_run -ex "monitor reset halt" -ex "maintenance flush register-cache" -ex 'info symbol $pc' \
  -ex "stepi 40" -ex 'printf "steps pc=0x%08x sp=0x%08x lr=0x%08x\n", $pc, $sp, $lr' \
  -ex "break tick" -ex "continue" -ex 'printf "break pc=0x%08x\n", $pc' -ex 'info symbol $pc' \
  -ex "watch g_counter" -ex "continue" \
  -ex 'printf "counter 0x%08x %u\n", &g_counter, g_counter' -ex "disconnect"
# Console output (monitor replies, semihosting) comes on gdb's standard error
# with the packet log.
grep -q '^halted at reset' "$work/gdb.err" || fail "monitor reset halt said nothing"
grep -q '^Reset_Handler in section' "$work/gdb.out" || fail "reset halt did not stop at the reset handler"
steps=$(grep '^steps' "$work/gdb.out")
[ "$steps" = "$reference" ] || fail "stepi: server '$steps', QEMU's stub '$reference'"
grep -q '^Hello from the emulated board' "$work/gdb.err" || fail "no semihosting output on gdb's console"
grep -q '^tick in section' "$work/gdb.out" || fail "the breakpoint did not stop at tick"
read -r _ address value < <(grep '^counter' "$work/gdb.out")
grep -q "Packet received: T05watch:${address#0x};" "$work/gdb.err" || fail "no watch stop reply naming $address"
grep -q 'Old value' "$work/gdb.out" || fail "gdb saw no watchpoint hit"
stop "$server_pid"; server_pid=""
read -r _ b0 b1 b2 b3 _ < <(volink read "$address" 4)
read_counter=$((16#$b3$b2$b1$b0))
[ "$read_counter" = "$value" ] || fail "print g_counter gave $value, volink read $read_counter"

# Detach: the core runs on, its pins count.
serve
gdb_run -ex "detach"
stop "$server_pid"; server_pid=""
[ "$(volink state)" = "running" ] || fail "the core is not running after detach"
first=$(volink read 0x400053fc 4)
for _ in $(seq 60); do
  [ "$(volink read 0x400053fc 4)" != "$first" ] && break
  sleep 0.05
done
[ "$(volink read 0x400053fc 4)" != "$first" ] || fail "port B does not count after detach"
fi

# The pin view serves gdb on its own adapter object.
"$build/bin/gadrel" --render "$work/view.png" --ticks 1200 --rate 50 --gdb-port 0 >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
await "$work/server.out" "target extended-remote" || fail "the pin view printed no target line"
target=$(grep -o 'target extended-remote .*' "$work/server.out")
pins="shell $0 --pins $work/view.json"
gdb_run -ex "break tick" -ex "continue" -ex "$pins" -ex "delete" -ex "continue &" -ex "$pins changes"
grep -q '^pins held' "$work/gdb.out" || fail "the rendered pins moved while gdb held the core"
grep -q '^pins changed' "$work/gdb.out" || fail "the rendered pins did not change after continue"
wait "$server_pid" || fail "the pin view failed"
server_pid=""
echo "ok: ${steps:-} ${value:+counter $value, pins counting after detach, }the pin view held and went on"
