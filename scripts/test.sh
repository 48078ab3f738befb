#!/usr/bin/env bash
# Builds everything and runs every test: unit, end-to-end, soak and the GUI
# check under a virtual display. Extra arguments go to ctest (e.g. -L engine).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
build_dir=${QUOR_BUILD_DIR:-build-tests}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUOR_WERROR="${QUOR_WERROR:-OFF}" >/dev/null
cmake --build "$build_dir"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" "$@"
