#!/usr/bin/env bash
# Runs the threaded test programs of a build whose block locks are annotated for DRD
# (VRN3_ANNOTATE_LOCKS=drd: the drd-64 or the drd preset) under valgrind's DRD, with sizes that
# finish within minutes; fails on any error and ends with one line of totals.
#   scripts/drd.sh [--check-launch] [build-dir]       (default build/drd-64)
# Without the annotations DRD cannot see the futex lock and reports its every use. An i386 build
# runs only where the kernel runs i386 programs (valgrind cannot run under qemu-user), through the
# launch line of scripts/valgrind-launch.sh, as scripts/memcheck.sh does. --check-launch, where
# valgrind cannot run them too, has valgrind read the suppressions and starts every program
# through that launch line. Suppressions: scripts/drd.supp, each one explained there. Each error
# in a log is followed by its stack as a suppression would name it, so that a log of any machine
# can be kept in tests/scripts/reports/ and the suppressions matched against it anywhere
# (scripts/valgrind-supp-check.sh). Logs go to <build-dir>/drd/.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
check_launch=0
[ "${1:-}" != --check-launch ] || { check_launch=1; shift; }
BUILD="$(cd "${1:-$ROOT/build/drd-64}" && pwd)"
SUPPRESSIONS="$ROOT/scripts/drd.supp"

grep -q '^VRN3_ANNOTATE_LOCKS:STRING=drd' "$BUILD/CMakeCache.txt" 2>/dev/null ||
    { echo "drd: $BUILD is not built with VRN3_ANNOTATE_LOCKS=drd" >&2; exit 2; }
. "$ROOT/scripts/valgrind-launch.sh"
valgrind_launch "$BUILD"
if [ "$check_launch" = 0 ] && [ -n "$emulator" ]; then
    echo "drd: $BUILD runs its i386 programs under an emulator, where valgrind cannot run them" >&2
    exit 2
fi

# The programs that start threads, and sizes DRD gets through in about a minute each: the stress
# test with 2 bricks of 20 rounds and 2 sharers, the handle test with 4 threads of 500 operations,
# the threaded pipeline's test with 4 producers of 500 blocks.
PROGRAMS=(host/host_test property/stress_test blocks/blocks_cMemBlock_test blocks/blocks_CCriticalSection_test)
export VRN3_STRESS_BRICKS=2 VRN3_STRESS_ROUNDS=20 VRN3_STRESS_SHARERS=2 VRN3_STRESS_THREADS=4 VRN3_STRESS_OPS=500

if [ "$check_launch" = 1 ]; then
    # valgrind reads the suppressions before it starts any program, and refuses a malformed one.
    valgrind --tool=drd --suppressions="$SUPPRESSIONS" -q true
    valgrind_check_launch drd "${PROGRAMS[@]/#/$BUILD/tests/}"
    exit
fi

LOGS="$BUILD/drd"
mkdir -p "$LOGS"
failed=0 errors=0 count=0
for rel in "${PROGRAMS[@]}"; do
    program="$BUILD/tests/$rel"
    name="$(basename "$program")"
    log="$LOGS/$name.log"
    start=$SECONDS
    if (cd "$(dirname "$program")" &&
        LD_LIBRARY_PATH="$libdirs" valgrind --tool=drd --suppressions="$SUPPRESSIONS" --gen-suppressions=all \
            --error-exitcode=99 --log-file="$log" \
            "${launch[@]}" "$program" > "$log.out" 2>&1); then
        status=0
    else
        status=$?
    fi
    found="$(sed -nE 's/.*ERROR SUMMARY: ([0-9,]+) errors from ([0-9,]+) contexts.*/\1 errors from \2 contexts/p' "$log" | tail -n 1)"
    echo "drd: $name: ${found:-no summary}, $((SECONDS - start)) s"
    n="${found%% *}"
    errors=$((errors + ${n//,/} + 0))
    count=$((count + 1))
    if [ "$status" -ne 0 ]; then
        echo "drd: $name failed (status $status); see $log and $log.out" >&2
        failed=1
    fi
done
echo "drd: $(basename "$BUILD"): $count programs, $errors errors"
exit "$failed"
