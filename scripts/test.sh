#!/usr/bin/env bash
# Installs the dependencies, then builds and tests Parlivo four ways, each against a private
# PulseAudio server with a null sink, after checking the layout of the code:
#   format  every C++ file as clang-format lays it out (scripts/check-format.sh --fix mends it)
#   ci    warnings as errors, every test
#   asan  AddressSanitizer + UndefinedBehaviorSanitizer, every test
#   tsan  ThreadSanitizer, the tests with threads of our own (label "tsan")
#   fuzz  every libFuzzer target for PARLIVO_FUZZ_SECONDS (default 60) each
#   package  the Debian package (scripts/package.sh) installed on a clean Debian 12 made by
#         debootstrap, where it must speak, and purged (needs root or sudo, and the network)
# PARLIVO_TEST_STAGES picks stages (default "format ci asan tsan fuzz package"); arguments go to
# the ci ctest.
# Every stage runs even if an earlier one failed, so one run shows everything that is wrong.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

stages=${PARLIVO_TEST_STAGES:-format ci asan tsan fuzz package}
failed=()

run_stage() {
    local stage=$1
    shift
    echo "=== $stage: $(date +%T)"
    if "$@"; then
        echo "=== $stage passed: $(date +%T)"
    else
        echo "=== $stage FAILED: $(date +%T)"
        failed+=("$stage")
    fi
}

# build_and_test PRESET BUILD-TARGET [ctest arguments...]
build_and_test() {
    local preset=$1 target=$2
    shift 2
    cmake --preset "$preset" >/dev/null &&
        cmake --build --preset "$preset" -j2 --target "$target" &&
        QT_QPA_PLATFORM=offscreen scripts/with-sound-server.sh ctest --preset "$preset" "$@"
}

package_test() {
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo --preserve-env"
    scripts/package.sh &&
        $sudo scripts/with-sound-server.sh tests/package/test-package.sh build/package/parlivo_*.deb
}

for stage in $stages; do
    case $stage in
    format) run_stage format scripts/check-format.sh ;;
    ci) run_stage ci build_and_test ci all "$@" ;;
    asan) run_stage asan build_and_test asan all ;;
    tsan) run_stage tsan build_and_test tsan parlivo_tsan_tests ;;
    fuzz) run_stage fuzz fuzz/run ;;
    package) run_stage package package_test ;;
    *)
        echo "unknown stage: $stage" >&2
        exit 2
        ;;
    esac
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "Failed: ${failed[*]}"
    exit 1
fi
echo "All stages passed: $stages"
