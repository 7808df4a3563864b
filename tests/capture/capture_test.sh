#!/usr/bin/env bash
# End-to-end tests of captures: vrn3-play --capture replayed by vrn3-replay (identical, and against
# a plug-in with a planted fault), captures cut short, vrn3-replay's command line and outputs, its
# reports against the capture's own figures, --digests against the golden files, the golden
# captures of an earlier recorder, and the Wireshark dissector.
#   capture_test.sh CASE VRN3_PLAY VRN3_REPLAY PLUGIN FLIPPED_PLUGIN SAMPLE GOLDEN_DIR [TSHARK DISSECTOR CAPTURE]
# i386 programs start through $VRN3_I386_EMULATOR when it is set; $VRN3_NOFACTORY_PLUGIN,
# $VRN3_REFUSING_PLUGIN and $VRN3_UNRESOLVED_PLUGIN are plug-ins that fail on purpose;
# $VRN3_FAILING_IO, when set, a library to preload that fails one chosen I/O call.
set -euo pipefail
case="$1" play="$2" replay="$3" plugin="$4" flipped="$5" sample="$6" golden="$7"
. "$(dirname "${BASH_SOURCE[0]}")/../kit/script.sh"
. "$(dirname "${BASH_SOURCE[0]}")/../kit/devices.sh"
devices "$tmp"

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
    # A tag's kind flipped: exit 9, the first differing block shown from both sides after the
    # three that matched, each decoded with its packet and digest.
    capture
    code=0
    out="$(run_i386 "$replay" --plugin "$flipped" "$tmp/c.pcapng")" || code=$?
    [ "$code" = 9 ] || fail "exit $code, not 9: $out"
    diff -u - <(printf '%s\n' "$out") <<EXPECTED || fail "the difference report"
vrn3-replay: $tmp/c.pcapng: differs at output block 3 (after 4 blocks in)
  same      packet 3  out notification  ntfy size 36 SCfg codec ima1 dataType SCDA chunkLength 3000 sampleRate 8000 bytesPerSample 2 channels 1  md5 93e73f9aae0a8c43d97602aea952401e
  same      packet 5  out notification  ntfy size 20 TimR begin 0 end 6060  md5 b07cea3dff322304e5cd56982b5a026a
  same      packet 7  out control  Chun size 12 time 0 mode 0  md5 8dd6bb7329a71449b0a1b292b5999164
  captured  packet 9  out data  Tag  size 32 time 0 code TagS kind 2 streamNumber 1  md5 1c35070d6358821acf16ea4bebb0787c
  replayed  out data  Tag  size 32 time 0 code TagS kind 3 streamNumber 1  md5 3adf9bd63043f9840296c213e15c005c
EXPECTED
    ;;
golden)
    # Captures the recorder wrote in an earlier release read and replay identically, and the
    # replayed brick sends the golden digests' blocks: captures users keep stay readable.
    for name in forward backward fragmented; do
        expected="$golden/sample-forward.framemd5"
        [ "$name" = backward ] && expected="$golden/sample-backward.framemd5"
        out="$(run_i386 "$replay" --digests "$tmp/r" --plugin "$plugin" "$golden/sample-$name.pcapng")" ||
            fail "replay of the golden $name capture exited $?: $out"
        [[ "$out" == *": identical: "* ]] || fail "golden $name: $out"
        diff -u "$expected" "$tmp/r" || fail "the replay's digests of the golden $name capture differ"
    done ;;
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
failed-run)
    # A capture streamed from a run that fails (input cut short, no sound in the stream) has no end
    # record, on standard output as in a FIFO: the replay calls it cut short (exit 3). The run that
    # succeeds ends it whole. The input comes through a pipe, so the play starts before the cut shows.
    head -c 12000 "$sample" > "$tmp/cut.wav"
    mkfifo "$tmp/fifo"
    while IFS='|' read -r code input args; do
        for way in - "$tmp/fifo"; do
            [ "$way" = - ] || { cat "$tmp/fifo" > "$tmp/c.pcapng" & }
            rc=0; cat "$input" | run_i386 "$play" -q - $args -o "$tmp/o.wav" --capture "$way" > "$tmp/stdout" 2> /dev/null || rc=$?
            wait
            [ "$way" != - ] || mv "$tmp/stdout" "$tmp/c.pcapng"
            replayed=0; run_i386 "$replay" --plugin "$plugin" "$tmp/c.pcapng" > /dev/null 2>&1 || replayed=$?
            want=3 && [ "$code" != 0 ] || want=0
            [ "$rc" = "$code" ] && [ "$replayed" = "$want" ] ||
                fail "--capture $way, input $input $args: vrn3-play exit $rc, vrn3-replay exit $replayed"
        done
    done <<ROWS
