#!/usr/bin/env bash
# End-to-end cases of vrn3-play through the real plug-in, one per ctest test:
#   vrn3_play_test.sh CASE PLAY SAMPLE NOFACTORY_LIB REFUSING_LIB SOX FAILING_IO_LIB FAULTY_DIR
# (FAULTY_DIR holds the sound bricks with a planted fault, FaultyBrickPlugin.cpp's.)
# Sound is compared as decoded PCM (sox), never by timing. vrn3-play starts through
# $VRN3_I386_EMULATOR where the build runs i386 programs in an emulator (empty: natively).
set -euo pipefail

CASE=$1 PLAY=$2 SAMPLE=$3 NOFACTORY=$4 REFUSING=$5 SOX=$6 FAILING_IO=$7 FAULTY=$8
W="$(mktemp -d)"
# Only this shell removes the work folder: a child forked from it (a background job killed before
# it has exec'd) is still a copy of this shell, with this trap, and must not run it.
trap '[ "$BASHPID" != $$ ] || rm -rf "$W"' EXIT

fail() { echo "FAIL ($CASE): $*" >&2; exit 1; }
. "$(dirname "${BASH_SOURCE[0]}")/../kit/devices.sh"
mkdir "$W/dev" && devices "$W/dev"
play() { ${VRN3_I386_EMULATOR:+"$VRN3_I386_EMULATOR"} "$PLAY" "$@"; }
# poke FILE OFFSET VALUE: writes VALUE as a little-endian 32-bit word into FILE at OFFSET.
poke() { python3 -c 'import sys, struct; f = open(sys.argv[1], "r+b"); f.seek(int(sys.argv[2])); f.write(struct.pack("<I", int(sys.argv[3])))' "$@"; }
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

# start_program SPOOL ARGS...: starts vrn3-play in the background with SPOOL as its temporary
# folder, and sets pid once that process is the program itself: until the fork has exec'd it is a
# copy of this shell, and a signal sent then would test the shell, not the program.
start_program() {
    local spool=$1 shell deadline=$((SECONDS + 60)); shift
    (TMPDIR="$spool" exec ${VRN3_I386_EMULATOR:+"$VRN3_I386_EMULATOR"} "$PLAY" "$@") & pid=$!
    shell=$(readlink "/proc/$$/exe")
    while [ "$(readlink "/proc/$pid/exe" 2> /dev/null)" = "$shell" ]; do
        [ "$SECONDS" -lt "$deadline" ] || fail "the program had not started after 60 s (pid $pid)"
        sleep 0.01
    done
}

# running PID: the process is there and has not ended (a zombie has).
running() {
    local state
    state=$(ps -o stat= -p "$1" 2> /dev/null) && [ "${state:0:1}" != Z ]
}

# bounded_wait PID SECONDS WHAT: waits for the background job PID and returns its exit status; one
# still running after SECONDS is reported with what it was doing, killed, and fails the test.
bounded_wait() {
    local pid=$1 limit=$2 what=$3
    local deadline=$((SECONDS + limit))
    while running "$pid" && [ "$SECONDS" -lt "$deadline" ]; do
        sleep 0.1
    done
    if running "$pid"; then
        echo "FAIL ($CASE): $what: still running after $limit s; its state, then its threads' kernel waits:" >&2
        grep -E '^(State|Threads):' "/proc/$pid/status" >&2 || true
        for task in /proc/"$pid"/task/*; do echo "  ${task##*/} $(cat "$task/wchan" 2> /dev/null)" >&2; done
        kill -s KILL "$pid" 2> /dev/null || true
        wait "$pid" 2> /dev/null || true
        exit 1
    fi
    wait "$pid"
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
    grep -Eq "in   source>brick  data  snd3 size [0-9]+ (first|middle) .* streamNumber 2$" "$W/log" || fail "second stream not interleaved"
    records=$(grep -Ec "in   source>brick  data  snd3 size [0-9]+ (whole|last) .* streamNumber 1$" "$W/log")
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
    # A data chunk of one short block plays; a pipe that ends before its data does not.
    for size in 4 5 255; do
        # (dd, not tail | head: tail killed by the pipe head closes early fails the pipeline, by chance)
        head -c 60 "$SAMPLE" > "$W/short.wav" && dd if="$SAMPLE" bs=1 skip=60 count="$size" status=none >> "$W/short.wav"
        poke "$W/short.wav" 4 $((size + 52)) && poke "$W/short.wav" 48 $((size * 2 - 7)) && poke "$W/short.wav" 56 "$size"
        roundtrip "$W/short.wav"
    done
    # A RIFF size below the WAVE header's, a data chunk shorter than one block's header, a second
    # format after the data: each refused with what is wrong.
    cp "$SAMPLE" "$W/riff.wav" && poke "$W/riff.wav" 4 3
    refuse 3 "riff.wav: the RIFF size 3 is too small for a WAVE file" "$W/riff.wav" -o "$W/out/x.wav"
    head -c 63 "$SAMPLE" > "$W/tiny.wav" && poke "$W/tiny.wav" 4 55 && poke "$W/tiny.wav" 56 3
    refuse 3 "tiny.wav: the last block is cut short (3 bytes)" "$W/tiny.wav" -o "$W/out/x.wav"
    cp "$SAMPLE" "$W/fmt.wav" && printf 'fmt \020\000\000\000' >> "$W/fmt.wav" && head -c 36 "$SAMPLE" | tail -c 16 >> "$W/fmt.wav"
    poke "$W/fmt.wav" 4 $(($(stat -c %s "$W/fmt.wav") - 8))
    refuse 3 "fmt.wav: a second fmt chunk after the data" "$W/fmt.wav" -o "$W/out/x.wav"
    head -c 20000 "$SAMPLE" | refuse 3 "standard input: truncated (the data chunk promises 24576 bytes, the stream ended after 19940)" - -o "$W/out/x.wav"
    # Chunk memory has a bound; a sparse input costs requests only where it has sound.
    "$SOX" -V1 -n -r 48000 -c 1 -e ima-adpcm "$W/fast.wav" synth 400 sine 440 && poke "$W/fast.wav" 24 2147483647
    refuse 3 "a 3-s chunk would hold 9733120 bytes of sound; at most 8388608 are played" "$W/fast.wav" -o "$W/out/x.wav"
    cp "$SAMPLE" "$W/slow.wav" && poke "$W/slow.wav" 24 1
    for direction in "" --reverse; do
        play "$W/slow.wav" -o "$W/slow.out.wav" $direction > "$W/log" || fail "1 Hz $direction"
        grep -Eq "chunks      (96|97) requested" "$W/log" || fail "1 Hz: $(grep chunks "$W/log"), not one a record"
        cmp -s <(tail -c +61 "$W/slow.wav") <(tail -c +61 "$W/slow.out.wav") || fail "1 Hz $direction: other sound"
    done
    ;;
