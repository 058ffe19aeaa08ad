#!/bin/sh
# Builds the processor fuzz targets (state block, MIDI stream) with clang,
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   tests/fuzz/build_plugin_fuzzers.sh BUILD_DIR [OUT_DIR]
#
# BUILD_DIR is a finished gcc build with JUCE (the main build folder): its
# compiled JUCE modules and artwork library are linked as they are, so JUCE is
# not compiled again. Only Tolvek's own sources (processor, editor, engine) are
# compiled with clang and instrumented. Targets land in OUT_DIR, by default
# BUILD_DIR/plugin-fuzz.
set -eu

if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD_DIR [OUT_DIR]" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=$(cd "$1" && pwd)
out_dir=${2:-$build_dir/plugin-fuzz}
mkdir -p "$out_dir/obj"
out_dir=$(cd "$out_dir" && pwd)

flags_make="$build_dir/CMakeFiles/Tolvek.dir/flags.make"
modules="$build_dir/CMakeFiles/Tolvek.dir/usr/share/juce/modules"
artwork="$build_dir/libTolvekArtwork.a"
for needed in "$flags_make" "$modules" "$artwork"; do
    if [ ! -e "$needed" ]; then
        echo "$0: $needed is missing: build the plug-in in $build_dir first" >&2
        exit 1
    fi
done

# The shared code's own definitions and include paths, so the processor's
# classes have the same layout as in the JUCE objects they are linked with.
defines=$(sed -n 's/^CXX_DEFINES = //p' "$flags_make")
includes=$(sed -n 's/^CXX_INCLUDES = //p' "$flags_make")

launcher=
if command -v ccache > /dev/null 2>&1; then
    launcher=ccache
fi
cxx="$launcher clang++"
sanitize="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
common="-std=gnu++17 -O1 -g -fPIC -ffp-contract=off -w $sanitize"

objects=
compile() {
    source=$1
    object="$out_dir/obj/$(echo "$source" | sed "s|^$root/||; s|/|_|g").o"
    # gcc's vector extensions (shuffles, element addresses) have no clang
    # spelling: a file clang refuses is built with gcc, uninstrumented, with
    # the flags of the normal build, and named here.
    if ! eval "$cxx $common $defines $includes -I$root/Source -c '$source' -o '$object'" 2> "$object.log"; then
        echo "note: $(echo "$source" | sed "s|^$root/||") is gcc-only C++, built uninstrumented with g++" >&2
        eval "$launcher g++ -std=gnu++17 -O3 -fPIC -ffp-contract=off -w $defines $includes -I$root/Source -c '$source' -o '$object'"
    fi
    objects="$objects $object"
}

for source in "$root"/Source/*.cpp "$root"/Source/dsp/*.cpp "$root"/Source/samples/*.cpp; do
    compile "$source"
done
tolvek_objects=$objects

juce_objects=$(echo "$modules"/*/*.o)
libs="$(pkg-config --libs flac vorbis vorbisfile vorbisenc ogg libpng libjpeg zlib) -lasound -lfreetype -lrt -ldl -lpthread"

for target in fuzz_state fuzz_midi; do
    objects=
    compile "$root/tests/fuzz/$target.cpp"
    eval "clang++ -fsanitize=fuzzer,address,undefined -o '$out_dir/$target' $objects $tolvek_objects $juce_objects '$artwork' $libs"
    echo "built $out_dir/$target"
done
