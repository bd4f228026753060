#!/usr/bin/env bash
# Sets everything up and runs Gadrel's main job: the pin view. When no real
# adapter is plugged in, an emulated one (volink-sim) stands in: with QEMU
# installed (the set-up installs it) its chip is a QEMU-run board whose
# firmware drives the pins, else the emulator's core model.
# VOLINK_SIM_DEMO=model|qemu|auto (default auto) chooses. Without a display
# the pin view is rendered to a picture instead of a window.
# One line says which adapter is used; Ctrl+C (or closing the window) ends
# the view and the emulator with its simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
BIN="$BUILD_DIR/bin"

sim_pid= made_dir=
stop() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true  # it ends its simulator and removes its files
    wait "$sim_pid" 2>/dev/null || true
  fi
  if [ -n "$made_dir" ]; then rm -rf "$made_dir" "$made_dir.log"; fi
}
trap stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

if found=$("$BIN/gadrel" --list-adapters 2>/dev/null); then
  adapter="the adapter ${found%%$'\n'*}"
else
  if [ -z "${VOLINK_SIM_DIR:-}" ]; then
    VOLINK_SIM_DIR=$(mktemp -d -t volink-sim.XXXXXX)
    made_dir=$VOLINK_SIM_DIR
  fi
  export VOLINK_SIM_DIR
  # One emulator a folder: an emulator that already serves it is used as it is.
  if "$BIN/volink-sim" ctl list >/dev/null 2>&1; then
    adapter="the emulator already serving $VOLINK_SIM_DIR"
  else
    demo=${VOLINK_SIM_DEMO:-auto}
    if [ "$demo" = auto ]; then
      demo=model
      if command -v qemu-system-arm >/dev/null && [ -f "$BUILD_DIR/firmware/lm3s6965evb.elf" ]; then demo=qemu; fi
    fi
    "$BIN/volink-sim" --demo "$demo" >"$VOLINK_SIM_DIR.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 50); do
      ls "$VOLINK_SIM_DIR"/*.json >/dev/null 2>&1 && break
      kill -0 "$sim_pid" 2>/dev/null || break
      sleep 0.1
    done
    if ! kill -0 "$sim_pid" 2>/dev/null; then
      # It refused the folder (another emulator took it meanwhile) or failed.
      sim_pid=
      cat "$VOLINK_SIM_DIR.log" >&2
      "$BIN/volink-sim" ctl list >/dev/null 2>&1 || exit 1
    fi
    if [ "$demo" = qemu ]; then
      chip="QEMU's lm3s6965evb running firmware/blink.c"
    else
      chip="the emulator's core model"
    fi
    adapter="the emulated adapter \"demo\" ($chip; VOLINK_SIM_DIR=$VOLINK_SIM_DIR)"
  fi
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Gadrel uses $adapter; Ctrl+C here or closing the window stops it all."
  "$BIN/gadrel" "$@"
else
  out="$BUILD_DIR/gadrel-view.png"
  echo "Gadrel uses $adapter; no display: rendering the pin view to $out (and ${out%.png}.json)."
  "$BIN/gadrel" --render "$out" --ticks 3 "$@"
fi