plugin)
    # A plug-in that does not resolve, each with its own words: missing, another machine's (a copy
    # of a library with its ELF machine made aarch64's), without the factory; then a factory that refuses.
    cp "$NOFACTORY" "$W/arm.so" && printf '\267\000' | dd of="$W/arm.so" bs=1 seek=18 conv=notrunc status=none
    refuse 5 "^vrn3-play: cannot load the plug-in: $W/nothing.so: cannot open shared object file: No such file" \
        --plugin "$W/nothing.so" "$SAMPLE" -o "$W/out/x.wav"
    refuse 5 "^vrn3-play: cannot load the plug-in: $W/arm.so: not loaded: the plug-in is built for [0-9]*-bit little-endian machine 183, this host for " \
        --plugin "$W/arm.so" "$SAMPLE" -o "$W/out/x.wav"
    refuse 5 "^vrn3-play: $NOFACTORY: no factory CreateBrick in the plug-in ($NOFACTORY: undefined symbol: CreateBrick)$" \
        --plugin "$NOFACTORY" "$SAMPLE" -o "$W/out/x.wav"
    refuse 5 "refused the brick configuration" --plugin "$REFUSING" "$SAMPLE" -o "$W/out/x.wav"
    refuse 8 "out of memory" --plugin "$REFUSING" --stream 8 "$SAMPLE" -o "$W/out/x.wav"
    ;;
cli)
    play --help > "$W/help" || fail "--help"
    for code in 0 2 3 4 5 6 7 8; do grep -q "^  $code  " "$W/help" || fail "exit code $code not in --help"; done
    grep -q "$(dirname "$PLAY")" "$W/help" && fail "--help shows the build tree"
    [ "$(play --version)" = "vrn3-play 1.0.0" ] || fail "--version"
    grep -Eq "INT|NUMBER|At Most" "$W/help" && fail "--help speaks the argument library's words"
    refuse 2 "^vrn3-play: usage: vrn3-play"
    grep -q "and 9" "$W/help" && fail "--help names exit 9, which vrn3-play never gives"
    refuse 2 "unexpected argument: -o out/q.wav (see --help)" -- -dash.wav -o out/q.wav
    refuse 2 "--bogus" --bogus "$SAMPLE"
    for value in 70000 abc ""; do
        refuse 2 "'$value' is not a whole number from 0 to 65535" --fragment "$value" "$SAMPLE"
    done
    refuse 2 "'' is not a whole number" --stream "" "$SAMPLE"
    # Empty names, repeated options, help and version that cannot be written: our own words.
    # code | pattern | arguments
    while IFS='|' read -r code pattern args; do
        rc=0; eval "play $args" > "$W/stdout" 2> "$W/stderr" || rc=$?
        [ "$rc" = "$code" ] && [ "$(wc -l < "$W/stderr")" = 1 ] && grep -q -- "^vrn3-play: $pattern" "$W/stderr" &&
            ! grep -q "At Most\|required but" "$W/stderr" || fail "exit $rc for $args: $(cat "$W/stderr")"
    done <<ROWS
