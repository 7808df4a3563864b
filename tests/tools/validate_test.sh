#!/usr/bin/env bash
# vrn3-replay --validate: each faulty brick (FaultyBrickPlugin.cpp, one broken rule each) is
# caught by exactly its rule's monitor, at the block that broke it, with exit 10; our brick breaks
# no rule over the golden captures and over fresh captures of every way of playing, one with a
# reset in it included; and with each of its allocations failing in turn (--fail-alloc).
#   validate_test.sh CASE VRN3_PLAY VRN3_REPLAY PLUGIN FAULTY_DIR SAMPLE GOLDEN_DIR
# i386 programs start through $VRN3_I386_EMULATOR when it is set.
set -euo pipefail
case="$1" play="$2" replay="$3" plugin="$4" faulty="$5" sample="$6" golden="$7"
. "$(dirname "${BASH_SOURCE[0]}")/../kit/script.sh"

capture() { run_i386 "$play" -q "${@:2}" --capture "$tmp/$1.pcapng" -o "$tmp/out.wav" "$sample"; }

# A copy of capture $1 in $2 with a reset ("rset", values 7 8 9, flag 1) delivered after packet
# 5 and the brick's answer, "Rdy " echoing them, sent; packets renumbered, the end count raised.
with_reset() {
    python3 - "$1" "$2" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
blocks, at = [], 0
while at < len(data):
    kind, length = struct.unpack_from("<II", data, at)
    blocks.append([kind, bytearray(data[at:at + length])])
    at += length
def packet(direction, record):
    body = struct.pack("<IIIBBBB", 0, 0x7966746E, len(record), 2, direction, 0, 0) + record
    padded = body + b"\0" * (-len(body) % 4)
    block = struct.pack("<IIIIIII", 6, 32 + len(padded), 0, 0, 0, len(body), len(body)) + padded
    return [6, bytearray(block + struct.pack("<I", 32 + len(padded)))]
reset = packet(0, b"rset" + b"\0" * 8 + struct.pack("<IIIB", 7, 8, 9, 1))
ready = packet(1, b"Rdy " + struct.pack("<IIBI", 7, 8, 1, 9))
packets = [i for i, b in enumerate(blocks) if b[0] == 6]
blocks[packets[4] + 1:packets[4] + 1] = [reset, ready]
number = 0
for kind, block in blocks:
    if kind == 6:
        number += 1
        struct.pack_into("<I", block, 28, number)
    if kind == 5:
        struct.pack_into("<Q", block, 24, number)
open(sys.argv[2], "wb").write(b"".join(bytes(b) for _, b in blocks))
PY
}

# $got: the lines of the violations vrn3-replay --validate --json reports, one a line; $code its exit.
validate() {
    code=0
    run_i386 "$replay" --validate --json --plugin "$1" "$2" > "$tmp/json" || code=$?
    got="$(python3 -c 'import json, sys
print("\n".join(v["line"] for v in json.load(sys.stdin)["violations"]))' < "$tmp/json")"
}

# The faulty bricks leak on purpose: in a sanitizer build, LeakSanitizer would end their runs
# before the verdict. Our own brick's runs keep it, but for --fail-alloc: there the dynamic
# loader's own blocks are made through the replay's replaced malloc, where LeakSanitizer no
# longer knows them as the loader's (the sweep counts the brick's blocks itself).
leaky="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

capture c
with_reset "$tmp/c.pcapng" "$tmp/reset.pcapng"
case "$case" in
faulty)
    while IFS='|' read -r fault name expected; do
        ASAN_OPTIONS="$leaky" validate "$faulty/libvrn3-test-faulty-$fault.so" "$tmp/$name.pcapng"
        [ "$code" = 10 ] || fail "$fault: exit $code, not 10: $got"
        [ "$got" = "$expected" ] || fail "$fault: expected '$expected', got '$got'"
    done <<'TABLE'
