#!/usr/bin/env bash
# End-to-end cases of vrn3-play through the real plug-in, one per ctest test:
#   vrn3_play_test.sh CASE PLAY SAMPLE NOFACTORY_LIB REFUSING_LIB SOX
# Sound is compared as decoded PCM (sox), never by timing. vrn3-play starts through
# $VRN3_I386_EMULATOR where the build runs i386 programs in an emulator.
set -euo pipefail

CASE=$1 PLAY=$2 SAMPLE=$3 NOFACTORY=$4 REFUSING=$5 SOX=$6
W="$(mktemp -d)"
trap 'rm -rf "$W"' EXIT

play() { ${VRN3_I386_EMULATOR:+"$VRN3_I386_EMULATOR"} "$PLAY" "$@"; }
fail() { echo "FAIL ($CASE): $*" >&2; exit 1; }
pcm() { "$SOX" -V1 "$1" -t raw -e signed -b 16 "$2"; }
same_pcm() { pcm "$1" "$W/a.raw" && pcm "$2" "$W/b.raw" && [ -s "$W/a.raw" ] && cmp -s "$W/a.raw" "$W/b.raw"; }

# roundtrip IN ARGS...: the extracted WAV is IMA ADPCM and decodes to exactly IN's PCM.
roundtrip() {
    local in=$1; shift
    rm -f "$W/out.wav"
    play "$in" -o "$W/out.wav" "$@" > "$W/log" 2>&1 || fail "exit $? for $in $*: $(tail -n 3 "$W/log")"
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
    play "$@" > "$W/stdout" 2> "$W/stderr" || rc=$?
    [ "$rc" = "$code" ] || fail "exit $rc, not $code, for $*: $(cat "$W/stderr")"
    [ "$(wc -l < "$W/stderr")" = 1 ] || fail "not one line on stderr for $*: $(cat "$W/stderr")"
    grep -q -- "$pattern" "$W/stderr" || fail "for $*: '$(cat "$W/stderr")' lacks '$pattern'"
    [ -z "$(ls -A "$W/out")" ] || fail "files left behind for $*: $(ls -A "$W/out")"
}

# refuse_any ARGS...: runs the program into an empty $W/out; returns its exit code.
refuse_any() {
    rm -rf "$W/out" && mkdir "$W/out"
    play "$@" > "$W/stdout" 2> "$W/stderr"
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
    play "$W/out/same.wav" -o "$W/out/same.wav" 2> "$W/stderr" && fail "wrote over its input"
    grep -q "is the input" "$W/stderr" || fail "no message for output = input"
    cmp -s "$SAMPLE" "$W/out/same.wav" || fail "the input was changed"
    ;;
plugin)
    refuse 5 "cannot load the plug-in: .*nothing.so" --plugin "$W/nothing.so" "$SAMPLE" -o "$W/out/x.wav"
    refuse 5 "no factory CreateBrick" --plugin "$NOFACTORY" "$SAMPLE" -o "$W/out/x.wav"
    refuse 5 "refused the brick configuration" --plugin "$REFUSING" "$SAMPLE" -o "$W/out/x.wav"
    ;;
cli)
    play --help > "$W/help" || fail "--help"
    for code in 0 2 3 4 5 6 7 8; do grep -q "^  $code  " "$W/help" || fail "exit code $code not in --help"; done
    grep -q "$(dirname "$PLAY")" "$W/help" && fail "--help shows the build tree"
    [ "$(play --version)" = "vrn3-play 1.0.0" ] || fail "--version"
    rc=0; play > /dev/null 2> "$W/usage" || rc=$?
    [ "$rc" = 2 ] && grep -q "^Usage:" "$W/usage" || fail "no input: exit $rc, not usage and 2"
    refuse 2 "--bogus" --bogus "$SAMPLE"
    for value in 70000 abc ""; do
        refuse 2 "'$value' is not a whole number from 0 to 65535" --fragment "$value" "$SAMPLE"
    done
    refuse 2 "'' is not a whole number" --stream "" "$SAMPLE"
    cp "$SAMPLE" "$W/in.wav"
    play "$W/in.wav" > "$W/log" || fail "no run without -o"
    [ -f "$W/in.extracted.wav" ] || fail "default output not beside the input: $(ls "$W")"
    [ "$(od -An -tu4 -j48 -N4 "$W/in.extracted.wav" | tr -d ' ')" = 48000 ] || fail "the input's fact count is not the output's"
    play "$W/in.wav" -o "$W/x.wav" -q > "$W/log" 2>&1 && [ ! -s "$W/log" ] || fail "-q printed: $(cat "$W/log")"
    play "$W/in.wav" -o "$W/x.wav" --trace > "$W/log" 2> "$W/trace" || fail "--trace"
    grep -q "snd3" "$W/log" || [ "$(grep -c "snd3" "$W/trace")" -lt 100 ] && fail "trace not alone on stderr"
    play "$W/in.wav" -o "$W/x.wav" --json | python3 -m json.tool > "$W/json" || fail "--json is no JSON object"
    grep -q '"records": 96' "$W/json" || fail "--json lacks the records: $(cat "$W/json")"
    rc=0; play "$W/in.wav" -o "$W/x.wav" > /dev/full 2> /dev/null || rc=$?
    [ "$rc" = 4 ] || fail "a summary into a full stdout exits $rc"
    ;;