2|--capture: an empty name|--capture '' "$SAMPLE" -o "$W/x.wav"
2|--output: an empty name|-o '' "$SAMPLE"
2|--plugin: an empty name|--plugin '' "$SAMPLE" -o "$W/x.wav"
2|--digests: an empty name|--digests '' "$SAMPLE" -o "$W/x.wav"
2|--trace: an empty name|--trace= "$SAMPLE" -o "$W/x.wav"
2|--output given more than once|"$SAMPLE" -o "$W/x.wav" -o "$W/y.wav"
2|unexpected argument|"$SAMPLE" "$SAMPLE"
4|cannot write the help: No space left|--help > "$full"
4|cannot write the version: No space left|--version > "$full"
ROWS
    [ ! -e "$W/x.wav" ] && [ ! -e "$W/y.wav" ] || fail "a refused command line wrote a file"
    cp "$SAMPLE" "$W/in.wav"
    play "$W/in.wav" > "$W/log" || fail "no run without -o"
    [ -f "$W/in.extracted.wav" ] || fail "default output not beside the input: $(ls "$W")"
    [ "$(od -An -tu4 -j48 -N4 "$W/in.extracted.wav" | tr -d ' ')" = 48000 ] || fail "the input's fact count is not the output's"
    play "$W/in.wav" -o "$W/x.wav" -q > "$W/log" 2>&1 && [ ! -s "$W/log" ] || fail "-q printed: $(cat "$W/log")"
    play "$W/in.wav" -o "$W/x.wav" --trace > "$W/log" 2> "$W/trace" || fail "--trace"
    grep -q "snd3" "$W/log" || [ "$(grep -c "snd3" "$W/trace")" -lt 100 ] && fail "trace not alone on stderr"
    ;;
summary)
    # The summary's figures are the input's own, read from its WAV header (rate, block align, data
    # bytes, fact samples; a record a block, the last one's time), and the options as given; the
    # text and the JSON say the same. The JSON is one line of strict UTF-8 whatever bytes the names
    # hold: UTF-8 kept, every other byte escaped on its own.
    "$SOX" -V1 -n -r 11025 -c 1 -e ima-adpcm "$W/b.wav" synth 7 sine 500
    cp "$SAMPLE" "$W/$(printf 'a \303\274\351\377"\\\001\177\340\200\257\355\240\200.wav')"
    # figures file | input | options, run in $W
    while IFS='|' read -r figures input options; do
        (cd "$W" && eval "play $input -o o.wav $options --json") > "$W/json" || fail "--json for $input $options"
        (cd "$W" && eval "play $input -o o.wav $options -v") > "$W/text" || fail "-v for $input $options"
        (cd "$W" && python3 - $figures $input "$options" json text) <<'PY' || fail "the summary of $input $options"
import json, math, os, re, struct, sys
figures, name, options, json_file, text_file = sys.argv[1:6]
def unchanged_or_escaped(error):  # each byte that is not UTF-8 stands for the character of its value
    return ''.join(chr(b) for b in error.object[error.start:error.end]), error.end
import codecs; codecs.register_error('bytewise', unchanged_or_escaped)
shown = os.fsencode(name).decode('utf-8', 'bytewise')
wav = open(figures, 'rb').read()
at, chunks = 12, {}
while at + 8 <= len(wav):
    size = struct.unpack_from('<I', wav, at + 4)[0]
    chunks[wav[at:at + 4]] = (wav[at + 8:at + 8 + size], size)
    at += 8 + size + (size & 1)
rate, align = struct.unpack_from('<I', chunks[b'fmt '][0], 4)[0], struct.unpack_from('<H', chunks[b'fmt '][0], 12)[0]
data, samples = chunks[b'data'][1], struct.unpack_from('<I', chunks[b'fact'][0])[0]
records = -(-data // align)
last = (records - 1) * ((align - 4) * 2 + 1) * 1000 // rate
raw = open(json_file, 'rb').read()
assert raw.count(b'\n') == 1 and raw.endswith(b'}\n'), raw
got = json.loads(raw.decode('utf-8', 'strict'))
fragment = int(re.search(r'--fragment (\d+)', options).group(1)) if '--fragment' in options else 100
want = {'input': shown, 'output': 'o.wav', 'plugin': got['plugin'], 'stream': 1,
        'direction': 'backward' if '--reverse' in options else 'forward', 'fragment': fragment,
        'threaded': '--threaded' in options,
        'config': {'codec': 'ima1', 'sample_rate': rate, 'bytes_per_sample': 2, 'channels': 1,
                   'chunk_length': 3000, 'data_type': 'SCDA'},
        'records': records, 'bytes': data, 'samples': samples, 'chunks': got['chunks'],
        'time_span_ms': [0, last], 'wall_time_s': got['wall_time_s']}
assert got == want, (got, want)
text = open(text_file, 'rb').read().decode('utf-8', 'surrogateescape').splitlines()
fragments = 'whole records' if fragment == 0 else 'fragments of %d bytes' % fragment
want = ['vrn3-play: %s -> o.wav' % name, '  plug-in     ' + got['plugin'],
        '  input       %s, %d Hz, block align %d, %d bytes of sound, fact %d samples'
        % ('stream' if name == '-' else 'file', rate, align, data, samples),
        '  stream      1, %s, %s, %s' % (want['direction'], fragments, 'threaded' if want['threaded'] else 'synchronous'),
        '  SCfg        codec ima1, %d Hz, 2 bytes/sample, 1 channel(s), chunk 3000, data SCDA' % rate,
        '  extracted   %d records, %d bytes, %d samples (%.3f s of sound)' % (records, data, samples, samples / rate),
        '  chunks      %d requested' % got['chunks'], '  time span   0 .. %d ms' % last]
assert text[:8] == want and text[9] == '  written     o.wav (replaced file)' and len(text) == 10, (text, want)
PY
    done <<'ROWS'
a*.wav|a*.wav|
b.wav|b.wav|--threaded --fragment 0 --reverse
b.wav|-|--fragment 65535 < <(cat b.wav)
ROWS
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
    # An empty or unset TMPDIR spools in the system's temporary folder.
    for way in "TMPDIR=" "-u TMPDIR"; do
        env $way ${VRN3_I386_EMULATOR:+"$VRN3_I386_EMULATOR"} "$PLAY" -q "$SAMPLE" -o "$W/tmp.wav" &&
            same_pcm "$SAMPLE" "$W/tmp.wav" || fail "spooling with env $way"
    done
    # Standard input without -o goes to standard output, the summary to stderr; a WAV without a
    # fact chunk (the sample's, cut out) is said to have none.
    head -c 40 "$SAMPLE" > "$W/nofact.wav" && tail -c +53 "$SAMPLE" >> "$W/nofact.wav" && poke "$W/nofact.wav" 4 24616
    cat "$W/nofact.wav" | play - -v > "$W/std.wav" 2> "$W/stderr" && same_pcm "$SAMPLE" "$W/std.wav" &&
        grep -q "^vrn3-play: - -> -$" "$W/stderr" && grep -q "^  input       stream, .*, no fact chunk$" "$W/stderr" ||
        fail "standard input to standard output: $(cat "$W/stderr")"
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
plan)
    # Before any work, one line and exit 2: an output that is the input by any path (its name, ./,
    # a symbolic link, also from another folder or as the input, a hard link, standard input), two
    # outputs on one file, standard output taken twice. Every file stays as it was.
    cp "$SAMPLE" "$W/x.wav" && ln -s x.wav "$W/link.wav" && ln "$W/x.wav" "$W/hard.wav"
    mkdir "$W/sub" && ln -s ../x.wav "$W/sub/up.wav"
    # pattern | arguments, run in $W with standard output going to the file $W/stdout
    while IFS='|' read -r pattern args; do
        echo old > "$W/o.wav" && rm -f "$W/y.wav" "$W/c.x" "$W/t.x"
        rc=0; (cd "$W" && eval "play $args") > "$W/stdout" 2> "$W/stderr" || rc=$?
        [ "$rc" = 2 ] && [ "$(wc -l < "$W/stderr")" = 1 ] || fail "exit $rc for $args: $(cat "$W/stderr")"
        grep -q -- "^vrn3-play: $pattern" "$W/stderr" || fail "for $args: '$(cat "$W/stderr")' lacks '$pattern'"
        cmp -s "$SAMPLE" "$W/x.wav" && [ "$(cat "$W/o.wav")" = old ] && [ ! -s "$W/stdout" ] || fail "$args changed a file"
        [ ! -e "$W/y.wav" ] && [ ! -e "$W/c.x" ] && [ ! -e "$W/t.x" ] || fail "$args wrote: $(ls "$W")"
    done <<'ROWS'
