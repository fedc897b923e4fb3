# Shared by the X11 tests (sourced): a scratch folder and background processes that go when the
# test ends, and a private X server.
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# start_x NAME [openbox]: starts Xvfb on a free display (it writes the number once it is ready),
# exports DISPLAY, and starts a window manager if asked.
start_x() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display-$1" >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        [ -s "$work/display-$1" ] && break
        sleep 0.1
    done
    export DISPLAY=":$(cat "$work/display-$1")"
    if [ "${2:-}" = openbox ]; then
        openbox >/dev/null 2>&1 &
        pids+=($!)
        sleep 0.5
    fi
}
