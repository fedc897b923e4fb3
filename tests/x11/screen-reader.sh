#!/usr/bin/env bash
# A screen-reader user on a real X server with a window manager: a private D-Bus session with its
# accessibility bus, the program with accessibility on, a document pasted with Ctrl+V, and then
# screen-reader.py reading the AT-SPI tree and events while it drives the program by keyboard.
# Needs the sound server of scripts/with-sound-server.sh (the sink is checked).
# Usage: screen-reader.sh PARLIVO-BINARY
set -euo pipefail
parlivo=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
start_x main openbox

export PARLIVO_BINARY=$parlivo PARLIVO_WORK=$work PARLIVO_HERE=$here
# Everything that talks to the accessibility bus runs inside one private session bus.
dbus-run-session -- bash -c '
    set -euo pipefail
    QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb "$PARLIVO_BINARY" \
        >"$PARLIVO_WORK/parlivo.log" 2>&1 &
    app=$!
    trap "kill $app 2>/dev/null || true" EXIT
    window=""
    for _ in $(seq 200); do
        window=$(xdotool search --onlyvisible --name "^Dunmere Software - Parlivo$" 2>/dev/null |
            head -1 || true)
        [ -n "$window" ] && break
        sleep 0.05
    done
    [ -n "$window" ] || { echo "no window"; cat "$PARLIVO_WORK/parlivo.log"; exit 1; }
    xdotool windowfocus --sync "$window"
    sleep 0.3
    printf "%s " "This is the first sentence of a document read by a screen reader user." \
        "Each sentence here takes a moment to say, so that there is time to pause it." \
        "The reader goes on with a third sentence and a fourth one after that." \
        "Then it ends with a last sentence that nobody will wait for." |
        xclip -selection clipboard
    xdotool key ctrl+v ctrl+Home
    status=0
    /usr/bin/python3 "$PARLIVO_HERE/screen-reader.py" "$window" || status=$?
    [ $status -eq 0 ] || sed "s/^/    parlivo: /" "$PARLIVO_WORK/parlivo.log" | tail -30
    exit $status
'