-o x.wav: is the input file|-q x.wav -o x.wav
-o ./x.wav: is the input file|-q x.wav -o ./x.wav
-o link.wav: is the input file|-q x.wav -o link.wav
-o sub/up.wav: is the input file|-q x.wav -o sub/up.wav
-o x.wav: is the input file|-q link.wav -o x.wav
-o hard.wav: is the input file|-q - -o hard.wav < x.wav
--capture x.wav: is the input file|-q x.wav -o y.wav --capture x.wav
--capture ./link.wav: is the input file|-q x.wav -o y.wav --capture ./link.wav
--capture hard.wav: is the input file|-q x.wav -o y.wav --capture hard.wav
--digests x.wav: is the input file|-q x.wav -o y.wav --digests x.wav
--digests link.wav: is the input file|-q x.wav -o y.wav --digests link.wav
--digests ./hard.wav: is the input file|-q x.wav -o y.wav --digests ./hard.wav
--trace ./x.wav: is the input file|-q x.wav -o y.wav --trace=./x.wav
--trace link.wav: is the input file|-q x.wav -o y.wav --trace=link.wav
--trace hard.wav: is the input file|-q x.wav -o y.wav --trace=hard.wav
-o o.wav and --capture o.wav: one file for two outputs|-q x.wav -o o.wav --capture o.wav
-o o.wav and --digests ./o.wav: one file|-q x.wav -o o.wav --digests ./o.wav
-o o.wav and --trace o.wav: one file|-q x.wav -o o.wav --trace=o.wav
--capture c.x and --digests c.x: one file|-q x.wav -o y.wav --capture c.x --digests c.x
--digests t.x and --trace t.x: one file|-q x.wav -o y.wav --trace=t.x --digests t.x
-o - and --digests -: standard output for two outputs|-q x.wav -o - --digests -
--digests - and --json: standard output|x.wav -o y.wav --json --digests -
-o - and --capture /dev/stdout: standard output|x.wav -o - --capture /dev/stdout
-o - and --trace /dev/stdout: standard output|x.wav -o - --trace=/dev/stdout
-o - and --json: standard output|x.wav -o - --json
-o stdout: is the file standard output goes to|x.wav -o stdout --json
standard output is the input file|x.wav -o y.wav >> x.wav
standard output is the input file|x.wav -o y.wav 1<> x.wav
ROWS
    # The null device takes any number of outputs; digests on standard output move the summary to stderr.
    play -q "$SAMPLE" -o "$null" --capture "$null" --digests "$null" || fail "outputs into /dev/null"
    play "$SAMPLE" -o "$W/y.wav" --digests - > "$W/stdout" 2> "$W/stderr" || fail "--digests -"
    [ "$(head -1 "$W/stdout")" = "#format: index, type, time, size, md5" ] && ! grep -q written "$W/stdout" &&
        grep -q "^  written" "$W/stderr" || fail "the digests are not alone on standard output"
    ;;
