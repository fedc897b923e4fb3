#!/usr/bin/env bash
# Installs the dependencies, builds Parlivo and starts it. Needs a desktop session with sound.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
exec build/default/bin/parlivo
