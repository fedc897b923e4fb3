#!/usr/bin/env bash
# The Debian package on a clean Debian 12: a minimal system made by debootstrap installs it with
# apt-get (which must bring everything it needs), the installed program is started in that
# system on this test's X server and sound server, pastes a text and speaks it (heard at the
# null sink), and purging the package leaves none of its files behind.
# Usage: test-package.sh PACKAGE.deb   (as root, under scripts/with-sound-server.sh)
# PARLIVO_DEBIAN_MIRROR names another mirror.
set -euo pipefail
deb=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../x11/common.sh"
mirror=${PARLIVO_DEBIAN_MIRROR:-http://deb.debian.org/debian}
root="$work/root"

# The clean system's mounts go before anything is deleted: a bind mount of the host's /dev or
# X socket folder must never be recursed into.
unmount_all() {
    for m in run/pulse-host tmp/.X11-unix dev/pts dev proc; do
        mountpoint -q "$root/$m" 2>/dev/null && umount -l "$root/$m"
    done
    if findmnt -rn -o TARGET | grep -q "^$root"; then
        echo "mounts left under $root: not deleting it" >&2
        work=/nonexistent
    fi
}
trap 'unmount_all; cleanup' EXIT
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }

echo "--- debootstrap $(date +%T)"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { tail -20 "$work/debootstrap.log"; exit 1; }
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"

echo "--- apt-get install $(date +%T)"
cp "$deb" "$root/tmp/"
in_root apt-get update -qq
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "/tmp/$(basename "$deb")" \
    >"$work/install.log" 2>&1 || { tail -30 "$work/install.log"; exit 1; }
in_root dpkg -L parlivo >"$work/files"
for f in /usr/bin/parlivo /usr/libexec/parlivo/parlivo-synth /usr/libexec/parlivo/parlivo-extract \
    /usr/share/applications/org.parlivo.Parlivo.desktop \
    /usr/share/metainfo/org.parlivo.Parlivo.metainfo.xml /usr/share/man/man1/parlivo.1.gz; do
    grep -qx "$f" "$work/files" || { echo "the package lacks $f" >&2; exit 1; }
done
# Nothing the programs link is missing from the clean system.
if in_root ldd /usr/bin/parlivo /usr/libexec/parlivo/parlivo-synth \
    /usr/libexec/parlivo/parlivo-extract | grep "not found"; then
    exit 1
fi

echo "--- the installed program speaks $(date +%T)"
start_x package
mkdir -p "$root/tmp/.X11-unix" "$root/run/pulse-host"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
mount --bind "$PULSE_RUNTIME_PATH" "$root/run/pulse-host"
cookie="$HOME/.config/pulse/cookie"
if [ -f "$cookie" ]; then
    mkdir -p "$root/root/.config/pulse"
    cp "$cookie" "$root/root/.config/pulse/cookie"
fi
in_root DISPLAY="$DISPLAY" PULSE_SERVER=unix:/run/pulse-host/native QT_QPA_PLATFORM=xcb \
    /usr/bin/parlivo >"$work/parlivo.log" 2>&1 &
app=$!
pids+=("$app")
main=""
for _ in $(seq 200); do
    main=$(xdotool search --onlyvisible --name '^Dunmere Software - Parlivo$' 2>/dev/null | head -1 || true)
    [ -n "$main" ] && break
    sleep 0.05
done
[ -n "$main" ] || { echo "no window; the program said:" >&2; cat "$work/parlivo.log" >&2; exit 1; }
xdotool windowfocus --sync "$main"
sleep 0.5
parec -d test.monitor --raw --format=s16le --rate=48000 --channels=1 --latency-msec=10 \
    "$work/sink.raw" &
recorder=$!
pids+=("$recorder")
sleep 1
printf 'The package is installed, and this sentence is read aloud from it.' |
    xclip -selection clipboard -quiet &
pids+=($!)
sleep 0.3
xdotool key --delay 50 ctrl+v F5
sleep 5
kill "$recorder" 2>/dev/null || true
loud=$(/usr/bin/python3 - "$work/sink.raw" <<'EOF'
import array, sys
samples = array.array("h", open(sys.argv[1], "rb").read())
block = 480  # 10 ms
print(sum(1 for i in range(0, len(samples) - block, block)
          if max(abs(s) for s in samples[i:i + block]) > 1000) * 10)
EOF
)
echo "heard $loud ms of speech"
[ "$loud" -gt 1500 ] || { echo "the installed program did not speak:" >&2; cat "$work/parlivo.log" >&2; exit 1; }
kill "$app" 2>/dev/null || true
wait "$app" 2>/dev/null || true

echo "--- apt-get purge $(date +%T)"
in_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq parlivo >"$work/purge.log" 2>&1
left=0
while read -r f; do
    # Folders the system shares (/usr/share/man, ...) stay; the package's own files and folders go.
    if [ -e "$root$f" ] && ! { [ -d "$root$f" ] && [ -n "$(ls -A "$root$f")" ]; }; then
        echo "left behind: $f" >&2
        left=1
    fi
done <"$work/files"
for d in /usr/libexec/parlivo /usr/share/doc/parlivo; do
    [ ! -e "$root$d" ] || { echo "left behind: $d" >&2; left=1; }
done
[ "$left" -eq 0 ]
echo "--- passed $(date +%T)"