targets)
    # A target that cannot be made fails at once, before the play (no summary), exit 4, one line.
    name="$(printf 'n%.0s' $(seq 300)).wav"
    mkdir "$W/locked" && echo old > "$W/fixed.wav"
    if ! chattr +i "$W/fixed.wav" "$W/locked" 2> /dev/null; then
        echo "skipped: immutable files ($W has no file attributes)"; rm -rf "$W/locked" "$W/fixed.wav"
    fi
    problems=""
    # pattern | arguments, run in $W
    while IFS='|' read -r pattern args; do
        case "$args" in *fixed* | *locked*) [ -e "$W/locked" ] || continue ;; esac
        rc=0; (cd "$W" && eval "play $args") > "$W/stdout" 2> "$W/stderr" || rc=$?
        [ "$rc" = 4 ] && [ "$(wc -l < "$W/stderr")" = 1 ] && [ ! -s "$W/stdout" ] &&
            grep -q -- "$pattern" "$W/stderr" || problems="$problems; exit $rc for $args: $(cat "$W/stderr" "$W/stdout")"
    done <<ROWS
$name: cannot write: File name too long|"$SAMPLE" -o $name
$name: cannot write: File name too long|-q "$SAMPLE" -o y.wav --capture $name
$name: cannot write: File name too long|"$SAMPLE" -o y.wav --digests $name
fixed.wav: cannot write: Operation not permitted|"$SAMPLE" -o fixed.wav
fixed.wav: cannot write: Operation not permitted|"$SAMPLE" -o y.wav --trace=fixed.wav
locked/x.wav: cannot write: Operation not permitted|"$SAMPLE" -o locked/x.wav
ROWS
    [ -e "$W/locked" ] && chattr -i "$W/fixed.wav" "$W/locked"
    [ -z "$problems" ] || fail "${problems#; }"
    [ ! -e "$W/y.wav" ] || fail "a run whose other target failed wrote y.wav"
    # A capture opens its target anew: standard output appending to a file would lose the file.
    echo old > "$W/kept" && rc=0 && play -q "$SAMPLE" -o "$W/y.wav" --capture - >> "$W/kept" 2> "$W/stderr" || rc=$?
    [ "$rc" = 4 ] && [ "$(cat "$W/kept")" = old ] && [ ! -e "$W/y.wav" ] || fail "--capture - >> a file: exit $rc, $(cat "$W/stderr")"
    ;;
