#!/usr/bin/env bash
# End-to-end tests of captures: vrn3-play --capture replayed by vrn3-replay (identical, and against
# a plug-in with a planted fault), captures cut short, vrn3-replay's command line and outputs,
# --digests against the golden files, and the Wireshark dissector.
#   capture_test.sh CASE VRN3_PLAY VRN3_REPLAY PLUGIN FLIPPED_PLUGIN SAMPLE GOLDEN_DIR [TSHARK DISSECTOR CAPTURE]
# i386 programs start through $VRN3_I386_EMULATOR when it is set.
set -euo pipefail
case="$1" play="$2" replay="$3" plugin="$4" flipped="$5" sample="$6" golden="$7"
run_i386() { ${VRN3_I386_EMULATOR:+"$VRN3_I386_EMULATOR"} "$@"; }
tmp="$(mktemp -d)"
# Only this shell removes the folder, never a child forked from it before it has exec'd.
trap '[ "$BASHPID" != $$ ] || rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

capture() { run_i386 "$play" -q "$@" --capture "$tmp/c.pcapng" -o "$tmp/out.wav" "$sample"; }

case "$case" in
replay)
    # Every way of playing gives a capture that replays identically.
    for mode in "" --reverse --threaded "--fragment 0"; do
        capture $mode
        out="$(run_i386 "$replay" --plugin "$plugin" "$tmp/c.pcapng")" || fail "replay of '$mode' exited $?: $out"
        [[ "$out" == *": identical: "* ]] || fail "replay of '$mode': $out"
        [ "$(printf '%s\n' "$out" | wc -l)" = 1 ] || fail "more than one summary line: $out"
    done ;;
fault)
    # A tag's kind flipped: exit 9, the first differing block shown from both sides.
    capture
    code=0
    out="$(run_i386 "$replay" --plugin "$flipped" "$tmp/c.pcapng")" || code=$?
    [ "$code" = 9 ] || fail "exit $code, not 9: $out"
    grep -q '^  captured  packet [0-9]*  out data  Tag  size 32 time 0 code TagS kind 2 ' <<<"$out" || fail "$out"
    grep -q '^  replayed  out data  Tag  size 32 time 0 code TagS kind 3 ' <<<"$out" || fail "$out"
    grep -q '^  same  ' <<<"$out" || fail "no matching blocks before the difference: $out"
    json="$(run_i386 "$replay" --json --plugin "$flipped" "$tmp/c.pcapng")" || true
    [[ "$json" == '{"capture": '*'"identical": false'*'"difference": {"index": 3,'* ]] || fail "$json" ;;
digests-*)
    # Whole records or fragments, one thread or several: the same blocks leave the plug-in.
    declare -A modes=([forward]="--fragment 0" [fragmented]="--fragment 37" [threaded]="--threaded" [backward]="--reverse")
    name="${case#digests-}"
    expected="$golden/sample-forward.framemd5"
    [ "$name" = backward ] && expected="$golden/sample-backward.framemd5"
    run_i386 "$play" -q ${modes[$name]} --digests "$tmp/d" -o "$tmp/out.wav" "$sample"
    diff -u "$expected" "$tmp/d" || fail "digests of $name differ from $expected"
    run_i386 "$play" -q ${modes[$name]} --capture "$tmp/c.pcapng" -o "$tmp/out.wav" "$sample"
    run_i386 "$replay" --digests "$tmp/r" --plugin "$plugin" "$tmp/c.pcapng" > /dev/null
    diff -u "$expected" "$tmp/r" || fail "the replay's digests of $name differ" ;;
cut)
    # A capture cut at every boundary between its blocks is refused as cut, naming its last whole
    # packet (exit 3); only the whole capture replays (exit 0). --partial replays each cut one as
    # far as it goes and says so. The input is the sample's first three blocks, for a short capture.
    python3 - "$sample" "$tmp/short.wav" <<'PY'
import struct, sys
wav = open(sys.argv[1], "rb").read()
data = wav[60:60 + 3 * 256]
head = bytearray(wav[:60])
struct.pack_into("<I", head, 4, len(data) + 52)
struct.pack_into("<I", head, 48, 3 * 505)
struct.pack_into("<I", head, 56, len(data))
open(sys.argv[2], "wb").write(bytes(head) + data)
PY
    run_i386 "$play" -q "$tmp/short.wav" -o "$tmp/out.wav" --capture "$tmp/c.pcapng"
    # Each boundary's offset and the packets before it, from the blocks' lengths.
    python3 - "$tmp/c.pcapng" > "$tmp/boundaries" <<'PY'
import struct, sys
data, at, packets = open(sys.argv[1], "rb").read(), 0, 0
while at < len(data):
    kind, length = struct.unpack_from("<II", data, at)
    at += length
    packets += kind == 6
    print(at, packets)
