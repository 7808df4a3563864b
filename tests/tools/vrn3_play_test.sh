#!/usr/bin/env bash
# End-to-end cases of vrn3-play through the real plug-in, one per ctest test:
#   vrn3_play_test.sh CASE PLAY SAMPLE NOFACTORY_LIB REFUSING_LIB SOX
# Sound is compared as decoded PCM (sox), never by timing.
set -euo pipefail

CASE=$1 PLAY=$2 SAMPLE=$3 NOFACTORY=$4 REFUSING=$5 SOX=$6
W="$(mktemp -d)"
trap 'rm -rf "$W"' EXIT

fail() { echo "FAIL ($CASE): $*" >&2; exit 1; }
pcm() { "$SOX" -V1 "$1" -t raw -e signed -b 16 "$2"; }

# roundtrip IN ARGS...: the extracted WAV is IMA ADPCM and decodes to exactly IN's PCM.
roundtrip() {
    local in=$1; shift
    rm -f "$W/out.wav"
    "$PLAY" "$in" -o "$W/out.wav" "$@" > "$W/log" 2>&1 || fail "exit $? for $in $*: $(tail -n 3 "$W/log")"
    grep -q "^  extracted" "$W/log" || fail "no summary for $in $*"
    "$SOX" --i -e "$W/out.wav" | grep -q "IMA ADPCM" || fail "output of $in $* is not IMA ADPCM"
    pcm "$in" "$W/in.raw"
    pcm "$W/out.wav" "$W/out.raw"
    [ -s "$W/in.raw" ] || fail "no PCM in $in"
    cmp -s "$W/in.raw" "$W/out.raw" || fail "PCM of $in $* differs from the input"
}

# refuse CODE PATTERN ARGS...: exits CODE with exactly one line on stderr matching PATTERN, and
# leaves the output folder $W/out empty.
refuse() {
    local code=$1 pattern=$2 rc=0; shift 2
    rm -rf "$W/out" && mkdir "$W/out"
    "$PLAY" "$@" > "$W/stdout" 2> "$W/stderr" || rc=$?
    [ "$rc" = "$code" ] || fail "exit $rc, not $code, for $*: $(cat "$W/stderr")"
    [ "$(wc -l < "$W/stderr")" = 1 ] || fail "not one line on stderr for $*: $(cat "$W/stderr")"
    grep -q -- "$pattern" "$W/stderr" || fail "for $*: '$(cat "$W/stderr")' lacks '$pattern'"
    [ -z "$(ls -A "$W/out")" ] || fail "files left behind for $*: $(ls -A "$W/out")"
}

case "$CASE" in
sample)
    for direction in "" --reverse; do
        for fragment in 0 1 37 100 256 4096; do
            roundtrip "$SAMPLE" --fragment "$fragment" $direction
        done
        roundtrip "$SAMPLE" --threaded --fragment 50 $direction
    done
    ;;
long)
    # Over three minutes at 22050 Hz: larger blocks, and over 60 chunks each way.
    "$SOX" -V1 -n -r 22050 -c 1 -e ima-adpcm "$W/long.wav" synth 200 sine 100:4000 sine 440 remix - gain -n -3
    for direction in "" --reverse; do
        for fragment in 0 100 999; do
            roundtrip "$W/long.wav" --fragment "$fragment" $direction
        done
    done
    grep -q "chunks      68 requested" "$W/log" || fail "expected 67 chunks and the edge: $(grep chunks "$W/log")"
    ;;
streams)
    # The second sound stream's fragments go in between the first one's, and none comes out.
    roundtrip "$SAMPLE" --fragment 50 --trace
    grep -Eq "in   source>brick  data  snd3  (first|middle)  stream 2" "$W/log" || fail "second stream not interleaved"
    records=$(grep -Ec "in   source>brick  data  snd3  (whole|last)  stream 1" "$W/log")
    [ "$(grep -c "out  brick>sink    data  SCDA" "$W/log")" = "$records" ] || fail "SCDA blocks other than the $records records"
    grep -q "extracted   $records records" "$W/log" || fail "summary count is not $records"
    refuse 6 "stream 2 carries 'pcmu', not IMA ADPCM sound" "$SAMPLE" --stream 2 -o "$W/out/x.wav"
    refuse 6 "stream 0 carries 'H264'" "$SAMPLE" --stream 0 -o "$W/out/x.wav"
    refuse 6 "stream 7 carries no sound" "$SAMPLE" --stream 7 -o "$W/out/x.wav"
    refuse 6 "stream 300: the plug-in announced no sound configuration" "$SAMPLE" --stream 300 -o "$W/out/x.wav"
    refuse 6 "stream -1: the plug-in announced no sound configuration" "$SAMPLE" --stream=-1 --reverse -o "$W/out/x.wav"
    ;;
inputs)
    echo "just text" > "$W/text.wav"
    "$SOX" -V1 -n -r 8000 -c 1 -e signed -b 16 "$W/pcm.wav" synth 0.5 sine 300
    "$SOX" -V1 -n -r 8000 -c 2 -e ima-adpcm "$W/stereo.wav" synth 0.5 sine 300
    head -c 5000 "$SAMPLE" > "$W/cut.wav"
    mkdir "$W/folder.wav"
    refuse 3 "text.wav: not a WAV file" "$W/text.wav" -o "$W/out/x.wav"
    refuse 3 "pcm.wav: not IMA ADPCM (format tag 0x" "$W/pcm.wav" -o "$W/out/x.wav"
    refuse 3 "stereo.wav: stereo; only mono is played" "$W/stereo.wav" -o "$W/out/x.wav"
    refuse 3 "cut.wav: truncated" "$W/cut.wav" -o "$W/out/x.wav"
    refuse 3 "missing.wav: cannot read: No such file" "$W/missing.wav" -o "$W/out/x.wav"
    refuse 3 "folder.wav: cannot read: Is a directory" "$W/folder.wav" -o "$W/out/x.wav"
    refuse 4 "x.wav: cannot write: No such file or directory" "$SAMPLE" -o "$W/out/no/x.wav"
    refuse 4 "cannot write: Is a directory" "$SAMPLE" -o "$W/out"
    cp "$SAMPLE" "$W/out/same.wav"
    "$PLAY" "$W/out/same.wav" -o "$W/out/same.wav" 2> "$W/stderr" && fail "wrote over its input"
    grep -q "is the input" "$W/stderr" || fail "no message for output = input"
    cmp -s "$SAMPLE" "$W/out/same.wav" || fail "the input was changed"
    ;;
plugin)
    refuse 5 "cannot load the plug-in: .*nothing.so" --plugin "$W/nothing.so" "$SAMPLE" -o "$W/out/x.wav"
    refuse 5 "no factory CreateBrick" --plugin "$NOFACTORY" "$SAMPLE" -o "$W/out/x.wav"
    refuse 5 "refused the brick configuration" --plugin "$REFUSING" "$SAMPLE" -o "$W/out/x.wav"
    ;;
cli)
    "$PLAY" --help | grep -q -- "--reverse" || fail "--help"
    [ "$("$PLAY" --version)" = "vrn3-play 1.0.0" ] || fail "--version"
    refuse 2 "--bogus" --bogus
    refuse 2 "not in range" --fragment 70000
    cp "$SAMPLE" "$W/in.wav"
    "$PLAY" "$W/in.wav" > "$W/log" || fail "no run without -o"
    [ -f "$W/in.extracted.wav" ] || fail "default output not beside the input: $(ls "$W")"
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "ok ($CASE)"