modes)
    # Under the umasks 022 and 077, every output made anew gets 0666 less the umask, and every
    # replaced one keeps the mode its target had (0640, which neither umask gives); each is the new one.
    for mask in 022 077; do
        want=$(printf %o $((0666 & ~8#$mask)))
        rm -rf "$W/m" && mkdir "$W/m"
        for kind in new replaced; do
            rc=0; (umask "$mask" && play "$SAMPLE" -o "$W/m/x.wav" --capture "$W/m/c.pcapng" --digests "$W/m/d.txt" \
                --trace="$W/m/t.txt") > "$W/log" || rc=$?
            [ "$rc" = 0 ] && grep -q "^  written     $W/m/x.wav ($kind file)$" "$W/log" || fail "umask $mask, $kind: exit $rc"
            for name in x.wav c.pcapng d.txt t.txt; do
                [ "$(stat -c %a "$W/m/$name")" = "$want" ] && [ "$(head -c 3 "$W/m/$name")" != old ] ||
                    fail "umask $mask, $kind $name: mode $(stat -c %a "$W/m/$name"), not $want"
                echo old > "$W/m/$name" && chmod 640 "$W/m/$name"
            done
            want=640
        done
    done
    ;;
unwritable)
    # An output or a listing that cannot be written (a full device, a folder, a missing folder;
    # standard output or error full) fails the run: exit 4, its line first, the old WAV as it was and
    # no temporary file left.
    mkdir "$W/folder"
    # pattern | arguments, run in $W with standard output going to $W/stdout
    while IFS='|' read -r pattern args; do
        echo old > "$W/x.wav"
        rc=0; (cd "$W" && eval "play $args") > "$W/stdout" 2> "$W/stderr" || rc=$?
        [ "$rc" = 4 ] && [ "$(head -1 "$W/stderr")" = "vrn3-play: $pattern" ] && [ "$(cat "$W/x.wav")" = old ] &&
            [ -z "$(ls -A "$W" "$W/folder" | grep '^\.vrn3-')" ] || fail "exit $rc for $args: $(cat "$W/stderr")"
    done <<ROWS
$full: cannot write: No space left on device|"$SAMPLE" -o "$full"
folder: cannot write: Is a directory|"$SAMPLE" -o folder
none/x.wav: cannot write: No such file or directory|"$SAMPLE" -o none/x.wav
$full: cannot write: No space left on device|"$SAMPLE" -o x.wav --trace="$full"
folder: cannot write: Is a directory|"$SAMPLE" -o x.wav --trace=folder
none/t.txt: cannot write: No such file or directory|"$SAMPLE" -o x.wav --trace=none/t.txt
$full: cannot write: No space left on device|"$SAMPLE" -o x.wav --digests "$full"
folder: cannot write: Is a directory|"$SAMPLE" -o x.wav --digests folder
none/d.txt: cannot write: No such file or directory|"$SAMPLE" -o x.wav --digests none/d.txt
$full: cannot write the capture: No space left on device|"$SAMPLE" -o x.wav --capture "$full"
folder: cannot write: Is a directory|"$SAMPLE" -o x.wav --capture folder
none/c.pcapng: cannot write: No such file or directory|"$SAMPLE" -o x.wav --capture none/c.pcapng
cannot write the summary: No space left on device|"$SAMPLE" -o x.wav > "$full"
cannot write the summary: No space left on device|"$SAMPLE" -o x.wav --json > "$full"
standard output: cannot write: No space left on device|"$SAMPLE" -o - > "$full"
standard output: cannot write: No space left on device|-q "$SAMPLE" -o x.wav --digests - > "$full"
ROWS
    rc=0; play "$SAMPLE" -o "$W/x.wav" --trace -q 2> "$full" || rc=$?
    [ "$rc" = 4 ] && [ "$(cat "$W/x.wav")" = old ] || fail "a trace into a full standard error: exit $rc"
    ;;
kept)
    # A run that fails, at once or after the play, leaves every old file as it was: the WAV, the
    # trace, the digests and the capture; what went to standard output is said to stay there.
    mkdir "$W/k"
    for way in "--plugin $W/nothing.so:5" "--stream 2:6" "--stream 300:6"; do
        for name in x.wav t.txt d.txt c.pcapng; do echo old > "$W/k/$name"; done
        rc=0; play "$SAMPLE" ${way%:*} -o "$W/k/x.wav" --trace="$W/k/t.txt" --digests "$W/k/d.txt" \
            --capture "$W/k/c.pcapng" 2> "$W/stderr" || rc=$?
        [ "$rc" = "${way#*:}" ] || fail "exit $rc for $way: $(cat "$W/stderr")"
        for name in x.wav t.txt d.txt c.pcapng; do [ "$(cat "$W/k/$name")" = old ] || fail "$way changed $name"; done
        [ "$(ls "$W/k" | wc -l)" = 4 ] || fail "$way left: $(ls "$W/k")"
    done
    rc=0; play "$SAMPLE" --stream 2 -o - > /dev/null 2> "$W/stderr" || rc=$?
    [ "$rc" = 6 ] && grep -q "what reached standard output stays there" "$W/stderr" || fail "-o -: $(cat "$W/stderr")"
    ;;
commit)
    # A signal that arrives while the outputs take their targets' places waits until they are all
    # in place; the run then ends with 0. A failure in the commit names what is already in place.
    pcm "$SAMPLE" "$W/in.raw"
    for signal in 1 2 15; do
        for outputs in "" "--capture $W/c.pcapng --digests $W/d.txt"; do
            for name in x.wav c.pcapng d.txt; do echo old > "$W/$name"; done
            rc=0; VRN3_SIGNAL_AFTER_RENAME=$signal LD_PRELOAD="$FAILING_IO" play -q "$SAMPLE" -o "$W/x.wav" $outputs || rc=$?
            [ "$rc" = 0 ] || fail "signal $signal after a rename ($outputs): exit $rc"
            pcm "$W/x.wav" "$W/x.raw" && cmp -s "$W/in.raw" "$W/x.raw" || fail "signal $signal: the WAV is not the new one"
            [ -z "$outputs" ] || { [ "$(cat "$W/c.pcapng")" != old ] && [ "$(cat "$W/d.txt")" != old ]; } ||
                fail "signal $signal: an output is not the new one"
        done
    done
    # A replacement or a sync that fails puts back every target already replaced: all or nothing.
    for failing in renameat:1 renameat:2 fsync:1 fsync:2; do
        echo old > "$W/x.wav" && echo old > "$W/d.txt"
        rc=0; VRN3_FAIL=$failing:5 LD_PRELOAD="$FAILING_IO" play -q "$SAMPLE" -o "$W/x.wav" --digests "$W/d.txt" 2> "$W/stderr" || rc=$?
        [ "$rc" = 4 ] && [ "$(cat "$W/x.wav")" = old ] && [ "$(cat "$W/d.txt")" = old ] &&
            grep -q "cannot write: Input/output error" "$W/stderr" || fail "a failed $failing: exit $rc, $(cat "$W/stderr")"
        [ -z "$(ls -A "$W" | grep '^\.vrn3-')" ] || fail "a failed $failing left $(ls -A "$W")"
    done
    ;;
