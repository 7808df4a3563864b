#!/usr/bin/env bash
# End-to-end tests of captures: vrn3-play --capture replayed by vrn3-replay (identical, and against
# a plug-in with a planted fault), --digests against the golden files, and the Wireshark dissector.
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
    run_i386 "$replay" --digests --plugin "$plugin" "$tmp/c.pcapng" | sed '$d' > "$tmp/r"
    diff -u "$expected" "$tmp/r" || fail "the replay's digests of $name differ" ;;
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
