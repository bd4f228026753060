#!/usr/bin/env bash
# The desktop metadata validates (appstreamcli, desktop-file-validate); each
# man page renders without a warning and names every option and command its
# program's --help lists; docs/volink.md names every command of volink --help.
#   check_docs.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 src=$2
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

appstreamcli validate --no-net --pedantic "$build/packaging/org.korvane.gadrel.metainfo.xml" || bad "metainfo"
desktop-file-validate "$src/org.korvane.gadrel.desktop" || bad "desktop entry"

for program in gadrel volink volink-sim; do
  page=$build/packaging/man/$program.1
  warnings=$(MANWIDTH=100 man --warnings -E ascii -l "$page" 2>&1 >/dev/null) || bad "$program.1 does not render"
  [ -z "$warnings" ] || bad "$program.1: $warnings"
  text=$(MANWIDTH=100 man -E ascii -l "$page" 2>/dev/null)
  grep -q "^NAME" <<<"$text" || bad "$program.1 has no NAME section"
  # What starts a line of the usage text (an option, or a command word of
  # volink and volink-sim) has its own entry, a term line of the page;
  # options inside a line are named somewhere.
  help=$("$build/bin/$program" --help 2>&1)
  terms=$(sed -nE 's/^  (volink-sim )?([a-z/-][a-z_-]*).*/\2/p' <<<"$help" | grep -vx volink-sim | sort -u)
  options=$(grep -oE '(^|[ [])--?[a-z][a-z_-]*' <<<"$help" | tr -d ' [' | sort -u)
  for w in $terms; do
    grep -qE -- "^ {7}([^ ]+ \| )*$w([ ,]|$)" <<<"$text" || bad "$program.1 has no entry for $w (from $program --help)"
  done
  for w in $options; do
    grep -qF -- "$w" <<<"$text" || bad "$program.1 does not mention $w (from $program --help)"
  done
done

# docs/volink.md, the probe tool by task, names every command of volink --help.
page=$src/../docs/volink.md
commands=$("$build/bin/volink" --help 2>&1 | awk '/^  [a-z]/ {
  s = substr($0, 3); i = index(s, "  "); if (i) s = substr(s, 1, i - 1)
  n = split(s, alts, / \| /)
  for (a = 1; a <= n; a++) {
    m = split(alts[a], w, " "); c = ""
    for (j = 1; j <= m && w[j] ~ /^[a-z]+$/; j++) c = c (c ? " " : "") w[j]
    if (c) print c
  } }')
[ -n "$commands" ] || bad "no commands in volink --help"
while read -r c; do
  grep -qF -- "\`$c" "$page" || grep -qF -- "volink $c" "$page" || bad "docs/volink.md does not name '$c' (from volink --help)"
done <<<"$commands"
exit $fail
