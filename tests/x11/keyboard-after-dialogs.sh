#!/usr/bin/env bash
# A keyboard user on a real X server, with and without a window manager: opens a document by
# typing its name and pressing Return, types, saves (answering the confirmation with Return),
# goes through Options and back, types again and saves again. Every key typed after a dialog
# closes must reach the text: the saved files say whether it did.
# Usage: keyboard-after-dialogs.sh PARLIVO-BINARY
set -euo pipefail
parlivo=$1
source "$(dirname "$0")/common.sh"

# Waits (up to 10 s) for a visible window whose name matches $1, and prints its id. Polled:
# xdotool's own --sync gives up with an X error when a window goes while it looks.
window() {
    local id
    for _ in $(seq 200); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.05
    done
    echo "no window '$1'" >&2
    return 1
}
# Waits until no window whose name matches $1 is visible.
gone() {
    local found
    for _ in $(seq 100); do
        # Nothing found, and no X error from a window that went while xdotool looked.
        found=$(xdotool search --onlyvisible --name "$1" 2>&1 || true)
        [ -z "$found" ] && return 0
        sleep 0.1
    done
    echo "window '$1' did not close" >&2
    return 1
}
keys() { xdotool key --delay 30 "$@"; }
typed() { xdotool type --delay 30 "$1"; }

# Fills a file dialog's name field and accepts it with Return, as fast as a person types.
file_dialog() {
    window '^(Open|Save|Save As)$' >/dev/null
    sleep 0.3
    typed "$1"
    keys Return
    gone '^(Open|Save|Save As)$'
}

scenario() {
    local wm=$1
    start_x "$wm" "$wm"

    printf 'hello world' >"$work/doc.txt"
    local first="$work/first-$wm.txt" second="$work/second-$wm.txt"
    QT_QPA_PLATFORM=xcb "$parlivo" >"$work/parlivo-$wm.log" 2>&1 &
    local app=$!
    pids+=("$app")
    local main
    main=$(window '^Dunmere Software - Parlivo$')
    xdotool windowfocus --sync "$main"
    sleep 0.3

    keys alt+f o
    file_dialog "$work/doc.txt"
    typed abc # the caret is at the start after opening
    keys alt+f s
    file_dialog "$first"
    window '^Parlivo$' >/dev/null
    keys Return
    gone '^Parlivo$'
    typed X
    keys alt+d o
    window '^Options$' >/dev/null
    sleep 0.3
    keys Tab Tab space # from the slider past Test Settings to OK
    gone '^Options$'
    typed Y
    keys alt+f s
    file_dialog "$second"
    window '^Parlivo$' >/dev/null
    keys Return
    gone '^Parlivo$'
    kill "$app"

    local ok=0
    check() {
        local got
        got=$(cat "$1" 2>/dev/null || echo '<missing>')
        if [ "$got" != "$2" ]; then
            echo "FAIL ($wm): $(basename "$1") holds $(printf %q "$got"), expected $(printf %q "$2")"
            ok=1
        fi
    }
    check "$first" $'abc\r\nhello world\r'
    check "$second" $'abcXY\r\nhello world\r'
    [ $ok -eq 0 ] && echo "PASS ($wm)"
    [ $ok -eq 0 ] || sed 's/^/    parlivo: /' "$work/parlivo-$wm.log" | tail -40
    return $ok
}

status=0
scenario none || status=1
scenario openbox || status=1
exit $status
