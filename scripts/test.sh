#!/usr/bin/env bash
# Builds everything and runs the test suite with ctest, in one of the configurations of
# CMakePresets.json (build folder build/<preset>):
#   scripts/test.sh [release]   i386, Release, -O2 -g, on Qt 5
#   scripts/test.sh asan        i386, RelWithDebInfo with ASan+UBSan, on Qt 5
#   scripts/test.sh drd         i386, Release with the block locks annotated for DRD
#   scripts/test.sh release-qt4 / asan-qt4
#                               the same on Qt 4 Core, from $VRN3_QT4_DIR when set, else from
#                               ../shared/qt4-i386 beside the source tree
#   scripts/test.sh release-64 / asan-64 / tsan-64 / drd-64
#                               amd64, native on every machine: Release; ASan+UBSan with
#                               LeakSanitizer; ThreadSanitizer; Release with the block locks
#                               annotated for valgrind's DRD (scripts/drd.sh runs it under DRD)
# Runs scripts/setup.sh first (packages, sysroot; a no-op once done). Where the kernel cannot run
# i386 programs, every test program runs under qemu-user (scripts/i386-emulator.sh tells which
# path and why); LeakSanitizer cannot run there, and the tests' own counts of live nodes and pool
# entries stand in for it.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
MODE="${1:-release}"

ARGS=()
case "$MODE" in
    release|asan|drd|release-64|asan-64|tsan-64|drd-64) ;;
    release-qt4|asan-qt4)
        if [ -n "${VRN3_QT4_DIR:-}" ]; then ARGS+=("-DVRN3_QT4_DIR=$VRN3_QT4_DIR"); fi ;;
    *) echo "usage: $0 [release|asan|drd|release-qt4|asan-qt4|release-64|asan-64|tsan-64|drd-64]" >&2; exit 2 ;;
esac
bash "$ROOT/scripts/setup.sh"

BUILD="$ROOT/build/$MODE"
EMULATOR=""
case "$MODE" in
    *-64) ;; # amd64 programs run natively
    *) EMULATOR="$(bash "$ROOT/scripts/i386-emulator.sh" "$BUILD")" ;;
esac
JOBS="$(nproc 2>/dev/null || echo 2)"
echo "test: configuring build/$MODE"
cd "$ROOT"
cmake --preset "$MODE" "${ARGS[@]}"
. "$ROOT/scripts/sanitizer-env.sh" "$BUILD" "$EMULATOR"
echo "test: building with -j$JOBS"
cmake --build "$BUILD" -j "$JOBS"
echo "test: running ctest ($MODE)"
cd "$BUILD"
ctest --output-on-failure --no-tests=error -j "$JOBS"
# The allocation-failure sweep's one-line result, for the log (ctest hides a passing test's output).
ctest -R '^allocation_failure_sweep$' --verbose | grep -F 'allocation-failure sweep:'