0|$sample|
3|$tmp/cut.wav|
6|$sample|--stream 2
ROWS
    # The capture's close failing (the disk full as its last bytes go out), at each fclose in turn:
    # a run that fails says so, naming the capture (exit 4), and its capture is cut short (the
    # replay's exit 3); a run that succeeds leaves a whole one. Not in a sanitizer build, whose
    # runtime must precede any preloaded library.
    if [ -n "${VRN3_FAILING_IO:-}" ]; then
        failed=0
        for call in 1 2 3 4 5 6; do
            rc=0; VRN3_FAIL="fclose:$call:28" LD_PRELOAD="$VRN3_FAILING_IO" run_i386 "$play" -q "$sample" \
                -o "$tmp/o.wav" --capture - > "$tmp/c.pcapng" 2> "$tmp/stderr" || rc=$?
            replayed=0; run_i386 "$replay" --plugin "$plugin" "$tmp/c.pcapng" > /dev/null 2>&1 || replayed=$?
            [ "$rc:$replayed" = 0:0 ] ||
                { [ "$rc:$replayed" = 4:3 ] && grep -q "cannot write the capture: No space left on device" "$tmp/stderr"; } ||
                fail "fclose call $call failing: vrn3-play exit $rc, vrn3-replay exit $replayed, $(cat "$tmp/stderr")"
            [ "$rc" = 0 ] || failed=$((failed + 1))
        done
        [ "$failed" -gt 0 ] || fail "no failing fclose reached the capture"
    fi
    ;;
replay-cli)
    # vrn3-replay's own words and outputs: every failure one line prefixed with its name and the
    # code of its kind; standard output carries one document.
    capture
    c="$tmp/c.pcapng"
    cp "$c" "$tmp/out-config.pcapng"
    printf '\001' | dd of="$tmp/out-config.pcapng" bs=1 seek=101 conv=notrunc status=none # packet 1's direction
    cp "$c" "$tmp/config-path.pcapng"
    printf '\002' | dd of="$tmp/config-path.pcapng" bs=1 seek=100 conv=notrunc status=none # packet 1's path
    python3 - "$c" "$tmp/config-size.pcapng" <<'PY' # packet 1's configuration 4 bytes short
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
at, length = 60, struct.unpack_from("<I", data, 64)[0]
short = data[at:at + length - 8] + data[at + length - 4:at + length]
for offset in (4, 20, 24, 36, length - 8):
    struct.pack_into("<I", short, offset, struct.unpack_from("<I", short, offset)[0] - 4)
open(sys.argv[2], "wb").write(data[:at] + short + data[at + length:])
PY
    # A verdict longer than the output's buffer, on a descriptor open for reading only.
    long="$(printf './%.0s' {1..2000})c.pcapng"
    : > "$tmp/read-only"
    # Packet 2 (the header, delivered) put on the configuration's path; the first sound record
    # delivered marked as flattened. Each edit is one byte of the capture header: path or form.
    read -r second sound <<<"$(python3 - "$c" "$tmp" <<'PY'
import struct, sys
data, at, number, edits = open(sys.argv[1], "rb").read(), 0, 0, {}
while at < len(data):
    kind, length = struct.unpack_from("<II", data, at)
    number += kind == 6
    if kind == 6 and number == 2:
        edits["two-configs"] = (number, at + 40, 3)
    elif kind == 6 and data[at + 32:at + 36] == b"snd3" and "flat-sound" not in edits:
        edits["flat-sound"] = (number, at + 42, 1)
    at += length
for name, (number, offset, value) in edits.items():
    edited = bytearray(data)
    edited[offset] = value
    open(sys.argv[2] + "/" + name + ".pcapng", "wb").write(bytes(edited))
print(edits["two-configs"][0], edits["flat-sound"][0])
PY
)"
    ln -s c.pcapng "$tmp/link.pcapng"
    ln "$c" "$tmp/hard.pcapng"
    mkdir "$tmp/folder"
    sum="$(md5sum < "$c")"
    # code | the whole message | arguments (run in $tmp; the real plug-in unless they name one)
    while IFS='|' read -r code message args; do
        chosen='--plugin "$plugin"'; [[ "$args" == --plugin* ]] && chosen=""
        rc=0; (cd "$tmp" && eval "run_i386 \"\$replay\" $chosen $args") > "$tmp/stdout" 2> "$tmp/stderr" || rc=$?
        [ "$rc" = "$code" ] && [ "$(cat "$tmp/stderr")" = "vrn3-replay: $message" ] ||
            fail "exit $rc for $args: $(cat "$tmp/stderr")"
    done <<ROWS
