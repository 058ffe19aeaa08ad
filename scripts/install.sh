#!/usr/bin/env bash
# Installs Tolvek from build/ (building it first when needed).
#
#   bash scripts/install.sh                     for the current user, no root needed:
#                                               ~/.vst3, ~/.lv2, ~/.local/bin, ~/.local/share/tolvek/samples,
#                                               and the path file when there is none yet
#   sudo bash scripts/install.sh --system [PREFIX]
#                                               system-wide (PREFIX defaults to /usr/local):
#                                               PREFIX/lib/vst3, PREFIX/lib/lv2, PREFIX/bin,
#                                               PREFIX/share/tolvek/samples; no path file is written
#   bash scripts/install.sh --uninstall [--system [PREFIX]]
#                                               removes what the install put there; the path file and
#                                               any sets of your own stay
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

mode=user
action=install
prefix=/usr/local
while [ $# -gt 0 ]; do
    case "$1" in
        --system) mode=system
                  if [ $# -gt 1 ] && [ "${2#--}" = "$2" ]; then prefix=$2; shift; fi ;;
        --uninstall) action=uninstall ;;
        -h|--help) sed -n '2,14p' "$0"; exit 0 ;;
        *) echo "install.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
    shift
done

if [ "$mode" = user ]; then
    vst3_dir="$HOME/.vst3"
    lv2_dir="$HOME/.lv2"
    bin_dir="$HOME/.local/bin"
    share_dir="$HOME/.local/share/tolvek"
else
    vst3_dir="$prefix/lib/vst3"
    lv2_dir="$prefix/lib/lv2"
    bin_dir="$prefix/bin"
    share_dir="$prefix/share/tolvek"
fi
sample_dir="$share_dir/samples"
manifest="$share_dir/installed-files.txt"

if [ "$action" = uninstall ]; then
    if [ ! -f "$manifest" ]; then
        echo "Tolvek is not installed in $share_dir (no $manifest)"
        exit 0
    fi
    while IFS= read -r path; do
        [ -n "$path" ] && rm -rf -- "$path"
    done < "$manifest"
    rm -f -- "$manifest"
    rmdir -- "$sample_dir" 2>/dev/null || true
    rmdir -- "$share_dir" 2>/dev/null || true
    echo "Removed Tolvek from $vst3_dir, $lv2_dir, $bin_dir and $share_dir (the path file and your own sets are kept)"
    exit 0
fi

artefacts="$root/build/Tolvek_artefacts/Release"
if [ ! -d "$artefacts/VST3/Tolvek.vst3" ] || [ ! -x "$root/build/bin/tolvek-sample-folder" ] || [ ! -f "$root/build/samples/tines.tin" ]; then
    scripts/install-deps.sh
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build -j"$(nproc)" --target Tolvek_VST3 Tolvek_LV2 Tolvek_Standalone tolvek-sample-folder tolvek_default_sets tolvek-render
fi

mkdir -p "$vst3_dir" "$lv2_dir" "$bin_dir" "$sample_dir"
installed=()

# Replace bundles whole, so an upgrade leaves nothing of the old one behind.
copy_tree() {
    rm -rf -- "$2.new"
    cp -R -- "$1" "$2.new"
    rm -rf -- "$2"
    mv -- "$2.new" "$2"
    installed+=("$2")
}
copy_file() {
    install -m "$3" -- "$1" "$2.new"
    mv -f -- "$2.new" "$2"
    installed+=("$2")
}

copy_tree "$artefacts/VST3/Tolvek.vst3" "$vst3_dir/Tolvek.vst3"
copy_tree "$artefacts/LV2/Tolvek.lv2" "$lv2_dir/Tolvek.lv2"
copy_file "$artefacts/Standalone/Tolvek" "$bin_dir/Tolvek" 755
copy_file "$root/build/bin/tolvek-render" "$bin_dir/tolvek-render" 755
copy_file "$root/build/bin/tolvek-sample-folder" "$bin_dir/tolvek-sample-folder" 755
for set in "$root"/build/samples/*.rks "$root/build/samples/tines.tin"; do
    copy_file "$set" "$sample_dir/$(basename "$set")" 644
done
printf '%s\n' "${installed[@]}" > "$manifest"

echo "Installed the VST3 bundle in $vst3_dir, the LV2 bundle in $lv2_dir, Tolvek (standalone) in $bin_dir"
echo "Installed the default sample sets in $sample_dir"
if [ "$mode" = user ]; then
    # The plug-in finds its sets only through the path file; seed it once, never overwrite a choice.
    "$root/build/bin/tolvek-sample-folder" --init "$sample_dir"
fi