signals)
    # Every signal that ends a process, SIGKILL too, at a random point of a run: nothing is left
    # in the output folder or the spool folder, and an old target is as it was.
    # In a sanitizer build the runs go without LeakSanitizer: a signal that the sanitizer handles
    # itself (SEGV, BUS, FPE) can land while the leak check at exit has stopped the world, and its
    # handler then waits for ever on the lock that the check holds. Every other test keeps the
    # leak check, so nothing is lost; and each run is bounded all the same (bounded_wait).
    export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
    # ThreadSanitizer's own handler of a SEGV, BUS or FPE sent from outside stops in its runtime's
    # checks and never exits: in its build these signals keep their default action, as in a plain one.
    export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}handle_segv=0:handle_sigbus=0:handle_sigfpe=0"
    seed=${VRN3_TEST_SEED:-$(( $(date +%s%N) % 32768 ))}
    RANDOM=$seed
    echo "signals: kill points from seed $seed (VRN3_TEST_SEED=$seed repeats them)"
    "$SOX" -V1 -n -r 22050 -c 1 -e ima-adpcm "$W/long.wav" synth 100 sine 440
    mkdir -p "$W/spool" && ulimit -c 0
    # The kill points spread over the time a whole run takes on this machine, native or emulated.
    started=$(date +%s%N)
    play "$W/long.wav" -o "$W/whole.wav" -q || fail "the run to compare with"
    span_ms=$(( ($(date +%s%N) - started) / 1000000 + 1 ))
    for signal in HUP INT QUIT ILL TRAP ABRT BUS FPE USR1 SEGV USR2 PIPE ALRM TERM STKFLT XCPU VTALRM PROF IO PWR SYS RTMIN RTMAX KILL; do
        rm -rf "$W/out" && mkdir "$W/out" && echo old > "$W/out/x.wav"
        start_program "$W/spool" "$W/long.wav" -o "$W/out/x.wav" -q
        at_ms=$(( RANDOM * span_ms / 32768 ))
        sleep "$((at_ms / 1000)).$(printf %03d $((at_ms % 1000)))"
        kill -s "$signal" "$pid" 2> /dev/null || true
        rc=0; bounded_wait "$pid" $(( span_ms * 10 / 1000 + 60 )) "SIG$signal at $at_ms ms" || rc=$?
        [ "$(ls -A "$W/out")" = x.wav ] && [ -z "$(ls -A "$W/spool")" ] || fail "SIG$signal at $at_ms ms left: $(ls -A "$W/out" "$W/spool")"
        # The target is the old one or, where the signal came after the commit, the whole output;
        # exit 0 only with the whole output.
        if [ "$(cat "$W/out/x.wav")" != old ]; then
            cmp -s "$W/out/x.wav" "$W/whole.wav" || fail "SIG$signal at $at_ms ms: exit $rc, and the target is neither old nor whole"
        elif [ "$rc" = 0 ]; then
            fail "SIG$signal at $at_ms ms: exit 0, and the target is the old one"
        fi
        # Natively a kill ends the run by its signal; an emulator may end it its own way.
        [ "$rc" = 0 ] || [ "$rc" -gt 128 ] || [ -n "${VRN3_I386_EMULATOR:-}" ] || fail "SIG$signal at $at_ms ms: exit $rc"
    done
    ;;
descriptors)
    # Closed standard descriptors take no file's place, and what cannot be written fails the run.
    play "$SAMPLE" -o "$W/a.wav" -q <&- > /dev/null 2>&- && same_pcm "$SAMPLE" "$W/a.wav" || fail "closed stdin and stderr"
    rc=0; cat "$SAMPLE" | play - -o "$W/b.wav" --trace -q 2>&- || rc=$?
    [ "$rc" = 4 ] && [ ! -e "$W/b.wav" ] || fail "a trace into closed stderr: exit $rc, $(ls "$W")"
    rc=0; play "$SAMPLE" -o "$W/c.wav" >&- 2> /dev/null || rc=$?
    [ "$rc" = 4 ] && [ ! -e "$W/c.wav" ] || fail "a summary into closed stdout: exit $rc"
    rc=0; play - -o "$W/d.wav" <&- 2> "$W/stderr" || rc=$?
    [ "$rc" = 3 ] && grep -q "standard input: cannot read" "$W/stderr" || fail "closed stdin as input: exit $rc"
    ;;
exitcodes)
    # A non-zero exit leaves the old target as it was, and nothing beside it; 0 writes everything.
    pcm "$SAMPLE" "$W/in.raw"
    # outcome CODE DESCRIPTION: checks the target after a run that exited CODE.
    outcome() {
        [ "$1" = 0 ] && pcm "$W/out/x.wav" "$W/x.raw" && cmp -s "$W/in.raw" "$W/x.raw" && return
        [ "$1" != 0 ] && [ "$(cat "$W/out/x.wav")" = old ] && [ "$(ls -A "$W/out")" = x.wav ] ||
            fail "$2: exit $1; $(ls -A "$W/out")"
    }
    for point in pipe spool-folder 1 8 24 40 56; do
        rm -rf "$W/out" && mkdir "$W/out" && echo old > "$W/out/x.wav"
        rc=0
        case $point in
        pipe) play "$SAMPLE" -o "$W/out/x.wav" --trace -q 2>&1 > /dev/null | head -1 > /dev/null || rc=${PIPESTATUS[0]} ;;
        spool-folder) TMPDIR="$W/none" play "$SAMPLE" -o "$W/out/x.wav" -q 2> "$W/stderr" || rc=$?
            grep -q "spool file of the sound in $W/none: No such file" "$W/stderr" || fail "spool folder unnamed" ;;
        *) (ulimit -f "$point"; play "$SAMPLE" -o "$W/out/x.wav" -q 2> /dev/null) || rc=$? ;;
        esac
        outcome "$rc" "$point"
    done
    # Then one call of each I/O function the program makes, failed in turn; a run that still
    # exits 0 has written the whole trace and the summary too.
    play "$SAMPLE" -o "$W/clean.wav" --trace="$W/trace" > /dev/null && lines=$(wc -l < "$W/trace")
    for function in write close rename linkat fwrite fread fflush fclose fseeko64; do
        for call in 1 2 3 5 8 13 21 34 55 89; do
            rm -rf "$W/out" && mkdir "$W/out" && echo old > "$W/out/x.wav"
            rc=0
            VRN3_FAIL="$function:$call:28" LD_PRELOAD="$FAILING_IO" play "$SAMPLE" -o "$W/out/x.wav" \
                --trace="$W/trace" > "$W/stdout" 2> /dev/null || rc=$?
            outcome "$rc" "$function call $call"
            [ "$rc" != 0 ] || { [ "$(wc -l < "$W/trace")" = "$lines" ] && grep -q "^  written" "$W/stdout"; } ||
                fail "$function call $call: exit 0 without the whole trace and summary"
        done
    done
    ;;
