#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build, the application and
# the tests need and the machine lacks. Installs nothing when all is present.
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config ccache patch juce-modules-source
    libasound2-dev libjack-jackd2-dev libfreetype-dev libfontconfig1-dev
    libx11-dev libxrandr-dev libxinerama-dev libxcursor-dev libxext-dev
    libpng-dev libjpeg-dev libgtest-dev libgmock-dev
    # fuzzing: clang with its libFuzzer and sanitizer runtimes
    clang-14 libclang-rt-14-dev
    # headless windows and screenshots
    xvfb xauth openbox x11-utils xdotool wmctrl imagemagick fonts-dejavu-core
    # an audio server with a dummy driver for the end-to-end audio test
    jackd2
)

if [ "${VELLIX_WITH_TEST_PLUGINS:-0}" = 1 ]; then
    # Third-party LV2 plug-ins that the hosting tests load and play.
    packages+=(mda-lv2 calf-plugins dragonfly-reverb-lv2 lsp-plugins-lv2 x42-plugins lv2-dev)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
# jackd2 asks whether to enable real-time priority; answer no without a prompt.
echo "jackd2 jackd/tweak_rt_limits boolean false" | "${sudo_cmd[@]}" debconf-set-selections 2>/dev/null || true
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
