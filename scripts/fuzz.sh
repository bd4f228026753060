#!/usr/bin/env bash
# Builds the image-loader fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) into build-fuzz/ and runs it on a copy of the
# seed corpus in tests/fuzz/corpus.
#   scripts/fuzz.sh [SECONDS]            default 60
# Extra libFuzzer options may follow the seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh fuzz
seconds=${1:-60}
shift || true
out=${FUZZ_DIR:-build-fuzz}
mkdir -p "$out/corpus"
cp -n tests/fuzz/corpus/* "$out/corpus/" 2>/dev/null || true
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I. -Itests -o "$out/hex_loader_fuzz" \
  tests/fuzz/HexLoaderFuzz.cpp fwupdate/CHexBinFile.cpp fwupdate/ImageSums.cpp \
  fileio/FileIO.cpp fileio/SFileIO.cpp
exec "$out/hex_loader_fuzz" -max_total_time="$seconds" -rss_limit_mb=512 -max_len=65536 \
  -print_final_stats=1 "$@" "$out/corpus"