4|cannot write the verdict: No space left on device|"$c" > "$full"
4|cannot write the verdict: No space left on device|--json "$c" > "$full"
4|cannot write the verdict: Bad file descriptor|"$c" >&-
4|$tmp/no/d: cannot write: No such file or directory|"$c" --digests "$tmp/no/d"
4|$full: cannot write: No space left on device|"$c" --digests "$full"
4|folder: cannot write: Is a directory|"$c" --digests folder
2|--digests - and --json: standard output for two outputs; give each its own|"$c" --digests - --json
2|--plugin: an empty name; give a file (see --help)|--plugin '' "$c"
2|--digests: an empty name; give a file (see --help)|--digests '' "$c"
2|--digests $c: is the input file; choose another|"$c" --digests "$c"
2|--digests ./c.pcapng: is the input file; choose another|c.pcapng --digests ./c.pcapng
2|--digests link.pcapng: is the input file; choose another|c.pcapng --digests link.pcapng
2|--digests hard.pcapng: is the input file; choose another|c.pcapng --digests hard.pcapng
2|--digests c.pcapng: is the input file; choose another|- --digests c.pcapng < c.pcapng
2|unexpected argument: $c (see --help)|"$c" "$c"
2|usage: vrn3-replay [OPTIONS] CAPTURE   (vrn3-replay --help tells more)|
4|cannot write the version: No space left on device|--version > "$full"
4|cannot write the help: No space left on device|--help > "$full"
3|$tmp/none.pcapng: No such file or directory|"$tmp/none.pcapng"
3|$tmp/out-config.pcapng: packet 1: the capture does not start with the brick's configuration|"$tmp/out-config.pcapng"
3|$tmp/config-path.pcapng: packet 1: the capture does not start with the brick's configuration|"$tmp/config-path.pcapng"
3|$tmp/config-size.pcapng: packet 1: the capture does not start with the brick's configuration|"$tmp/config-size.pcapng"
4|cannot write the verdict: Bad file descriptor|--plugin "$flipped" "$long" 1< read-only
3|$tmp/two-configs.pcapng: packet $second: a second configuration; a capture records one brick|"$tmp/two-configs.pcapng"
3|$tmp/flat-sound.pcapng: packet $sound: a flattened snd3 block, which no record flattens|"$tmp/flat-sound.pcapng"
5|cannot load the plug-in: $tmp/none.so: cannot open shared object file: No such file or directory|--plugin "$tmp/none.so" "$c"
5|$VRN3_REFUSING_PLUGIN: the plug-in refused the brick configuration|--plugin "$VRN3_REFUSING_PLUGIN" "$c"
5|cannot load the plug-in: $VRN3_UNRESOLVED_PLUGIN: undefined symbol: vrn3_test_defined_nowhere|--plugin "$VRN3_UNRESOLVED_PLUGIN" "$c"
ROWS
    [ ! -e "$tmp/no" ] && [ "$(md5sum < "$c")" = "$sum" ] || fail "a folder was made, or the input was touched"
    [ -L "$tmp/link.pcapng" ] && [ "$(ls "$tmp/folder")" = "" ] || fail "the link or the folder was replaced"
    code=0; run_i386 "$replay" --plugin "$VRN3_NOFACTORY_PLUGIN" "$c" 2> "$tmp/stderr" || code=$?
    [ "$code" = 5 ] && grep -q "^vrn3-replay: $VRN3_NOFACTORY_PLUGIN: no factory CreateBrick in the plug-in (" "$tmp/stderr" ||
        fail "a plug-in without a factory: exit $code, $(cat "$tmp/stderr")"
    [ "$(run_i386 "$replay" --version)" = "vrn3-replay 1.0.0" ] || fail "--version"
    code=0; run_i386 "$replay" --plugin "$plugin" --digests - "$c" > "$full" 2> "$tmp/stderr" || code=$?
    [ "$code" = 4 ] && [ "$(tail -1 "$tmp/stderr")" = "vrn3-replay: standard output: cannot write: No space left on device" ] ||
        fail "digests lost on a full standard output: exit $code, $(cat "$tmp/stderr")"
    run_i386 "$replay" --plugin "$plugin" --json --digests "$null" "$c" > "$null" || fail "two outputs on the null device"
    # The digests file: a new one takes the umask's complement, a replaced one keeps its mode.
    for mask in 022:644 077:600; do
        (umask "${mask%:*}" && run_i386 "$replay" --plugin "$plugin" --digests "$tmp/d$mask" "$c" 2> /dev/null)
        [ "$(stat -c %a "$tmp/d$mask")" = "${mask#*:}" ] || fail "umask ${mask%:*}: mode $(stat -c %a "$tmp/d$mask")"
    done
    chmod 640 "$tmp/d022:644"
    (umask 077 && run_i386 "$replay" --plugin "$plugin" --digests "$tmp/d022:644" "$c" 2> /dev/null)
    [ "$(stat -c %a "$tmp/d022:644")" = 640 ] || fail "a replaced file's mode: $(stat -c %a "$tmp/d022:644")"
    run_i386 "$replay" --plugin "$plugin" --digests - "$c" > "$tmp/stdout" 2> "$tmp/stderr" || fail "--digests -"
    cmp -s "$tmp/stdout" "$tmp/d022:644" && [ "$(cut -d: -f1 "$tmp/stderr")" = "vrn3-replay" ] &&
        grep -q ": identical: " "$tmp/stderr" || fail "the digests are not alone on standard output" ;;
