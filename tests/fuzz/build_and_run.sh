#!/bin/sh
# Builds the set-decoder fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer), seeds its corpus with encoder output and runs it.
#
#   tests/fuzz/build_and_run.sh BUILD_DIR SECONDS [extra libFuzzer options]
#
# e.g. a long run to a fixed number of inputs:
#   nice tests/fuzz/build_and_run.sh build-fuzz 100000 -runs=10000000
set -eu

if [ $# -lt 2 ]; then
    echo "usage: $0 BUILD_DIR SECONDS [libFuzzer options...]" >&2
    exit 2
fi
build_dir=$1
seconds=$2
shift 2

root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$build_dir"
build_dir=$(cd "$build_dir" && pwd)
corpus="$build_dir/corpus"
mkdir -p "$corpus"

sources="$root/Source/samples/SampleSet.cpp $root/Source/samples/SetEncoder.cpp"
flags="-std=c++17 -ffp-contract=off -I$root/Source -I$root/tests/support"

clang++ $flags -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -o "$build_dir/fuzz_set_decoder" "$root/tests/fuzz/fuzz_set_decoder.cpp" $sources
clang++ $flags -O1 -o "$build_dir/make_seeds" "$root/tests/fuzz/make_seeds.cpp" $sources
"$build_dir/make_seeds" "$corpus"

# Findings land in the build folder, not in the working directory.
cd "$build_dir"
exec "$build_dir/fuzz_set_decoder" -max_len=65536 -max_total_time="$seconds" \
    -print_final_stats=1 "$@" "$corpus"
