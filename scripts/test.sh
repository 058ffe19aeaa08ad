#!/usr/bin/env bash
# Builds Tolvek and runs every test: unit, processor, editor (under Xvfb),
# host-level tests against the built bundles, and a short fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"

xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build --output-on-failure -j2 --timeout 900

if [ -x tests/fuzz/build_and_run.sh ]; then
    tests/fuzz/build_and_run.sh build/fuzz "${TOLVEK_FUZZ_SECONDS:-60}"
fi
