#!/usr/bin/env bash
# Instructions a record of each benchmark scenario's chain alone, counted by callgrind.
#   bench/count-instructions.sh BUILD_DIR [--only SCENARIO]
# Prints one line a scenario: "<scenario name>: <N> instructions a record".
#
# The benchmark's chain-only mode (vrn3-bench --instructions RECORDS) feeds a scenario's records
# through its chain once, with no hashing, timing or floors. It runs twice under callgrind, with
# two record counts; the difference of the two counts takes out everything a run does once
# (loading, the chain's set-up, filling the pools), and the benchmark's own functions are taken
# out of both: the loop that feeds the chain, the sink's handler and the lock-counting wrappers
# around the host's Lock and Unlock. What stays is the plug-in, the host library, the block
# framework (the input blocks' node code too, wherever it was compiled) and the C library they
# call. Callgrind counts instructions, not time, so the figure is the same on every run.
#
# Valgrind runs a program natively only: an i386 build on a kernel that runs i386 programs only
# under an emulator is refused.
set -euo pipefail

usage() { echo "usage: $0 BUILD_DIR [--only SCENARIO]" >&2; exit 2; }
[ $# -ge 1 ] || usage
BUILD="$1"
shift
ONLY=""
while [ $# -gt 0 ]; do
    case "$1" in
        --only) [ $# -ge 2 ] || usage; ONLY="$2"; shift 2 ;;
        *) usage ;;
    esac
done

BENCH="$BUILD/bench/vrn3-bench"
[ -x "$BENCH" ] || { echo "count-instructions: no $BENCH (build the vrn3-bench target)" >&2; exit 1; }
command -v valgrind > /dev/null || { echo "count-instructions: valgrind is not installed" >&2; exit 1; }
# The ELF class byte: 1 for a 32-bit program.
if [ "$(od -An -tu1 -j4 -N1 "$BENCH" | tr -d ' ')" = 1 ] && ! /lib/ld-linux.so.2 --version > /dev/null 2>&1; then
    echo "count-instructions: $BENCH is an i386 program and this kernel runs i386 programs only" \
         "under an emulator, where valgrind cannot run; count the amd64 build instead" >&2
    exit 1
fi

# Records of the two runs: multiples of 30 (one chunk) and of 2 (the two-thread scenario).
SHORT=1500
LONG=7500
TMP="$(mktemp -d)"
trap 'rm -rf "$TMP"' EXIT

# The chain's instructions in one callgrind output: all self costs, less those of the
# benchmark executable's own functions (the block framework's node code excepted).
chain_cost() {
    awk -v exe="$(readlink -f "$BENCH")" '
        # A name is given in full at its first use, "(id) name", and as "(id)" after that.
        function named(text, table,    id) {
            if (!match(text, /^\([0-9]+\)/))
                return text
            id = substr(text, 1, RLENGTH)
            text = substr(text, RLENGTH + 1)
            sub(/^ /, "", text)
            if (text != "")
                table[id] = text
            return table[id]
        }
        /^ob=/ { ob = named(substr($0, 4), objects); next }
        /^cob=/ { named(substr($0, 5), objects); next }
        /^fn=/ { fn = named(substr($0, 4), functions); next }
        /^cfn=/ { named(substr($0, 5), functions); next }
        /^calls=/ { call = 1; next }
        /^[0-9+*-]/ {
            if (call) { call = 0; next } # the inclusive cost of a call, counted in the callee
            total += $NF
            if (ob == exe && fn !~ /^(cStructBlock<|cMemBlock::|cCommandBlock)/)
                harness += $NF
        }
        END { printf "%.0f\n", total - harness }
    ' "$1"
}

count() { # name records -> chain instructions
    local out="$TMP/run.$2"
    valgrind --tool=callgrind --callgrind-out-file="$out" --dump-instr=no --dump-line=no \
        "$BENCH" --instructions "$2" --only "$1" > /dev/null 2> "$TMP/valgrind.log" ||
        { cat "$TMP/valgrind.log" >&2; exit 1; }
    chain_cost "$out"
}

names="$("$BENCH" --list)"
[ -n "$ONLY" ] && names="$(printf '%s\n' "$names" | awk -v p="$ONLY" 'index($0, p) == 1')"
[ -n "$names" ] || { echo "count-instructions: no scenario named '$ONLY'" >&2; exit 1; }
while IFS= read -r name; do
    short="$(count "$name" "$SHORT")"
    long="$(count "$name" "$LONG")"
    echo "$name: $(( (long - short + (LONG - SHORT) / 2) / (LONG - SHORT) )) instructions a record"
done <<< "$names"
