#!/usr/bin/env bash
# Builds everything (plug-ins, tools, the default sample sets) and renders the
# demo piece to demo.wav with the default "Tolvek Suitcase" set.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"

build/bin/tolvek-render --quiet \
    --sample-set "Tolvek Suitcase.rks" --set tinemix=0.35 \
    --set tremon=1 --set tremspeed=0.45 --set tremapm=0.35 \
    --set driveon=1 --set drivegain=2 --set drivecab=3 \
    --set choruson=1 --set chorusmix=0.3 --set chorusdelay=0.8 \
    --set reverbon=1 --set reverbmix=0.25 --set roomsize=40 --set tail=0.35 --set mainout=3 \
    demo/demo.mid demo.wav
build/bin/tolvek-render --help >/dev/null
echo "demo.wav written"
