#!/usr/bin/env bash
# Runs every test program of a build dir under valgrind memcheck; fails on any error and on any
# byte definitely or indirectly lost, and ends with one line of totals (programs, errors, bytes
# lost).
#   scripts/memcheck.sh [--check-launch] [build-dir]   (default build/release; not a sanitizer build)
# An amd64 build (build/release-64) runs natively on every machine of ours, its programs started
# as they are; an i386 one through the loader of build/deps/valgrind-root (scripts/valgrind-launch.sh
# says how), only where the kernel runs i386 programs. --check-launch only starts every program
# through that launch line, where valgrind itself cannot run them too (under the emulator). Logs
# go to <build-dir>/memcheck/.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
check_launch=0
[ "${1:-}" != --check-launch ] || { check_launch=1; shift; }
BUILD="$(cd "${1:-$ROOT/build/release}" && pwd)"

. "$ROOT/scripts/valgrind-launch.sh"
valgrind_launch "$BUILD"
if grep -qE '^VRN3_(SANITIZE|TSAN):BOOL=ON' "$BUILD/CMakeCache.txt" 2>/dev/null; then
    echo "memcheck: $BUILD is a sanitizer build; use a plain one" >&2
    exit 2
fi
if [ "$check_launch" = 0 ] && [ -n "$emulator" ]; then
    echo "memcheck: $BUILD runs its i386 programs under an emulator, where valgrind cannot run them" >&2
    exit 2
fi

LOGS="$BUILD/memcheck"
mkdir -p "$LOGS"
# Test programs: the executables ctest knows, found as ELF files next to a *_include.cmake list.
mapfile -t programs < <(find "$BUILD" -name '*\[1\]_include.cmake' -printf '%h/%f\n' |
    sed -E 's/\[1\]_include\.cmake$//' | while read -r p; do [ -x "$p" ] && echo "$p"; done | sort)
[ "${#programs[@]}" -gt 0 ] || { echo "memcheck: no test programs in $BUILD" >&2; exit 2; }

if [ "$check_launch" = 1 ]; then
    valgrind_check_launch memcheck "${programs[@]}"
    exit
fi

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
