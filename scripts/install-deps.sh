#!/usr/bin/env bash
# Installs what Parlivo needs to build, run and test on Debian 12. Safe to run again.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    clang libclang-rt-14-dev clang-format
    qt6-base-dev qt6-multimedia-dev qt6-qpa-plugins libgl-dev
    libespeak-ng-dev espeak-ng-data espeak-ng
    flite1-dev flite libsonic-dev libsndfile1-dev
    libpocketsphinx-dev libsphinxbase-dev pocketsphinx-en-us
    libgumbo-dev libmd4c-dev libuchardet-dev libzip-dev catdoc libcld2-dev
    libmupdf-dev libmujs-dev libopenjp2-7-dev libjbig2dec0-dev libjpeg-dev libfreetype-dev
    libharfbuzz-dev zlib1g-dev
    fonts-liberation
    libpulse-dev pulseaudio pulseaudio-utils
    xvfb xclip xdotool openbox
    dbus at-spi2-core python3-pyatspi playerctl
    dpkg-dev desktop-file-utils appstream mandoc debootstrap
)
# The benchmark's anchors: other programs timed on the same documents (bench/run asks for them).
if [ "${1:-}" = "--bench" ]; then
    packages+=(poppler-utils pandoc)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
