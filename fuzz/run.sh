#!/usr/bin/env bash
# Runs every fuzz target for a fixed time on its seed corpus; fails on the first finding.
#   fuzz/run.sh [--amd64] [seconds-per-target] [build-dir]
#                                         (defaults: 25, build/fuzz; build/fuzz-64 for amd64)
# New inputs go to a working corpus in the build dir; the committed seeds in fuzz/corpus/<target>
# are only read, and are named one by one (an i386 program under the emulator cannot list a
# folder of a 64-bit file system: its entries' offsets do not fit). A finding is written to <build-dir>/findings/ and the script exits non-zero.
# Extra libFuzzer options may be given in FUZZ_OPTIONS (for instance -runs=10000000).
# Where i386 programs run under qemu-user (scripts/i386-emulator.sh), the targets run there too,
# without LeakSanitizer (it hangs at exit under the emulator). The sanitizer's allocator can then
# trip over the emulator's address space ("CHECK failed" in the sanitizer's own code) or hang
# instead of exiting: such a stop is the emulator's, not a finding, and is said so; each run is
# bounded in time either way.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
AMD64=0
[ "${1:-}" != --amd64 ] || { AMD64=1; shift; }
SECONDS_PER_TARGET="${1:-25}"
if [ "$AMD64" = 1 ]; then
    OUT="${2:-$ROOT/build/fuzz-64}"
    EMULATOR="" # amd64 targets run natively, LeakSanitizer included
else
    OUT="${2:-$ROOT/build/fuzz}"
    EMULATOR="$(bash "$ROOT/scripts/i386-emulator.sh")"
fi
# Under the emulator: no LeakSanitizer, and a smaller quarantine, whose default size soon trips the
# sanitizer allocator over the emulator's address space.
SANITIZER_EXTRA=""
[ -z "$EMULATOR" ] || SANITIZER_EXTRA=":detect_leaks=0:quarantine_size_mb=16"
export ASAN_OPTIONS="${ASAN_OPTIONS:-malloc_context_size=4$SANITIZER_EXTRA}"
# Wall time a target may take beyond its fuzzing time (start-up, the seed corpus, the final stats).
GRACE=120

# Inputs longer than this add little: a brick program of a few dozen blocks reaches every state.
declare -A MAX_LEN=([fuzz_brick]=192 [fuzz_params]=1024 [fuzz_capture]=8192)

# An emulated run that stopped in the sanitizer runtime's own checks or overran its time.
emulator_artefact() {
    local rc=$1 log=$2
    [ -n "$EMULATOR" ] || return 1
    [ "$rc" = 124 ] || [ "$rc" = 137 ] || grep -qE 'CHECK failed: (sanitizer|asan)_[a-z_]+\.cpp' "$log"
}

mkdir -p "$OUT/findings"
for target in fuzz_brick fuzz_params fuzz_capture; do
    work="$OUT/corpus/$target"
    mkdir -p "$work"
    echo "fuzz: $target for ${SECONDS_PER_TARGET}s${EMULATOR:+ under $EMULATOR}"
    rc=0
    # shellcheck disable=SC2086
    timeout -k 10 $((SECONDS_PER_TARGET + GRACE)) ${EMULATOR:+"$EMULATOR"} "$OUT/$target" \
        -max_total_time="$SECONDS_PER_TARGET" -max_len="${MAX_LEN[$target]}" -entropic=0 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$OUT/findings/" ${FUZZ_OPTIONS:-} \
        -seed_inputs="$(find "$ROOT/fuzz/corpus/$target" -type f | paste -sd, -)" \
        "$work" > "$OUT/$target.log" 2>&1 || rc=$?
    if [ "$rc" != 0 ]; then
        if emulator_artefact "$rc" "$OUT/$target.log"; then
            echo "fuzz: $target stopped in the emulator (exit $rc) after" \
                "$(grep -oE '^#[0-9]+' "$OUT/$target.log" | tail -n 1 | tr -d '#' || echo 0) inputs;" \
                "not a finding: $(grep -m1 -oE 'CHECK failed: [^ ]+' "$OUT/$target.log" || echo 'no exit in time')"
            continue
        fi
        tail -n 60 "$OUT/$target.log"
        echo "fuzz: $target found a fault; the input is in $OUT/findings/" >&2
        exit 1
    fi
    grep -E '^#[0-9]+ +DONE|stat::number_of_executed_units|stat::average_exec_per_sec' "$OUT/$target.log" || true
done
echo "fuzz: no finding"
