#!/usr/bin/env bash
# Builds the Debian package of a build tree into BUILD_DIR/package and checks
# it: its control data (name, version, the dependencies dpkg-shlibdeps found,
# the maintainer scripts) and its file list.
#   check_package.sh BUILD_DIR VERSION
set -euo pipefail
build=$(cd "$1" && pwd) version=$2
arch=$(dpkg --print-architecture)
deb=$build/package/gadrel_${version}_$arch.deb
rm -f "$deb"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
cpack --config "$build/CPackConfig.cmake" >"$log" 2>&1 || { cat "$log"; exit 1; }
[ -f "$deb" ] || { cat "$log"; echo "FAIL: no $deb" >&2; exit 1; }
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = gadrel ] || bad "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || bad "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || bad "Architecture: $(field Architecture)"
depends=$(field Depends)
names=$(tr ',' '\n' <<<"$depends" | sed -E 's/^ +//; s/ .*//')
for lib in libc6 libstdc++6 libqt6widgets6 libqt6gui6 libqt6core6 liblua5.1-0 lua-bitop libhidapi-hidraw0 libusb-1.0-0; do
  grep -qxF "$lib" <<<"$names" || bad "Depends lacks $lib: $depends"
done
info=$(dpkg-deb --info "$deb")
for script in postinst postrm; do
  grep -qE "^ +[0-9]+ bytes, +[0-9]+ lines +\* +$script " <<<"$info" || bad "no executable $script"
done
work=$(mktemp -d)
trap 'rm -f "$log"; rm -rf "$work"' EXIT
dpkg-deb --ctrl-tarfile "$deb" | tar -x -C "$work"
grep -q 'udevadm control --reload-rules' "$work/postinst" || bad "postinst does not reload the udev rules"

files=$(dpkg-deb --contents "$deb" | awk '{print $6}')
expected=(
  ./usr/bin/gadrel ./usr/bin/volink ./usr/bin/volink-sim
  ./usr/share/gadrel/Gadrel/gadrel.lua ./usr/share/gadrel/Gadrel/gadrel_demo.lua
  ./usr/share/gadrel/examples/sample.lua ./usr/share/gadrel/examples/sample_cmdline.lua ./usr/share/gadrel/configs/qemu.json
  ./usr/lib/udev/rules.d/60-volink.rules
  ./usr/share/applications/org.korvane.gadrel.desktop
  ./usr/share/icons/hicolor/scalable/apps/org.korvane.gadrel.svg
  ./usr/share/metainfo/org.korvane.gadrel.metainfo.xml
  ./usr/share/man/man1/gadrel.1.gz ./usr/share/man/man1/volink.1.gz ./usr/share/man/man1/volink-sim.1.gz
  ./usr/share/doc/gadrel/pin-scripts.md ./usr/share/doc/gadrel/scripting.md
  ./usr/share/doc/gadrel/pictures/pin_marks.png
  ./usr/share/gadrel/examples/pins_demo_chip.lua
)
[ -f "$build/firmware/lm3s6965evb.elf" ] && expected+=(./usr/share/gadrel/firmware/lm3s6965evb.elf)
[ -f "$build/firmware/blink51.ihx" ] && expected+=(./usr/share/gadrel/firmware/blink51.ihx)
for f in "${expected[@]}"; do
  grep -qxF -- "$f" <<<"$files" || bad "missing $f"
done
# Nothing but the installed tree: no tests, benchmarks, headers or build paths.
stray=$(grep -vE '^\./usr/(bin/(gadrel|volink|volink-sim)|share/(gadrel|doc/gadrel|applications|icons|metainfo|man)/|lib/udev/)' <<<"$files" |
  grep -vE '/$' || true)
[ -z "$stray" ] || bad "unexpected files: $stray"
# Stripped programs: the package carries no debug information.
dpkg-deb -x "$deb" "$work/root"
for p in gadrel volink volink-sim; do
  file "$work/root/usr/bin/$p" | grep -q 'not stripped' && bad "$p is not stripped"
done
exit $fail
