#!/usr/bin/env bash
# Unpacks the Debian package of a build tree into a scratch root (dpkg -x) and
# runs the installed programs from there, from another folder and without a
# display: --version of all three, the man pages, the emulator with its
# installed firmware, gadrel's pin view with its installed pin script, and
# volink against the emulated adapter.
#   check_installed.sh BUILD_DIR      (builds the package when it is missing)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
deb=$(ls "$build"/package/gadrel_*.deb 2>/dev/null | head -n1 || true)
if [ -z "$deb" ]; then
  cpack --config "$build/CPackConfig.cmake" >/dev/null
  deb=$(ls "$build"/package/gadrel_*.deb | head -n1)
fi
work=$(mktemp -d -t gadrel-installed.XXXXXX)
sim=
cleanup() {
  if [ -n "$sim" ]; then kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
root=$work/root
dpkg -x "$deb" "$root"
bin=$root/usr/bin
mkdir "$work/elsewhere"
cd "$work/elsewhere"
unset DISPLAY WAYLAND_DISPLAY
export XDG_RUNTIME_DIR=$work GADREL_USB_REAL=0 VOLINK_SIM_DIR=$work/sim
mkdir -m 0700 "$VOLINK_SIM_DIR"
step() { echo "== $*"; }

step "--version"
for p in gadrel volink volink-sim; do
  "$bin/$p" --version | tee "$work/version"
  grep -q "^$p $(dpkg-deb --field "$deb" Version)\$" "$work/version"
done
step "man pages"
for p in gadrel volink volink-sim; do
  MANWIDTH=80 man -l "$root/usr/share/man/man1/$p.1.gz" 2>/dev/null | grep -q "^NAME"
done

step "the emulator with its installed firmware"
demo=model
if command -v qemu-system-arm >/dev/null && [ -f "$root/usr/share/gadrel/firmware/lm3s6965evb.elf" ]; then demo=qemu; fi
# Proves the installed firmware is found: the build tree is not beside it.
"$bin/volink-sim" --demo "$demo" >"$work/sim.log" 2>&1 &
sim=$!
for _ in $(seq 100); do "$bin/volink-sim" ctl list >/dev/null 2>&1 && break; sleep 0.1; done
"$bin/gadrel" --list-adapters

step "the pin view with the installed pin script ($demo)"
QT_QPA_PLATFORM=offscreen "$bin/gadrel" --series cortex-m --render "$work/view.png" --ticks 2
[ -s "$work/view.png" ]
# The pin script ran and drew the chip behind the adapter.
grep -q '"text"' "$work/view.json"
step "volink against the emulated adapter"
"$bin/volink" info
echo "installed programs: ok"