received-modified|c|received block modified in place: packet 11, snd3, bytes 12-15 changed during onData
sent-modified|c|sent block modified after the send: packet 15, SCDA, byte 0 changed after the send, in the same onData call
block-leaked|c|block not given back by the brick's destruction: packet 8, Tag , 1 block(s) of the type still held after the brick was destroyed
used-after-release|c|handle used after its node was released: packet 11, vid3, the node of packet 10 was released, then its lock taken
handler-refused|c|handler refused a block it must take: packet 8, Tag , onData answered false
handler-threw|c|handler threw an exception other than running out of memory: packet 8, Tag , onData threw: a planted failure
foreign-thread|c|host called from a thread not running the brick's handler: packet 2, ntfy, SendData from another thread while onData runs
reentered|c|handler of the brick re-entered: packet 8, Tag , onData began while onData runs
visited-list|c|command's visited list broken: packet 6, Chun, a brick listed twice during onCtrl
passed-twice|c|command block passed on twice: packet 4, ntfy, passed on again
node-lock-order|c|node lock taken after another lock: packet 8, Tag , its lock taken while the thread holds lock 1 (a node's lock comes before its pool's)
lock-inversion|c|locks taken in both orders: packet 346, Tag , lock 2 taken while holding lock 1, which was taken before while holding it
reset-answer|reset|reset not answered as a stream brick must: packet 6, ntfy, answered by 0 ready notifications, not 1
received-modified-later|c|received block modified in place: packet 8, Tag , byte 8 changed while the brick held it
sent-modified-later|c|sent block modified after the send: packet 8, Tag , byte 8 changed after the send
handler-threw-other|c|handler threw an exception other than running out of memory: packet 8, Tag , onData threw a non-standard exception
sent-outside|c|host called from a thread not running the brick's handler: packet 696, SendData outside any handler call
reset-passed|reset|reset not answered as a stream brick must: packet 6, ntfy, the reset was passed on
reset-not-echoed|reset|reset not answered as a stream brick must: packet 6, ntfy, the ready notification does not echo the reset's values
received-resized|c|received block modified in place: packet 11, snd3, size 104 became 103 during onData
reset-answered-twice|reset|reset not answered as a stream brick must: packet 6, ntfy, answered by 2 ready notifications, not 1
TABLE
    # The text verdict: each violation a line before the comparison's.
    code=0
    out="$(ASAN_OPTIONS="$leaky" run_i386 "$replay" --validate --plugin "$faulty/libvrn3-test-faulty-received-modified.so" "$tmp/c.pcapng")" ||
        code=$?
    [ "$code" = 10 ] && [ "$(head -1 <<< "$out")" = "vrn3-replay: $tmp/c.pcapng: received block modified in place: \
packet 11, snd3, bytes 12-15 changed during onData" ] || fail "the text verdict, exit $code: $out" ;;
fail-alloc)
    # Every allocation of our brick's code failing in turn, then a seeded sample: no run breaks a
    # rule or goes silent, and the first failure is traced into the plug-in. A brick that breaks
    # a rule without any failure is reported as such.
    out="$(ASAN_OPTIONS="$leaky" run_i386 "$replay" --fail-alloc --plugin "$plugin" "$tmp/c.pcapng")" || fail "exit $?: $out"
    [[ "$(head -1 <<< "$out")" =~ :\ fail-alloc:\ ([1-9][0-9]*)\ allocations\ of\ the\ plug-in,\ ([0-9]+)\ failed\ in\ turn:\ 0\ runs ]] &&
        [ "${BASH_REMATCH[1]}" = "${BASH_REMATCH[2]}" ] || fail "the sweep: $out"
    sed -n 3p <<< "$out" | grep -q "libVRN3SoundStream.so.1+0x" || fail "the first failure is not traced to the plug-in: $out"
    out="$(ASAN_OPTIONS="$leaky" run_i386 "$replay" --fail-alloc --fail-points 3 --seed 7 --plugin "$plugin" "$tmp/c.pcapng")" ||
        fail "exit $?: $out"
    [[ "$out" == *" allocations of the plug-in, 3 failed in turn: 0 runs "* ]] || fail "the sample: $out"
    # A sample larger than the allocations fails each of them once.
    out="$(ASAN_OPTIONS="$leaky" run_i386 "$replay" --fail-alloc --fail-points 1000000 --plugin "$plugin" "$tmp/c.pcapng")" ||
        fail "exit $?: $out"
    [[ "$(head -1 <<< "$out")" =~ :\ ([1-9][0-9]*)\ allocations\ of\ the\ plug-in,\ ([0-9]+)\ failed ]] &&
        [ "${BASH_REMATCH[1]}" = "${BASH_REMATCH[2]}" ] || fail "a sample beyond the allocations: $out"
    # A capture of the configuration alone: nothing to fail, no first failure to trace; a brick that
    # sends from its destructor is still caught, with no packet or type to name.
    python3 - "$tmp/c.pcapng" "$tmp/config.pcapng" <<'PY'
