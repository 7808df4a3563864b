#!/usr/bin/env bash
# vrn3-play's outputs refused, at the plan and again just before they replace their targets, and
# a run that signals do not end, one case per ctest test:
#   outputs_test.sh CASE PLAY SAMPLE FAILING_IO_LIB
#   plan      targets refused before the play: the exit code and the one line that says why, and
#             nothing written
#   changed   targets that became another file while the run played (the input held in a FIFO):
#             nothing replaced, and no hidden file left
#   ignored   signals ignored by whoever started the run stay ignored: the run ends whole
# Every file a run may touch is one this script made in its own temporary folder.
set -euo pipefail

CASE=$1 PLAY="$(readlink -f "$2")" SAMPLE="$(readlink -f "$3")" FAILING_IO="$(readlink -f "$4")"
W="$(mktemp -d)"
trap '[ "$BASHPID" != $$ ] || { chattr -a "$W/append.txt" 2> /dev/null || true; rm -rf "$W"; }' EXIT
fail() { echo "FAIL ($CASE): $*" >&2; exit 1; }
play() { ${VRN3_I386_EMULATOR:+"$VRN3_I386_EMULATOR"} "$PLAY" "$@"; }
cd "$W"
cp "$SAMPLE" in.wav
mkfifo fifo
# held OUTPUTS...: starts vrn3-play on the input FIFO with -o x.wav and OUTPUTS, and returns
# once the plan is over (x.wav an old file), with the start of the input written: the output files are named ones
# (the preloaded library refuses unnamed ones), and their appearing says so.
held() {
    rm -f x.wav d.txt out.txt .vrn3-* && : > out.txt && echo old > x.wav
    (TMPDIR="$W" VRN3_NO_TMPFILE=95 LD_PRELOAD="$FAILING_IO" exec ${VRN3_I386_EMULATOR:+"$VRN3_I386_EMULATOR"} \
        "$PLAY" -q fifo -o x.wav "$@" > out.txt 2> stderr) & pid=$!
    exec 3<> fifo
    head -c 4096 "$SAMPLE" >&3 # the header, and the start of the sound
    local deadline=$((SECONDS + 60))
    until [ "$(ls -A | grep -c '^\.vrn3-')" = "$(($# / 2 + 1))" ]; do
        [ "$SECONDS" -lt "$deadline" ] || fail "no output file after 60 s"
        sleep 0.05
    done
}
finish() { tail -c +4097 "$SAMPLE" >&3 && exec 3>&- && rc=0 && wait "$pid" || rc=$?; }

case $CASE in
plan)
    ln -s loop2 loop && ln -s loop loop2
    echo old > append.txt
    long=$(printf '%0300d' 0)
    # Standard output part way into a file: descriptor 5, one byte in.
    echo old > mid.txt && exec 5<> mid.txt && read -r -n 1 -u 5 _
    # code | what stderr's first line ends with | arguments, run in $W (standard output to out.txt)
    while IFS='|' read -r code said args; do
        [ "$args" != "${args/nodev/}" ] && ! mknod nodev c 240 0 2> /dev/null && continue
        [ "$args" != "${args/append.txt/}" ] && ! chattr +a append.txt 2> /dev/null && continue
        cp "$SAMPLE" in.wav && echo old > out.txt && echo old > x.wav
        rc=0; eval "play -q $args" 2> stderr || rc=$?
        # Where standard error is a file the run reads or writes, the line is at that file's end.
        [ -s stderr ] || grep -a -o 'vrn3-play: .*' "$(grep -o '2>> [^ ]*' <<< "$args" | cut -c5-)" > stderr || true
        [ "$rc" = "$code" ] && [ "$(head -1 stderr)" = "vrn3-play: $said" ] || fail "exit $rc for $args: $(cat stderr)"
        cmp -s -n "$(stat -c %s "$SAMPLE")" in.wav "$SAMPLE" && [ "$(head -1 x.wav)" = old ] && [ "$(head -1 out.txt)" = old ] &&
            [ -z "$(ls -A | grep '^\.vrn3-')" ] || fail "$args wrote a file"
        chattr -a append.txt 2> /dev/null || true
    done <<ROWS
2|standard output is the input file; send it elsewhere|in.wav -o x.wav >> in.wav
2|--trace: standard error is the input file; send it elsewhere|in.wav -o x.wav --trace 2>> in.wav
2|-o x.wav: is the file standard error goes to; write elsewhere|in.wav -o x.wav 2>> x.wav
4|loop: cannot write: Too many levels of symbolic links|in.wav -o loop
4|$long: cannot write: File name too long|in.wav -o $long
4|nodev: cannot write: No such device or address|in.wav -o nodev
4|append.txt: cannot write: Operation not permitted|in.wav -o append.txt
4|standard output: a file written from its middle or appended to, which this output would empty first; name the file instead|in.wav -o x.wav --capture - >> out.txt
4|standard output: a file written from its middle or appended to, which this output would empty first; name the file instead|in.wav -o x.wav --capture - >&5
ROWS
    # As root without the privilege to override permissions or to give files away: a
    # write-protected target is refused, and another user's file is replaced by one of this
    # user's with its mode.
    command -v setpriv > /dev/null && [ "$(id -u)" = 0 ] || exit 0
    unprivileged() { setpriv --bounding-set -dac_override,-dac_read_search,-fowner,-chown -- "$PLAY" -q in.wav "$@"; }
    chmod 444 x.wav
    rc=0; unprivileged -o x.wav 2> stderr || rc=$?
    [ "$rc" = 4 ] && [ "$(cat stderr)" = "vrn3-play: x.wav: write-protected; not replaced (make it writable to replace it)" ] &&
        [ "$(cat x.wav)" = old ] || fail "a write-protected target: exit $rc, $(cat stderr)"
    rm -f x.wav && echo old > x.wav && chmod 666 x.wav && chown nobody x.wav
    unprivileged -o x.wav && play -q in.wav -o whole.wav || fail "another user's target: exit $?"
    [ "$(stat -c '%U %a' x.wav)" = "root 666" ] && cmp -s x.wav whole.wav || fail "another user's target: $(stat -c '%U %a' x.wav)"
    ;;
ignored)
    # A signal ignored by whoever started the program stays ignored: the run goes on to the end.
    trap '' INT TERM HUP
    held
    kill -s INT "$pid" && kill -s TERM "$pid" && kill -s HUP "$pid"
    finish
    [ "$rc" = 0 ] && cmp -s x.wav <(play -q "$SAMPLE" -o -) || fail "exit $rc with ignored signals: $(cat stderr)"
    ;;
changed)
    play -q in.wav -o whole.wav
    # what the target became | the exit code | the line that says so | the outputs besides -o x.wav
    while IFS='|' read -r change code said outputs; do
        held $outputs
        eval "$change"
        finish
        [ "$rc" = "$code" ] && [ "$(head -1 stderr)" = "${said:+vrn3-play: $said}" ] || fail "$change: exit $rc, $(cat stderr)"
        [ -z "$(ls -A | grep '^\.vrn3-')" ] && [ ! -s out.txt ] || fail "$change: left $(ls -A)"
        [ "$code" != 0 ] || cmp -s x.wav whole.wav || fail "$change: the output is not whole"
    done <<ROWS
ln -f out.txt x.wav|4|-o x.wav: is now the file a standard stream goes to; nothing replaced
ln -f fifo x.wav|4|-o x.wav: is now the input file; nothing replaced
echo > d.txt && ln -f d.txt x.wav|4|-o x.wav and --digests d.txt: now one file; nothing replaced|--digests d.txt
rm x.wav|0||
ROWS
    ;;
esac
