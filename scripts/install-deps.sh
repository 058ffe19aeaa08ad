#!/usr/bin/env bash
# Installs the Debian packages Tolvek builds and tests with. Safe to re-run:
# it only calls apt when something is missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config ccache git
    juce-modules-source
    libasound2-dev libfreetype-dev libfontconfig1-dev libx11-dev libxext-dev libxinerama-dev
    libxrandr-dev libxcursor-dev libxcomposite-dev libgl-dev libgtk-3-dev
    libflac-dev libvorbis-dev libogg-dev libpng-dev libjpeg-dev zlib1g-dev
    lv2-dev lilv-utils sordi
    googletest libgtest-dev libbenchmark-dev
    clang libclang-rt-14-dev
    xvfb xauth
    python3-numpy python3-scipy python3-pil python3-matplotlib
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
