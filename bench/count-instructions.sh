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
# Valgrind runs a program natively only. An i386 build on a kernel that runs i386 programs only
# under an emulator (qemu-user, scripts/i386-emulator.sh) is counted by that emulator instead: it
# runs the program one instruction at a time and logs each instruction it executes, and the log's
# addresses are sorted into the benchmark's own functions (left out, as above; the program says
# where its image lies) and everything else. The count of our code is the same as natively; the C
# library picks its copying routines by the processor the emulator presents, so a copy may take a
# few instructions more or less than on an i386 processor. Such lines say "(emulated)".
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
EMULATOR=""
# The ELF class byte: 1 for a 32-bit program.
if [ "$(od -An -tu1 -j4 -N1 "$BENCH" | tr -d ' ')" = 1 ]; then
    EMULATOR="$(bash "$(dirname "$0")/../scripts/i386-emulator.sh" "$BUILD" 2> /dev/null)" ||
        { echo "count-instructions: this machine cannot run $BENCH" >&2; exit 1; }
fi
if [ -z "$EMULATOR" ]; then
    command -v valgrind > /dev/null || { echo "count-instructions: valgrind is not installed" >&2; exit 1; }
fi

# Records of the two runs: multiples of 30 (one chunk) and of 2 (the two-thread scenario). An
# emulator stepping one instruction at a time is slow: it runs fewer (the difference is exact
# for any two counts once the chain's pools are filled).
SHORT=1500
LONG=7500
SUFFIX=""
if [ -n "$EMULATOR" ]; then
    SHORT=300
    LONG=1500
    SUFFIX=" (emulated)"
fi
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

# A hexadecimal number's value, in awk (mawk has no strtonum): exact up to 2^53.
HEX='function hex(text,    i, n) { n = 0; text = tolower(text); for (i = 1; i <= length(text); ++i) n = n * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1; return n }'

# The benchmark's own functions as address ranges of its image, for the emulated count: one line
# a function symbol, "<start> <harness: 1 or 0>", sorted by address.
harness_ranges() {
    nm -C --defined-only -n "$BENCH" | awk "$HEX"' $2 ~ /^[tTwWi]$/ {
        name = $0
        sub(/^[^ ]+ [^ ]+ /, "", name)
        print hex($1), (name ~ /^(cStructBlock<|cMemBlock::|cCommandBlock)/) ? 0 : 1
    }'
}

# The chain's instructions of one emulated run: each logged instruction is counted by address,
# then the addresses inside the program's image are sorted into its functions.
emulated_cost() { # name records
    local fifo="$TMP/trace"
    rm -f "$fifo"
    mkfifo "$fifo"
    awk '{ split($4, f, "/"); n[f[2]]++ } END { for (a in n) print a, n[a] }' "$fifo" > "$TMP/pcs" &
    local reader=$!
    "$EMULATOR" -singlestep -d nochain,exec -D "$fifo" "$BENCH" --instructions "$2" --only "$1" \
        > /dev/null 2> "$TMP/emulator.log" || { cat "$TMP/emulator.log" >&2; exit 1; }
    wait "$reader"
    local image
    image="$(sed -n 's/^vrn3-bench: image at 0x//p' "$TMP/emulator.log")"
    [ -n "$image" ] || { echo "count-instructions: $BENCH did not say where its image is" >&2; exit 1; }
    awk -v image="$((16#$image))" "$HEX"'
        FNR == NR { start[NR] = $1; harness[NR] = $2; symbols = NR; next }
        {
            pc = hex($1) - image
            total += $2
            if (pc < 0 || pc >= start[symbols] + 65536)
                next
            lo = 1; hi = symbols # the last symbol at or below pc
            while (lo < hi) { mid = int((lo + hi + 1) / 2); if (start[mid] <= pc) lo = mid; else hi = mid - 1 }
            if (start[lo] <= pc && harness[lo])
                left += $2
        }
        END { printf "%.0f\n", total - left }
    ' <(harness_ranges) "$TMP/pcs"
}

count() { # name records -> chain instructions
    if [ -n "$EMULATOR" ]; then
        emulated_cost "$1" "$2"
        return
    fi
    local out="$TMP/run.$2"
    valgrind --tool=callgrind --callgrind-out-file="$out" --dump-instr=no --dump-line=no \
        "$BENCH" --instructions "$2" --only "$1" > /dev/null 2> "$TMP/valgrind.log" ||
        { cat "$TMP/valgrind.log" >&2; exit 1; }
    chain_cost "$out"
}

names="$(${EMULATOR:+"$EMULATOR"} "$BENCH" --list)"
[ -n "$ONLY" ] && names="$(printf '%s\n' "$names" | awk -v p="$ONLY" 'index($0, p) == 1')"
[ -n "$names" ] || { echo "count-instructions: no scenario named '$ONLY'" >&2; exit 1; }
while IFS= read -r name; do
    short="$(count "$name" "$SHORT")"
    long="$(count "$name" "$LONG")"
    echo "$name: $(( (long - short + (LONG - SHORT) / 2) / (LONG - SHORT) )) instructions a record$SUFFIX"
done <<< "$names"
