#!/usr/bin/env bash
# Builds everything for i386 and runs the test suite with ctest.
#   scripts/test.sh [release]  Release, -O2 -g, in build/release
#   scripts/test.sh asan       RelWithDebInfo with ASan+UBSan, in build/asan
# Runs scripts/setup.sh first (packages, sysroot; a no-op once done).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
MODE="${1:-release}"

case "$MODE" in
    release) ARGS=(-DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -g -DNDEBUG"
                   "-DCMAKE_C_FLAGS_RELEASE=-O2 -g -DNDEBUG" -DVRN3_SANITIZE=OFF) ;;
    asan)    ARGS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRN3_SANITIZE=ON)
             export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
             export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ;;
    *) echo "usage: $0 [release|asan]" >&2; exit 2 ;;
esac

bash "$ROOT/scripts/setup.sh"

BUILD="$ROOT/build/$MODE"
JOBS="$(nproc 2>/dev/null || echo 2)"
echo "test: configuring build/$MODE"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/i386-toolchain.cmake" "${ARGS[@]}"
echo "test: building with -j$JOBS"
cmake --build "$BUILD" -j "$JOBS"
echo "test: running ctest ($MODE)"
cd "$BUILD"
ctest --output-on-failure --no-tests=error
