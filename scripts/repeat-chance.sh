#!/usr/bin/env bash
# Repeats the tests whose outcome may depend on chance (the ctest label "chance": kills at random
# points, threads racing each other) up to N times each, and stops at the first failure:
#   scripts/repeat-chance.sh [BUILD_DIR] [N]        (defaults: build/release, 20)
# The build folder must be built (./test.sh builds it). A failing signal run prints the seed of its
# kill points; VRN3_TEST_SEED=<seed> in the environment repeats the same points.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:-$ROOT/build/release}"
N="${2:-20}"
case "$BUILD" in
    /*) ;;
    *) BUILD="$PWD/$BUILD" ;;
esac
[ -f "$BUILD/CTestTestfile.cmake" ] || { echo "repeat-chance: $BUILD is not a built test folder" >&2; exit 2; }
. "$ROOT/scripts/sanitizer-env.sh" "$BUILD" "$(bash "$ROOT/scripts/i386-emulator.sh" "$BUILD")"

echo "repeat-chance: $(ctest --test-dir "$BUILD" -L '^chance$' -N | tail -n 1 | sed 's/Total Tests: //') tests, up to $N runs each, in $BUILD"
ctest --test-dir "$BUILD" -L '^chance$' --repeat "until-fail:$N" --stop-on-failure --output-on-failure \
    -j "$(nproc 2>/dev/null || echo 2)" --no-tests=error
