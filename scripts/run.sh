#!/usr/bin/env bash
# Sets everything up and runs Gadrel's main job: the pin view. When no real
# adapter is plugged in, an emulated one (volink-sim) stands in: with QEMU
# installed (the set-up installs it) its chip is a QEMU-run board whose
# firmware drives the pins, else the emulator's core model.
# VOLINK_SIM_DEMO=model|qemu|auto (default auto) chooses. Without a display
# the pin view is rendered to a picture instead of a window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
BIN="$BUILD_DIR/bin"

if ! "$BIN/gadrel" --list-adapters >/dev/null 2>&1; then
  export VOLINK_SIM_DIR=${VOLINK_SIM_DIR:-$(mktemp -d -t volink-sim.XXXXXX)}
  # One emulator a folder: an emulator that already serves it is used as it is.
  if "$BIN/volink-sim" ctl list >/dev/null 2>&1; then
    echo "No adapter found: an emulator already serves $VOLINK_SIM_DIR; using it"
  else
    demo=${VOLINK_SIM_DEMO:-auto}
    if [ "$demo" = auto ]; then
      demo=model
      if command -v qemu-system-arm >/dev/null && [ -f "$BUILD_DIR/firmware/lm3s6965evb.elf" ]; then demo=qemu; fi
    fi
    "$BIN/volink-sim" --demo "$demo" >"$VOLINK_SIM_DIR.log" 2>&1 &
    sim_pid=$!
    trap 'kill "$sim_pid" 2>/dev/null || true' EXIT
    for _ in $(seq 50); do
      ls "$VOLINK_SIM_DIR"/*.json >/dev/null 2>&1 && break
      kill -0 "$sim_pid" 2>/dev/null || break
      sleep 0.1
    done
    if ! kill -0 "$sim_pid" 2>/dev/null; then
      # It refused the folder (another emulator took it meanwhile) or failed.
      cat "$VOLINK_SIM_DIR.log" >&2
      "$BIN/volink-sim" ctl list >/dev/null 2>&1 || exit 1
    fi
    echo "No adapter plugged in: using the emulated adapter in $VOLINK_SIM_DIR"
    if [ "$demo" = qemu ]; then
      echo "Its chip is QEMU's lm3s6965evb running $BUILD_DIR/firmware/lm3s6965evb.elf (VOLINK_SIM_DEMO=model: the core model)"
    else
      echo "Drive a pin of its chip: VOLINK_SIM_DIR=$VOLINK_SIM_DIR $BIN/volink-sim ctl pin demo PB8 1"
    fi
  fi
  "$BIN/gadrel" --list-adapters || true
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$BIN/gadrel" "$@"
else
  out="$BUILD_DIR/gadrel-view.png"
  echo "No display: rendering the pin view to $out (and ${out%.png}.json)"
  "$BIN/gadrel" --render "$out" --ticks 3 "$@"
  echo "Wrote $out"
fi
