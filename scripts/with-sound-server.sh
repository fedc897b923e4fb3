#!/usr/bin/env bash
# Runs a command against a private PulseAudio server with one null sink ("test", 48 kHz mono,
# recorded through "test.monitor"), and stops the server again however the command ends.
# norewinds=1: without it the monitor loses audio around a suspend.
set -euo pipefail

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

"$@"
