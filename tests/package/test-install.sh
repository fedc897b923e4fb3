#!/usr/bin/env bash
# What `cmake --install` makes of a build: the desktop entry, AppStream metadata and manual page
# pass their validators, and the installed program, away from the build folder, finds its
# helpers in libexec (the speech worker starts; the document reader reads a file).
# Usage: test-install.sh BUILD-DIR SOURCE-DIR
set -euo pipefail
build=$1
source=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

desktop-file-validate "$source/data/org.parlivo.Parlivo.desktop"
appstreamcli validate --no-net --strict "$source/data/org.parlivo.Parlivo.metainfo.xml"
[ -z "$(mandoc -T lint -W warning "$source/data/parlivo.1")" ]

DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
for f in usr/bin/parlivo usr/libexec/parlivo/parlivo-synth usr/libexec/parlivo/parlivo-extract \
    usr/share/applications/org.parlivo.Parlivo.desktop \
    usr/share/metainfo/org.parlivo.Parlivo.metainfo.xml usr/share/man/man1/parlivo.1.gz \
    usr/share/doc/parlivo/copyright; do
    [ -f "$stage/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done
[ ! -e "$stage/usr/bin/parlivo-synth" ] || { echo "a helper is on PATH" >&2; exit 1; }
gzip -dc "$stage/usr/share/man/man1/parlivo.1.gz" | cmp - "$source/data/parlivo.1"

cd "$stage"
unset PARLIVO_SYNTH PARLIVO_EXTRACT
PARLIVO_REPORT_STARTUP=1 QT_QPA_PLATFORM=offscreen usr/bin/parlivo >"$stage/said" 2>&1 &
app=$!
for _ in $(seq 100); do
    grep -q "^worker-ready" "$stage/said" && break
    sleep 0.1
done
kill "$app" 2>/dev/null || true
wait "$app" 2>/dev/null || true
grep -q "^worker-ready" "$stage/said" ||
    { echo "the installed program found no worker:" >&2; cat "$stage/said" >&2; exit 1; }
printf '{\\rtf1 Installed.\\par}' >"$stage/note.rtf"
[ "$(usr/libexec/parlivo/parlivo-extract rtf "$stage/note.rtf")" = "Installed." ]
