#!/usr/bin/env bash
# Runs every test program of a build dir under valgrind memcheck; fails on any error and on any
# byte definitely or indirectly lost, and ends with one line of totals (programs, errors, bytes
# lost).
#   scripts/memcheck.sh [build-dir]        (default build/release; sanitizer builds cannot run here)
# An amd64 build (build/release-64) runs natively on every machine of ours, its programs started
# as they are. i386 memcheck needs a loader whose symbols it can read: the programs start through
# the one in build/deps/valgrind-root (made by scripts/setup.sh), with the sysroot's and the
# build's library folders on its --library-path. Logs go to <build-dir>/memcheck/.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build/release}" && pwd)"
VG_ROOT="$ROOT/build/deps/valgrind-root"
SYSROOT="$ROOT/build/deps/sysroot"
LOADER="$VG_ROOT/lib/i386-linux-gnu/ld-linux.so.2"

amd64=0
grep -q '^CMAKE_TOOLCHAIN_FILE:.*amd64-toolchain' "$BUILD/CMakeCache.txt" 2>/dev/null && amd64=1
if [ "$amd64" = 0 ]; then
    [ -x "$LOADER" ] || bash "$ROOT/scripts/setup.sh"
fi
if [ "$amd64" = 0 ] && [ -n "$(bash "$ROOT/scripts/i386-emulator.sh" "$BUILD" 2>/dev/null)" ]; then
    echo "memcheck: $BUILD runs its i386 programs under an emulator, where valgrind cannot run them" >&2
    exit 2
fi
if grep -qE '^VRN3_(SANITIZE|TSAN):BOOL=ON' "$BUILD/CMakeCache.txt" 2>/dev/null; then
    echo "memcheck: $BUILD is a sanitizer build; use a plain one" >&2
    exit 2
fi

# Library folders: the valgrind root's libc first, then the system's 32-bit runtime, the sysroot,
# and every folder of the build that holds a shared library of ours.
libdirs="$VG_ROOT/lib/i386-linux-gnu:/usr/lib32:$SYSROOT/usr/lib/i386-linux-gnu:$SYSROOT/lib/i386-linux-gnu"
[ "$amd64" = 0 ] || libdirs=""
while IFS= read -r dir; do
    libdirs="${libdirs:+$libdirs:}$dir"
done < <(find "$BUILD" -name '*.so*' -type f -printf '%h\n' | sort -u)

LOGS="$BUILD/memcheck"
mkdir -p "$LOGS"
# Test programs: the executables ctest knows, found as ELF files next to a *_include.cmake list.
mapfile -t programs < <(find "$BUILD" -name '*\[1\]_include.cmake' -printf '%h/%f\n' |
    sed -E 's/\[1\]_include\.cmake$//' | while read -r p; do [ -x "$p" ] && echo "$p"; done | sort)
[ "${#programs[@]}" -gt 0 ] || { echo "memcheck: no test programs in $BUILD" >&2; exit 2; }

# How a program starts: amd64 as it is, i386 through the valgrind root's loader.
launch=()
[ "$amd64" = 1 ] || launch=("$LOADER" --library-path "$libdirs")

failed=0 errors=0 lost_bytes=0
for program in "${programs[@]}"; do
    name="$(basename "$program")"
    log="$LOGS/$name.log"
    # Each program runs from its own folder, as ctest runs it; the stress test is kept short.
    if (cd "$(dirname "$program")" &&
        VRN3_STRESS_ROUNDS=40 VRN3_PROPERTY_SCENARIOS=150 LD_LIBRARY_PATH="$libdirs" \
        valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect \
            --errors-for-leak-kinds=definite,indirect --error-exitcode=99 --log-file="$log" \
            "${launch[@]}" "$program" > "$log.out" 2>&1); then
        status=0
    else
        status=$?
    fi
    summary="$(grep -E 'ERROR SUMMARY' "$log" | tail -n 1 | sed -E 's/^==[0-9]+== //' || true)"
    lost="$(grep -E '(definitely|indirectly) lost:|no leaks are possible' "$log" | sed -E 's/^==[0-9]+== +//' | tr '\n' ' ' || true)"
    echo "memcheck: $name: ${summary:-no summary} ${lost:-no leaks}"
    count="$(sed -nE 's/.*ERROR SUMMARY: ([0-9,]+) errors.*/\1/p' "$log" | tail -n 1 | tr -d ,)"
    errors=$((errors + ${count:-0}))
    count="$(sed -nE 's/.*(definitely|indirectly) lost: ([0-9,]+) bytes.*/\2/p' "$log" | tr -d , | awk '{ s += $1 } END { print s + 0 }')"
    lost_bytes=$((lost_bytes + count))
    if [ "$status" -ne 0 ]; then
        echo "memcheck: $name failed (status $status); see $log and $log.out" >&2
        failed=1
    fi
done
echo "memcheck: $(basename "$BUILD"): ${#programs[@]} programs, $errors errors, $lost_bytes bytes lost"
exit "$failed"
