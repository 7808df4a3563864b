#!/usr/bin/env bash
# Runs every fuzz target for a fixed time on its seed corpus; fails on the first finding.
#   fuzz/run.sh [seconds-per-target] [build-dir]      (defaults: 25, build/fuzz)
# New inputs go to a working corpus in the build dir; the committed seeds in fuzz/corpus/<target>
# are only read. A finding is written to <build-dir>/findings/ and the script exits non-zero.
# Extra libFuzzer options may be given in FUZZ_OPTIONS (for instance -runs=10000000).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_PER_TARGET="${1:-25}"
OUT="${2:-$ROOT/build/fuzz}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-malloc_context_size=4}"

# Inputs longer than this add little: a brick program of a few dozen blocks reaches every state.
declare -A MAX_LEN=([fuzz_brick]=192 [fuzz_params]=1024 [fuzz_capture]=8192)

mkdir -p "$OUT/findings"
for target in fuzz_brick fuzz_params fuzz_capture; do
    work="$OUT/corpus/$target"
    mkdir -p "$work"
    echo "fuzz: $target for ${SECONDS_PER_TARGET}s"
    # shellcheck disable=SC2086
    if ! "$OUT/$target" -max_total_time="$SECONDS_PER_TARGET" -max_len="${MAX_LEN[$target]}" -entropic=0 \
            -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$OUT/findings/" ${FUZZ_OPTIONS:-} \
            "$work" "$ROOT/fuzz/corpus/$target" > "$OUT/$target.log" 2>&1; then
        tail -n 60 "$OUT/$target.log"
        echo "fuzz: $target found a fault; the input is in $OUT/findings/" >&2
        exit 1
    fi
    grep -E '^#[0-9]+ +DONE|stat::number_of_executed_units|stat::average_exec_per_sec' "$OUT/$target.log" || true
done
echo "fuzz: no finding"
