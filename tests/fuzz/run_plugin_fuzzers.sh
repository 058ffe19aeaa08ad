#!/bin/sh
# Runs the processor fuzz targets built by build_plugin_fuzzers.sh, each for
# SECONDS, with seed inputs. The targets write small sample sets of their
# own into the target folder (fuzz-sets/).
#
#   tests/fuzz/run_plugin_fuzzers.sh BUILD_DIR SECONDS [libFuzzer options...]
#
# e.g. a long run to a fixed number of inputs:
#   nice tests/fuzz/run_plugin_fuzzers.sh build 100000 -runs=10000000
# Targets are taken from BUILD_DIR/plugin-fuzz unless TOLVEK_FUZZ_DIR names
# another folder. Findings land in that folder.
set -eu

if [ $# -lt 2 ]; then
    echo "usage: $0 BUILD_DIR SECONDS [libFuzzer options...]" >&2
    exit 2
fi
build_dir=$(cd "$1" && pwd)
seconds=$2
shift 2
fuzz_dir=${TOLVEK_FUZZ_DIR:-$build_dir/plugin-fuzz}
fuzz_dir=$(cd "$fuzz_dir" && pwd)

# Seeds: saved states as the processor writes them, and a few MIDI runs.
state_corpus="$fuzz_dir/corpus-state"
midi_corpus="$fuzz_dir/corpus-midi"
mkdir -p "$state_corpus" "$midi_corpus"
seed_state() {
    xml="<?xml version=\"1.0\" encoding=\"UTF-8\"?> $2"
    length=$(printf '%s' "$xml" | wc -c)
    {
        printf 'VC2!'
        printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((length & 255)) $((length >> 8 & 255)) $((length >> 16 & 255)) $((length >> 24 & 255)))"
        printf '%s' "$xml"
        printf '\000'
    } > "$state_corpus/$1"
}
seed_state fresh '<MYPLUGINSETTINGS attack="0.0" release="0.02" decay="0.0" sustain="1.0" tinemix="0.0" low="0.1508" mid="0.1508" high="0.1508" tremspeed="0.5" tremapm="0.5" drivegain="0.0" reverbmix="0.3" reverbrefecl="0.3" roomsize="0.0" tail="0.2" chorusdelay="0.3506" chorusmix="0.4444" mainout="0.2" drivecab="0.6" program="0.0" choruson="0.0" reverbon="0.0" eqon="0.0" tineon="0.0" tremon="0.0" driveon="0.0"/>'
seed_state all-on '<MYPLUGINSETTINGS attack="0.5" release="1.0" tinemix="1.0" drivegain="1.0" mainout="1.0" drivecab="1.0" program="0.00392156862745098" choruson="1.0" reverbon="1.0" eqon="1.0" tineon="1.0" tremon="1.0" driveon="1.0"/>'
seed_state odd-numbers '<mypluginsettings attack="nan" release="inf" decay="-inf" sustain="1e400" tinemix="-1" low="2" mid="x" high="" drivecab="1e-400" program="-0"/>'
seed_state other-tag '<OTHER eqon="1"/>'
printf '\077\017\000\002\003\003\220\074\177\000\003\260\100\177\000\003\340\000\100\000\000\200\004\003\200\074\000\000\002\300\001\000' > "$midi_corpus/notes"
printf '\377\026\020\047\010\003\220\100\144\000\003\220\103\144\000\003\220\107\144\000\003\340\177\177\000\003\260\100\000\000\002\300\000\000\001\370\000\001\376\000' > "$midi_corpus/long-block"

cd "$fuzz_dir"
status=0
"$fuzz_dir/fuzz_state" -max_len=4096 -max_total_time="$seconds" -print_final_stats=1 "$@" "$state_corpus" || status=1
"$fuzz_dir/fuzz_midi" -max_len=2048 -max_total_time="$seconds" -print_final_stats=1 "$@" "$midi_corpus" || status=1
exit $status
