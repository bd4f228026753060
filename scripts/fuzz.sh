#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang (AddressSanitizer,
# UndefinedBehaviorSanitizer) into build-fuzz/ and runs each for SECONDS on
# a copy of its seed corpus (tests/fuzz/corpus/<target>).
#   scripts/fuzz.sh [SECONDS] [TARGET...]    default 60 s, every target:
#     hex_loader host_reply sim_request sim_config package_reader
# FUZZ_DIR: build folder; FUZZ_CMAKE_ARGS: extra CMake arguments;
# FUZZ_ARGS: extra libFuzzer options. Exit status 1 when a target failed;
# its crash input lands in FUZZ_DIR/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh fuzz
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(hex_loader host_reply sim_request sim_config package_reader)
out=${FUZZ_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGADREL_FUZZ=ON \
  -DGADREL_BENCH=OFF ${FUZZ_CMAKE_ARGS:-} >/dev/null
cmake --build "$out" --target $(printf '%s_fuzz ' "${targets[@]}")
mkdir -p "$out/artifacts"
status=0
for t in "${targets[@]}"; do
  case $t in
    hex_loader) max_len=65536 ;;
    sim_config) max_len=16384 ;;
    *) max_len=8192 ;;
  esac
  corpus="$out/corpus/$t"
  mkdir -p "$corpus"
  cp -n tests/fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null || true
  echo "== $t: $seconds s"
  "$out/bin/${t}_fuzz" -max_total_time="$seconds" -rss_limit_mb=1024 -timeout=20 -max_len="$max_len" \
    -artifact_prefix="$out/artifacts/$t-" -print_final_stats=1 ${FUZZ_ARGS:-} "$corpus" || status=1
done
exit $status
