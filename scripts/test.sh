#!/usr/bin/env bash
# Builds Tolvek and runs every test: unit, processor, editor (under Xvfb),
# host-level tests against the built bundles, the same suites again under
# AddressSanitizer + UndefinedBehaviorSanitizer, the concurrency tests under
# ThreadSanitizer, and short fuzzing runs.
#
#   TOLVEK_FUZZ_SECONDS=N   length of each fuzzing run (default 60)
#   TOLVEK_SKIP_SANITIZERS=1  only the plain build
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# Sanitizer folders compile JUCE's modules exactly as the plain build does;
# a cache keyed on paths relative to the project root lets them share it.
export CCACHE_BASEDIR="$(pwd)"
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/ccache}"
jobs=$(nproc)
run_ctest() { xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir "$1" --output-on-failure -j2 --timeout 900 "${@:2}"; }

started=$(date +%s)
stage() { echo; echo "=== $1 ($(( $(date +%s) - started )) s)"; }

stage "plain build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"

stage "tests"
run_ctest build

fuzz_seconds="${TOLVEK_FUZZ_SECONDS:-60}"
stage "fuzzing the set decoder for ${fuzz_seconds} s"
tests/fuzz/build_and_run.sh build/fuzz "$fuzz_seconds"
if [ -x tests/fuzz/run_plugin_fuzzers.sh ]; then
    stage "fuzzing the state block and the MIDI stream for ${fuzz_seconds} s each"
    tests/fuzz/build_plugin_fuzzers.sh build
    tests/fuzz/run_plugin_fuzzers.sh build "$fuzz_seconds"
fi

if [ "${TOLVEK_SKIP_SANITIZERS:-0}" != 1 ]; then
    stage "AddressSanitizer + UndefinedBehaviorSanitizer"
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Release -DTOLVEK_SANITIZE=address,undefined -DTOLVEK_BUILD_BENCH=OFF
    cmake --build build-asan -j"$jobs" --target tolvek_engine_tests tolvek_plugin_tests tolvek-render tolvek-pack tolvek-info tolvek_default_sets
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    build-asan/tests/tolvek_engine_tests
    xvfb-run -a -s "-screen 0 1280x1024x24" build-asan/tests/tolvek_plugin_tests
    unset ASAN_OPTIONS UBSAN_OPTIONS

    stage "ThreadSanitizer (concurrency tests)"
    cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Release -DTOLVEK_SANITIZE=thread -DTOLVEK_BUILD_BENCH=OFF
    cmake --build build-tsan -j"$jobs" --target tolvek_plugin_tests
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(pwd)/tests/tsan.supp xvfb-run -a -s "-screen 0 1280x1024x24" \
        build-tsan/tests/tolvek_plugin_tests --gtest_filter='*WhileRendering*:*Concurren*:*Thread*:SetLoading*' 
fi

stage "all tests passed"