memory)
    if [ -n "${VRN3_I386_EMULATOR:-}" ]; then
        # Under an emulator, which reserves the guest's address space, peak memory stays flat
        # from a 5-s input to a 10-min one (the emulator's own share is in both).
        "$SOX" -V1 -n -r 48000 -c 1 -e ima-adpcm "$W/long.wav" synth 600 sine 440
        peak() { /usr/bin/time -f %M -o "$W/peak" "$VRN3_I386_EMULATOR" "$PLAY" "$1" -o "$W/x.wav" -q "${@:2}" && cat "$W/peak"; }
        for mode in "" --threaded; do
            short=$(peak "$SAMPLE" $mode) || fail "short run $mode"
            long=$(peak "$W/long.wav" $mode) || fail "long run $mode"
            [ "$long" -lt $((short + 8192)) ] || fail "peak memory grows with the input: $short kB, then $long kB $mode"
        done
    else
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
    fi
    ;;
progress)
    # On a terminal the run shows its progress on stderr, of the whole when the input's length is
    # known, and writes what it writes without it; on a pipe of unknown length the seconds alone.
    head -c 60 "$SAMPLE" > "$W/unknown.wav" && tail -c +61 "$SAMPLE" >> "$W/unknown.wav" && poke "$W/unknown.wav" 56 0
    run="${VRN3_I386_EMULATOR:+$VRN3_I386_EMULATOR }$PLAY"
    # shown | command line (script(1) reads its own standard input: the rows come on another descriptor)
    while IFS='|' read -r -u 3 shown line; do
        rm -f "$W/x.wav"
        script -qec "$line -o $W/x.wav" /dev/null < /dev/null > "$W/tty" || fail "exit $? on a terminal for $line: $(cat "$W/tty")"
        grep -q "$shown" "$W/tty" && grep -q "writing 0.0 MB of sound" "$W/tty" && same_pcm "$SAMPLE" "$W/x.wav" ||
            fail "on a terminal, $line: $(cat "$W/tty")"
    done 3<<ROWS
vrn3-play: 6 of 6 s played|$run "$SAMPLE"
vrn3-play: 6 of 6 s played|$run "$SAMPLE" --reverse
vrn3-play: 3 s played |cat "$W/unknown.wav" | $run -
ROWS
    ;;
protocol)
    # A plug-in that breaks the stream's protocol is refused with what it did, and nothing is written.
    "$SOX" -V1 -n -r 8000 -c 1 -e ima-adpcm "$W/ten.wav" synth 10 sine 440
    while IFS='|' read -r fault code pattern; do
        refuse "$code" "$pattern" "$W/ten.wav" --plugin "$FAULTY/libvrn3-test-faulty-$fault.so" -o "$W/out/x.wav"
    done <<'ROWS'
rate-zero|6|stream 1: the plug-in announced sample rate 0$
unanswered|7|the plug-in stopped answering after 2 chunk requests (the last at time 3000)
sound-beyond-end|7|broke the protocol: sound arrived in the chunk beyond the archive's edge
end-unmarked|7|broke the protocol: the chunk beyond the archive's end did not open with an end-of-stream tag
record-cut|7|the plug-in sent a sound record of 2 bytes, which is no block of the input's (256 bytes)
record-long|7|the plug-in sent a sound record of 260 bytes, which is no block of the input's (256 bytes)
time-repeated|7|the plug-in sent records of two chunks for one time (0)
no-sound|6|stream 1: no sound records extracted; nothing written
ROWS
    # A handler that throws ends the run with its message, or, throwing what is no std::exception,
    # as an internal error; either way exit 7 and nothing written. (What the brick held when it
    # threw is its own: in a sanitizer build the leak check stays out of these runs.)
    for mode in "" --threaded; do
        ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" refuse 7 "^vrn3-play: a planted failure$" \
            "$W/ten.wav" --plugin "$FAULTY/libvrn3-test-faulty-handler-threw.so" -o "$W/out/x.wav" $mode
        ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" refuse 7 "internal error: an exception left a thread" \
            "$W/ten.wav" --plugin "$FAULTY/libvrn3-test-faulty-handler-threw-other.so" -o "$W/out/x.wav" $mode
    done
    # Blocks too short for what their type or code announces are passed over.
    play -q "$W/ten.wav" --plugin "$FAULTY/libvrn3-test-faulty-short-blocks.so" -o "$W/short.wav" &&
        play -q "$W/ten.wav" -o "$W/whole.wav" && cmp -s "$W/short.wav" "$W/whole.wav" || fail "blocks too short to read"
    ;;
*)
    fail "unknown case"
    ;;
esac
devices_intact
echo "ok ($CASE)"