PY
    size=$(stat -c %s "$tmp/c.pcapng") table=""
    while read -r at packets; do
        head -c "$at" "$tmp/c.pcapng" > "$tmp/cut.pcapng"
        code=0; run_i386 "$replay" --plugin "$plugin" "$tmp/cut.pcapng" > "$tmp/out" 2> "$tmp/err" || code=$?
        partial=0; run_i386 "$replay" --partial --plugin "$plugin" "$tmp/cut.pcapng" > "$tmp/pout" 2>&1 || partial=$?
        table="$table $code"
        if [ "$at" = "$size" ]; then
            [ "$code" = 0 ] && [ "$partial" = 0 ] && grep -q ": identical: " "$tmp/out" || fail "the whole capture: exit $code"
        elif [ "$packets" = 0 ]; then
            [ "$code" = 3 ] || fail "cut at $at bytes: exit $code"
        else
            [ "$code" = 3 ] && grep -q "cut short after packet $packets (the last whole one)" "$tmp/err" ||
                fail "cut at $at bytes after packet $packets: exit $code, $(cat "$tmp/out" "$tmp/err")"
            [ "$partial" = 0 ] && grep -q "identical: .*partial: the capture is cut short after packet $packets" "$tmp/pout" ||
                fail "--partial cut after packet $packets: exit $partial, $(cat "$tmp/pout")"
        fi
    done < "$tmp/boundaries"
    echo "exit codes of the cuts, in order:$table" ;;
replay-cli)
    # vrn3-replay's own words and outputs: every failure one line prefixed with its name and the
    # code of its kind; standard output carries one document.
    capture
    c="$tmp/c.pcapng"
    cp "$c" "$tmp/out-config.pcapng"
    printf '\001' | dd of="$tmp/out-config.pcapng" bs=1 seek=101 conv=notrunc status=none # packet 1's direction
    # code | pattern | arguments
    while IFS='|' read -r code pattern args; do
        rc=0; eval "run_i386 \"\$replay\" --plugin \"\$plugin\" $args" > "$tmp/stdout" 2> "$tmp/stderr" || rc=$?
        [ "$rc" = "$code" ] && [ "$(wc -l < "$tmp/stderr")" = 1 ] && grep -q -- "^vrn3-replay: $pattern" "$tmp/stderr" ||
            fail "exit $rc for $args: $(cat "$tmp/stderr")"
    done <<ROWS
4|cannot write the verdict: No space left|"$c" > /dev/full
4|cannot write the verdict: Bad file descriptor|"$c" >&-
4|$tmp/no/d: cannot write: No such file|"$c" --digests "$tmp/no/d"
4|/dev/full: cannot write: No space left|"$c" --digests /dev/full
2|--digests - and --json: standard output for two outputs|"$c" --digests - --json
2|--plugin: an empty name|--plugin '' "$c"
2|--digests: an empty name|--digests '' "$c"
2|--digests $c: is the input file|"$c" --digests "$c"
2|unexpected argument|"$c" "$c"
4|cannot write the version: No space left|--version > /dev/full
4|cannot write the help: No space left|--help > /dev/full
3|$tmp/out-config.pcapng: packet 1: the capture does not start with the brick's configuration|"$tmp/out-config.pcapng"
ROWS
    [ ! -e "$tmp/no" ] || fail "a folder was made"
    [ "$(run_i386 "$replay" --version)" = "vrn3-replay 1.0.0" ] || fail "--version"
    run_i386 "$replay" --plugin "$plugin" - < "$c" | grep -q "^vrn3-replay: standard input: identical: " || fail "- as input"
    run_i386 "$replay" --plugin "$plugin" --digests - "$c" > "$tmp/stdout" 2> "$tmp/stderr" || fail "--digests -"
    [ "$(head -1 "$tmp/stdout")" = "#format: index, type, time, size, md5" ] && ! grep -q identical "$tmp/stdout" &&
        grep -q ": identical: " "$tmp/stderr" || fail "the digests are not alone on standard output"
    name="$tmp/$(printf 'c\001\351\377"\\.pcapng')"
    cp "$c" "$name"
    run_i386 "$replay" --plugin "$plugin" --json "$name" > "$tmp/json" || fail "--json of an odd name"
    python3 -c 'import json, sys; json.loads(open(sys.argv[1], "rb").read().decode("utf-8", "strict"))' "$tmp/json" ||
        fail "--json is no valid JSON in UTF-8: $(cat -v "$tmp/json")" ;;
dissector)
    # Every field of a header, a sound record, a chunk request, a tag and an event list is named.
    tshark="$8" dissector="$9" every="${10}"
    pdml="$("$tshark" -r "$every" -X lua_script:"$dissector" -T pdml)"
    for field in header.reserved0 header.reserved4 header.reserved8 header.reserved3596 \
        stream.reserved0 stream.kind stream.codec stream.reserved6 stream.params \
        sound.time sound.reserved8 sound.sampleRate sound.bytesPerSample sound.channels sound.sourceFlags \
        chunk.time chunk.mode tag.time tag.reserved8 tag.code tag.kind tag.streamNumber tag.reserved28 \
        eventlist.notifyCode eventlist.entries event.word0 event.word1 event.streamNumber event.text \
        sequence type length path direction form; do
        grep -q "<field name=\"vrn3\\.$field\"" <<<"$pdml" || fail "the dissector names no vrn3.$field"
    done
    grep -q 'name="vrn3.stream.params" showname="params: -rate=8000 -bits=16"' <<<"$pdml" || fail "header texts"
    grep -q 'name="vrn3.event.text" showname="text: own"' <<<"$pdml" || fail "event texts" ;;
*) fail "unknown case $case" ;;
esac
