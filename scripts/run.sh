#!/usr/bin/env bash
# Sets everything up and runs Gadrel's main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
exec "$BUILD_DIR/bin/gadrel" -run_script examples/sample.lua "$@"
