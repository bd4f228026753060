#!/usr/bin/env bash
# Runs the same firmware twice in QEMU: once behind volink-sim's adapter
# (driven with `volink reset/halt/step/regs/go`) and once under gdb-multiarch,
# and compares PC, SP and LR after the same number of single steps from
# reset. Exit 0 = they agree, 1 = they differ, 77 = skipped (no QEMU,
# gdb-multiarch or firmware).
#   gdb_agreement.sh BUILD_DIR [STEPS]
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
steps=${2:-40}
elf="$build/firmware/lm3s6965evb.elf"
for tool in qemu-system-arm gdb-multiarch; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
[ -f "$elf" ] || { echo "skipped: $elf was not built"; exit 77; }

work=$(mktemp -d -t gdb-agreement.XXXXXX)
sim_pid="" qemu_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  [ -n "$qemu_pid" ] && kill "$qemu_pid" 2>/dev/null && wait "$qemu_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The adapter side.
export VOLINK_SIM_DIR="$work/sim" XDG_RUNTIME_DIR="$work/rt" GADREL_USB_REAL=0
mkdir -p "$VOLINK_SIM_DIR" "$XDG_RUNTIME_DIR"
"$build/bin/volink-sim" --demo qemu >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -S "$VOLINK_SIM_DIR/volink-sim.ctl" ] && break; sleep 0.1; done
volink() { timeout 30 "$build/bin/volink" --core m4 "$@"; }
volink reset sysresetreq normal >/dev/null
volink halt >/dev/null
for _ in $(seq "$steps"); do volink step >/dev/null; done
regs=$(volink regs)
pick() { awk -v r="$1" '$1 == r { print tolower($2) }' <<<"$regs"; }
adapter="pc=$(pick pc) sp=$(pick sp) lr=$(pick lr)"
volink go >/dev/null

# The debugger side.
qemu-system-arm -M lm3s6965evb -kernel "$elf" -S -gdb "unix:$work/gdb.sock,server,nowait" \
  -nographic -monitor none -serial none -nodefaults -net none 2>/dev/null &
qemu_pid=$!
for _ in $(seq 100); do [ -S "$work/gdb.sock" ] && break; sleep 0.1; done
out=$(timeout 60 gdb-multiarch -nx -q -batch -ex "set pagination off" -ex "file $elf" \
  -ex "target remote $work/gdb.sock" -ex "stepi $steps" \
  -ex 'printf "pc=0x%08x sp=0x%08x lr=0x%08x\n", $pc, $sp, $lr' 2>/dev/null | grep '^pc=')
debugger=$out

echo "adapter:  $adapter"
echo "debugger: $debugger"
[ "$adapter" = "$debugger" ]