import struct, sys
data, blocks, at = open(sys.argv[1], "rb").read(), [], 0
while at < len(data):
    blocks.append(data[at:at + struct.unpack_from("<I", data, at + 4)[0]])
    at += len(blocks[-1])
first = next(i for i, b in enumerate(blocks) if b[0] == 6)
end = bytearray(blocks[-1])
struct.pack_into("<Q", end, 24, 1)
open(sys.argv[2], "wb").write(b"".join(blocks[:first + 1]) + bytes(end))
PY
    sweep="vrn3-replay: $tmp/config.pcapng: fail-alloc: 0 allocations of the plug-in, 0 failed in turn: 0 runs broke a rule or went silent"
    while IFS='|' read -r code brick more; do
        rc=0
        out="$(ASAN_OPTIONS="$leaky" run_i386 "$replay" --fail-alloc --plugin "$brick" "$tmp/config.pcapng")" || rc=$?
        [ "$rc" = "$code" ] && [ "$out" = "$sweep${more:+$'\n'vrn3-replay: $tmp/config.pcapng: $more}" ] ||
            fail "the configuration alone, $brick: exit $rc: $out"
    done <<ROWS
0|$plugin|
10|$faulty/libvrn3-test-faulty-sent-outside.so|without a failure: host called from a thread not running the brick's handler: SendData outside any handler call
ROWS
    code=0
    out="$(ASAN_OPTIONS="$leaky" run_i386 "$replay" --fail-alloc --plugin "$faulty/libvrn3-test-faulty-block-leaked.so" "$tmp/c.pcapng")" ||
        code=$?
    [ "$code" = 10 ] && [[ "$out" == *": without a failure: block not given back by the brick's destruction: "* ]] ||
        fail "a leaking brick, exit $code: $out"
    # In JSON: every failing run of the leaking brick leaks too, and the first failure is traced.
    code=0
    ASAN_OPTIONS="$leaky" run_i386 "$replay" --fail-alloc --json --plugin "$faulty/libvrn3-test-faulty-block-leaked.so" "$tmp/c.pcapng" \
        > "$tmp/json" || code=$?
    python3 - "$tmp/json" <<'PY' && [ "$code" = 10 ] || fail "the JSON of a leaking brick's sweep, exit $code"
import json, sys
sweep = json.load(open(sys.argv[1]))
assert sweep["first_failure"] and sweep["bad"] and sweep["tried"] == sweep["allocations"], sweep
assert all(any(line.startswith("block not given back") for line in bad["violations"]) for bad in sweep["bad"]), sweep
PY
    # A brick that stops answering once an allocation failed goes silent.
    code=0
    out="$(ASAN_OPTIONS="$leaky" run_i386 "$replay" --fail-alloc --plugin "$faulty/libvrn3-test-faulty-silent-after-failure.so" \
        "$tmp/c.pcapng")" || code=$?
    [ "$code" = 10 ] && [[ "$out" == *" failing, at packet "*": the brick sent nothing afterwards"* ]] ||
        fail "a brick silent after a failure, exit $code: $out"
    # So does one that stops once an allocation asked for without exceptions is refused: those
    # allocations are the plug-in's too, and fail in turn (a seeded sample of them).
    code=0
    out="$(ASAN_OPTIONS="$leaky" run_i386 "$replay" --fail-alloc --fail-points 20 \
        --plugin "$faulty/libvrn3-test-faulty-silent-after-refusal.so" "$tmp/c.pcapng")" || code=$?
    [ "$code" = 10 ] && [[ "$out" == *" failing, at packet "*": the brick sent nothing afterwards"* ]] ||
        fail "a brick silent after a refusal, exit $code: $out"
    # The sweep reads the capture again and again: standard input is refused.
    code=0
    run_i386 "$replay" --fail-alloc --plugin "$plugin" - < "$tmp/c.pcapng" 2> "$tmp/err" || code=$?
    [ "$code" = 2 ] || fail "--fail-alloc from standard input, exit $code: $(cat "$tmp/err")" ;;
clean)
    # Our brick over the golden captures and fresh ones of each way of playing, the reset's too.
    capture backward --reverse
    capture threaded --threaded
    capture fragmented --fragment 37
    for file in "$golden"/*.pcapng "$tmp"/{c,reset,backward,threaded,fragmented}.pcapng; do
        validate "$plugin" "$file"
        [ "$code" = 0 ] && [ -z "$got" ] || fail "$file: exit $code: $got"
    done ;;
esac
