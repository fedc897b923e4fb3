#!/usr/bin/env bash
# Installs the dependencies, builds Parlivo with warnings as errors and runs every test against a
# private PulseAudio server with a null sink, which it stops again however the tests end.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset ci >/dev/null
cmake --build --preset ci

runtime=$(mktemp -d)
export XDG_RUNTIME_DIR="$runtime"
export PULSE_RUNTIME_PATH="$runtime/pulse"
unset PULSE_SERVER DISPLAY WAYLAND_DISPLAY
stop_server() {
    pulseaudio --kill >/dev/null 2>&1 || true
    rm -rf "$runtime"
}
trap stop_server EXIT
pulseaudio -D --exit-idle-time=-1 -n --disallow-exit \
    --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=test rate=48000 channels=1 norewinds=1"
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink test

export QT_QPA_PLATFORM=offscreen
ctest --preset ci "$@"
