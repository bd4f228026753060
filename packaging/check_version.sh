#!/usr/bin/env bash
# `--version` of the three programs: exit 0 without any display, the
# project's version on the first line, the libraries in use after it.
#   check_version.sh BUILD_DIR VERSION
set -euo pipefail
bin=$1/bin version=$2
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }
for expected in "gadrel:Qt [0-9]+\.[0-9]+.*Lua 5\.1.*hidapi [0-9].*libusb [0-9]" "volink:hidapi [0-9].*libusb [0-9]" "volink-sim:"; do
  program=${expected%%:*} libraries=${expected#*:}
  if ! out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/$program" --version 2>&1); then
    bad "$program --version failed: $out"
    continue
  fi
  echo "$out"
  [ "$(head -n1 <<<"$out")" = "$program $version" ] || bad "$program: first line is not '$program $version'"
  [ -z "$libraries" ] || grep -qE "$libraries" <<<"$out" || bad "$program: no library versions ($libraries)"
done
exit $fail