io)
    # Standard output and input, pipes with sizes a streaming writer leaves, a FIFO, a link.
    play "$SAMPLE" -o - 2> /dev/null | "$SOX" -V1 -t wav - -t raw -e signed -b 16 "$W/stdout.raw"
    pcm "$SAMPLE" "$W/in.raw"
    cmp -s "$W/in.raw" "$W/stdout.raw" || fail "-o - does not decode to the input"
    cat "$SAMPLE" | play - -o "$W/piped.wav" -q && same_pcm "$SAMPLE" "$W/piped.wav" || fail "a piped input"
    # sox, writing a stream of unknown length to a pipe, leaves sizes beyond the end.
    "$SOX" -V1 -n -r 11025 -c 1 -t raw -e signed -b 16 - synth 7 sine 500 |
        "$SOX" -V1 -t raw -r 11025 -e signed -b 16 -c 1 - -t wav -e ima-adpcm - | tee "$W/sent.wav" |
        play - -o "$W/sox.wav" -q --threaded && same_pcm "$W/sent.wav" "$W/sox.wav" || fail "a WAV sox wrote to a pipe"
    cat "$SAMPLE" | refuse 3 "standard input: playing backward needs a file" - --reverse -o "$W/out/x.wav"
    mkfifo "$W/fifo"
    play "$SAMPLE" -o "$W/fifo" -q & cat "$W/fifo" > "$W/fromfifo.wav"; wait $! || fail "writing a FIFO"
    [ -p "$W/fifo" ] || fail "the FIFO was replaced"
    same_pcm "$SAMPLE" "$W/fromfifo.wav" || fail "the sound through the FIFO"
    echo old > "$W/real.wav" && chmod 640 "$W/real.wav" && ln -s real.wav "$W/link.wav"
    play "$SAMPLE" -o "$W/link.wav" -q || fail "writing through a link"
    [ -L "$W/link.wav" ] && [ "$(stat -c %a "$W/real.wav")" = 640 ] || fail "the link or the mode was lost"
    cmp -s "$W/real.wav" "$W/fromfifo.wav" || fail "the linked file was not replaced"
    name="$W/out/$(printf 'n%.0s' $(seq 251)).wav"
    play "$SAMPLE" -o "$name" -q && [ -f "$name" ] || fail "a 255-byte output name"
    ;;
signals)
    # A run stopped while the temporary output exists (its input stalls in a FIFO) leaves nothing.
    mkfifo "$W/in.fifo"
    for signal in TERM INT HUP; do
        rm -rf "$W/out" && mkdir "$W/out"
        exec 3<> "$W/in.fifo"
        head -c 10000 "$SAMPLE" >&3
        # Started directly, not through play(), so that the signal reaches the program itself.
        ${VRN3_I386_EMULATOR:+"$VRN3_I386_EMULATOR"} "$PLAY" "$W/in.fifo" -o "$W/out/x.wav" -q & pid=$!
        for _ in $(seq 100); do [ -n "$(ls -A "$W/out")" ] && break; sleep 0.1; done
        [ -n "$(ls -A "$W/out")" ] || fail "no temporary file while playing"
        kill -s "$signal" "$pid"
        rc=0; wait "$pid" || rc=$?
        exec 3>&-
        [ "$rc" -gt 128 ] || fail "SIG$signal: exit $rc"
        [ -z "$(ls -A "$W/out")" ] || fail "SIG$signal left $(ls -A "$W/out")"
    done
    ;;
memory)
    if [ -n "${VRN3_I386_EMULATOR:-}" ]; then
        # An address-space limit binds the emulator too, so here memory is judged by its growth:
        # playing over three minutes of sound peaks no higher than playing six seconds.
        "$SOX" -V1 -n -r 8000 -c 1 -e ima-adpcm "$W/long.wav" synth 200 sine 440 gain -n -3
        peak() { /usr/bin/time -f %M -o "$W/peak" "$VRN3_I386_EMULATOR" "$PLAY" "$@" > /dev/null 2>&1 && cat "$W/peak"; }
        for mode in "" --threaded; do
            short=$(peak "$SAMPLE" -o "$W/s.wav" $mode) || fail "short run $mode"
            long=$(peak "$W/long.wav" -o "$W/l.wav" $mode) || fail "long run $mode"
            [ "$long" -le $((short + 4096)) ] || fail "peak $long kB for 200 s, $short kB for 6 s $mode"
        done
        echo "ok ($CASE, emulated: peak memory compared)"
        exit 0
    fi
    # Address-space limits from the least the program starts with (below that the loader fails
    # before main) up to one that plays: every run ends with a code of its own, one line and no
    # file, never a signal; and some run is out of memory.
    limit=16384
    until (ulimit -v $limit; play --version) > /dev/null 2>&1; do limit=$((limit + 1024)); done
    codes=""
    for mode in "" --threaded; do
        for step in $(seq 0 64); do
            rc=0
            (ulimit -v $((limit + step * 256)); refuse_any "$SAMPLE" -o "$W/out/x.wav" $mode) || rc=$?
            [ "$rc" = 0 ] && [ -s "$W/out/x.wav" ] && break
            case "$rc" in 5 | 8) codes="$codes $rc" ;; *) fail "exit $rc at $((limit + step * 256)) kB $mode: $(cat "$W/stderr")" ;; esac
            [ "$(wc -l < "$W/stderr")" = 1 ] && [ -z "$(ls -A "$W/out")" ] || fail "at $((limit + step * 256)) kB $mode"
        done
    done
    [[ "$codes" == *8* ]] || fail "never out of memory:$codes"
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "ok ($CASE)"