replay-report)
    # The verdicts, whole, against the capture's own figures: the packets it holds in and out.
    capture
    c="$tmp/c.pcapng"
    figures() { # inputs outputs packets of a capture, from its packet headers
        python3 - "$1" <<'PY'
import struct, sys
data, at, counts = open(sys.argv[1], "rb").read(), 0, [0, 0, 0]
while at < len(data):
    kind, length = struct.unpack_from("<II", data, at)
    if kind == 6:
        path, direction = data[at + 40], data[at + 41]
        counts[direction] += path != 3
        counts[2] += 1
    at += length
print(*counts)
PY
    }
    read -r ins outs packets <<<"$(figures "$c")"
    [ "$(run_i386 "$replay" --plugin "$plugin" "$c")" = "vrn3-replay: $c: identical: $ins blocks in, $outs blocks out" ] ||
        fail "the summary: $(run_i386 "$replay" --plugin "$plugin" "$c")"
    # Captures whose end lost or gained an output: the last one dropped, or the last one twice.
    python3 - "$c" "$tmp/lost.pcapng" "$tmp/gained.pcapng" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
blocks, at = [], 0
while at < len(data):
    blocks.append(data[at:at + struct.unpack_from("<I", data, at + 4)[0]])
    at += len(blocks[-1])
last = max(i for i, b in enumerate(blocks) if b[0] == 6 and b[41] == 1)
def write(name, packets, count):
    end = bytearray(blocks[-1])
    struct.pack_into("<Q", end, 24, count)
    open(name, "wb").write(b"".join(packets) + bytes(end))
packets = [b for b in blocks[:-1]]
write(sys.argv[2], packets[:last] + packets[last + 1:], sum(b[0] == 6 for b in packets) - 1)
again = bytearray(packets[last])
struct.pack_into("<I", again, 28, struct.unpack_from("<I", again, 28)[0] + 1) # its sequence number
write(sys.argv[3], packets[:last + 1] + [bytes(again)] + packets[last + 1:], sum(b[0] == 6 for b in packets) + 1)
PY
    for case in lost gained; do
        code=0; run_i386 "$replay" --plugin "$plugin" "$tmp/$case.pcapng" > "$tmp/$case.out" || code=$?
        [ "$code" = 9 ] || fail "$case: exit $code"
    done
    tail -1 "$tmp/gained.out" | grep -qx '  replayed  (nothing)' || fail "gained: $(cat "$tmp/gained.out")"
    grep -qx '  captured  (nothing)' "$tmp/lost.out" || fail "lost: $(cat "$tmp/lost.out")"
    # The lost block is the one the replay still sends, after the three blocks before it; the gained
    # one follows its original.
    [ "$(sed -n 6p "$tmp/lost.out")" = "  replayed  $(sed -n 5p "$tmp/gained.out" | sed 's/^  captured  packet [0-9]*  //')" ] &&
        [ "$(sed -n 3,4p "$tmp/lost.out")" = "$(sed -n 2,3p "$tmp/gained.out")" ] &&
        [ "$(wc -l < "$tmp/lost.out")" = 6 ] || fail "lost: $(cat "$tmp/lost.out" "$tmp/gained.out")"
    # Every field of a block told apart: the last output with one field changed (its type, its path,
    # its form, a byte of its data) differs there, though all else is the same.
    python3 - "$c" "$tmp" <<'PY'
