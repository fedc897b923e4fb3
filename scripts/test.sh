#!/usr/bin/env bash
# Installs the dependencies, builds Parlivo with warnings as errors and runs every test against a
# private PulseAudio server with a null sink.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset ci >/dev/null
cmake --build --preset ci
QT_QPA_PLATFORM=offscreen scripts/with-sound-server.sh ctest --preset ci "$@"
