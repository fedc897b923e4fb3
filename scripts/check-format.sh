#!/usr/bin/env bash
# Fails, listing the places, when a C++ file differs from what clang-format makes of it with the
# project's .clang-format. `scripts/check-format.sh --fix` rewrites the files instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -d '' files < <(find src tests bench fuzz -name '*.cpp' -print0 -o -name '*.h' -print0)
if [ "${1:-}" = --fix ]; then
    clang-format -i "${files[@]}"
else
    clang-format --dry-run --Werror "${files[@]}"
fi
