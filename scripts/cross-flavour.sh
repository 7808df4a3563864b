#!/usr/bin/env bash
# Shows by bytes that the i386 and the amd64 flavour behave the same:
#  1. every golden digest file (tests/capture/golden) in every way vrn3-play plays it: both
#     flavours' digests of the blocks sent downstream equal the golden file, byte for byte;
#  2. every benchmark scenario: both flavours' digests of the blocks sent downstream are equal
#     (vrn3-bench --quick --json, the same scale in both);
#  3. captures are independent of the flavour: one made by each flavour's vrn3-play replays
#     "identical" in the other flavour's vrn3-replay against that flavour's plug-in.
# Records that hold pointers are compared as captures flatten them (capture/FlatLayout.h).
#   scripts/cross-flavour.sh [i386-build] [amd64-build]     (defaults build/release, build/release-64)
# i386 programs start through the i386 build's emulator where it has one. Exits non-zero on any
# difference; prints one line per comparison and a closing "N passed, N failed" line.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
B32="$(cd "${1:-$ROOT/build/release}" && pwd)"
B64="$(cd "${2:-$ROOT/build/release-64}" && pwd)"
EMULATOR="$(bash "$ROOT/scripts/i386-emulator.sh" "$B32" 2>/dev/null)"
SAMPLE="$ROOT/samples/sample.wav"
GOLDEN="$ROOT/tests/capture/golden"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# run <flavour> <program> <args...>: a program of that flavour's build.
run() {
    local flavour="$1" program="$2"; shift 2
    if [ "$flavour" = i386 ]; then ${EMULATOR:+"$EMULATOR"} "$B32/$program" "$@"; else "$B64/$program" "$@"; fi
}
plugin() { if [ "$1" = i386 ]; then echo "$B32/sound/libVRN3SoundStream.so.1"; else echo "$B64/sound/libVRN3SoundStream.so.1"; fi; }

passed=0 failed=0
verdict() { # verdict <what> <true|false>
    if "$2"; then echo "same: $1"; passed=$((passed + 1)); else echo "DIFFERENT: $1"; failed=$((failed + 1)); fi
}

# 1. Golden digest files: forward in whole records, in fragments and threaded; backward.
declare -A golden_of=(["forward"]=sample-forward ["--fragment 37"]=sample-forward ["--threaded"]=sample-forward
                      ["--reverse"]=sample-backward)
for mode in forward "--fragment 37" "--threaded" "--reverse"; do
    args=(); [ "$mode" = forward ] || read -r -a args <<<"$mode"
    expected="$GOLDEN/${golden_of[$mode]}.framemd5"
    for flavour in i386 amd64; do
        run "$flavour" tools/vrn3-play/vrn3-play -q "${args[@]}" --digests "$tmp/$flavour.d" -o "$tmp/out.wav" "$SAMPLE"
    done
    verdict "$(basename "$expected"), vrn3-play $mode: i386 = amd64 = golden" \
        "$(cmp -s "$tmp/i386.d" "$tmp/amd64.d" && cmp -s "$tmp/amd64.d" "$expected" && echo true || echo false)"
done

# 2. Benchmark scenarios: name and digest of each, in order.
for flavour in i386 amd64; do
    run "$flavour" bench/vrn3-bench --quick --json |
        sed -nE 's/.*"name": ("[^"]*"),.*"digest": "([0-9a-f]+)".*/\1 \2/p' > "$tmp/$flavour.bench"
done
[ -s "$tmp/amd64.bench" ] || { echo "cross-flavour: the benchmark listed no scenario" >&2; exit 1; }
while read -r line; do
    name="${line% *}"
    verdict "benchmark scenario $name: digest ${line##* }" "$(grep -qxF "$line" "$tmp/i386.bench" && echo true || echo false)"
done < "$tmp/amd64.bench"
[ "$(wc -l < "$tmp/i386.bench")" = "$(wc -l < "$tmp/amd64.bench")" ] || verdict "as many benchmark scenarios" false

# 3. Captures replayed across: made by one flavour's vrn3-play, replayed by the other's vrn3-replay.
for pair in "amd64 i386" "i386 amd64"; do
    read -r maker replayer <<<"$pair"
    for mode in "" --reverse --threaded; do
        run "$maker" tools/vrn3-play/vrn3-play -q $mode --capture "$tmp/c.pcapng" -o "$tmp/out.wav" "$SAMPLE"
        out="$(run "$replayer" tools/vrn3-replay/vrn3-replay --plugin "$(plugin "$replayer")" "$tmp/c.pcapng" 2>&1)" || true
        echo "  $out"
        verdict "capture by the $maker vrn3-play${mode:+ $mode}, replayed by the $replayer vrn3-replay" \
            "$([[ "$out" == *": identical: "* ]] && echo true || echo false)"
    done
done

echo "cross-flavour: $passed passed, $failed failed"
[ "$failed" = 0 ]