import struct, sys
data, at, last = open(sys.argv[1], "rb").read(), 0, 0
while at < len(data):
    kind, length = struct.unpack_from("<II", data, at)
    last = at if kind == 6 and data[at + 41] == 1 else last
    at += length
for name, offset, change in (("type", 32, 0x20), ("path", 40, 2), ("form", 42, 1), ("data", 44, 0xFF)):
    changed = bytearray(data)
    changed[last + offset] ^= change
    open(sys.argv[2] + "/" + name + ".pcapng", "wb").write(bytes(changed))
PY
    for field in type path form data; do
        code=0; run_i386 "$replay" --plugin "$plugin" "$tmp/$field.pcapng" > "$tmp/$field.out" || code=$?
        [ "$code" = 9 ] && grep -q "differs at output block $((outs - 1)) (after $ins blocks in)" "$tmp/$field.out" ||
            fail "the last output's $field changed: exit $code, $(cat "$tmp/$field.out")"
    done
    read -r ins outs packets <<<"$(figures "$tmp/lost.pcapng")"
    [ "$(head -1 "$tmp/lost.out")" = "vrn3-replay: $tmp/lost.pcapng: differs at output block $outs (after $ins blocks in)" ] ||
        fail "lost: $(head -1 "$tmp/lost.out")"
    # JSON: strict UTF-8 whatever the name's bytes (invalid ones as the code point of their value,
    # overlong forms and surrogates among them), its fields the verdict's.
    name="$tmp/$(printf 'c\001\351\377\300\257\355\240\200\340\200\257\303\303"\\\177\303\251.pcapng')"
    cp "$tmp/lost.pcapng" "$name"
    code=0; run_i386 "$replay" --plugin "$plugin" --json "$name" > "$tmp/json" || code=$?
    [ "$code" = 9 ] || fail "--json of a differing capture: exit $code"
    python3 - "$tmp/json" "$name" "$ins" "$outs" "$packets" "$tmp/lost.out" <<'PY' || fail "--json: $(cat -v "$tmp/json")"
import json, os, sys
doc = json.loads(open(sys.argv[1], "rb").read().decode("utf-8", "strict"))
name = os.fsencode(sys.argv[2]).decode("utf-8", "surrogateescape")
name = "".join(chr(ord(ch) - 0xDC00) if 0xDC80 <= ord(ch) <= 0xDCFF else ch for ch in name)
text = open(sys.argv[6]).read().splitlines()
ins, outs, packets = map(int, sys.argv[3:6])
expected = {"capture": name, "identical": False, "inputs": ins, "outputs": outs, "partial": False,
            "last_packet": packets, "difference": {"index": outs, "captured": None, "replayed": text[5][12:]}}
assert doc == expected, (doc, expected)
PY
    # The gained block: captured, never replayed.
    code=0; run_i386 "$replay" --plugin "$plugin" --json "$tmp/gained.pcapng" > "$tmp/json" || code=$?
    python3 - "$tmp/json" "$tmp/gained.out" <<'PY' && [ "$code" = 9 ] || fail "--json of the gained block, exit $code: $(cat "$tmp/json")"
import json, sys
difference, text = json.load(open(sys.argv[1]))["difference"], open(sys.argv[2]).read().splitlines()
assert difference["replayed"] is None and text[-2].endswith("  " + difference["captured"]), (difference, text)
PY
    head -c 700 "$c" > "$tmp/cut.pcapng" # the configuration and a part of the next packet
    run_i386 "$replay" --plugin "$plugin" --json --partial "$tmp/cut.pcapng" > "$tmp/json" || fail "--json --partial"
    python3 - "$tmp/json" "$tmp/cut.pcapng" <<'PY' || fail "--json --partial: $(cat "$tmp/json")"
import json, sys
doc = json.loads(open(sys.argv[1], "rb").read().decode("utf-8", "strict"))
assert doc == {"capture": sys.argv[2], "identical": True, "inputs": 0, "outputs": 0, "partial": True, "last_packet": 1}, doc
PY
    ;;
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
devices_intact
