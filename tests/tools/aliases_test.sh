#!/usr/bin/env bash
# Every way of naming a file a run reads or writes, crossed with every output option of vrn3-play
# and vrn3-replay: each run either refuses with every file as it was, or ends 0 with every input
# as it was and every output whole (the WAV, digests and trace equal to a plain run's, the capture
# replaying identically). One ctest test per case:
#   aliases_test.sh CASE PLAY REPLAY PLUGIN SAMPLE
#   names         the table, as the user running it (root under ctest)
#   unprivileged  the table again as nobody, plus write-protected and sticky-folder targets
#   bind          the table's targets named through a bind mount (root, private mount namespace)
#   race          the target's folder swapped while a FIFO input holds the play
# The table prints its counts (runs, refused, whole). Programs start through $VRN3_I386_EMULATOR
# where the build runs i386 programs in one. Every file a run may touch is one this script made.
set -euo pipefail

CASE=$1 PLAY="$(readlink -f "$2")" REPLAY="$(readlink -f "$3")" PLUGIN="$(readlink -f "$4")" SAMPLE="$(readlink -f "$5")"
SELF="$(readlink -f "$0")"
W="$(mktemp -d)"
# Only this shell cleans up, never a child forked from it; the bind case's mount goes first.
trap '[ "$BASHPID" != $$ ] || { [ "$CASE" != bind-run ] || umount "$W/b"; rm -rf "$W"; }' EXIT
R="$W/ref" T="$W/t" # the plain run's outputs; the folder each run works in
mkdir "$R"

fail() { echo "FAIL ($CASE): $*" >&2; exit 1; }
skip() { echo "SKIPPED ($CASE): $*"; exit 0; }
emu() { ${VRN3_I386_EMULATOR:+"$VRN3_I386_EMULATOR"} "$@"; }
# Every file of the run's folder by content and inode: a file replaced by an equal one has changed.
sums() { (cd "$T" && find . -type f -exec md5sum {} + | sort -k2 && find . -type f -printf '%p %i\n' | sort); }
kept() { (cd "$T" && md5sum "$@" && stat -c '%n %i' "$@"); }
# spell OPTION NAME: the option with its value as the command line gives it.
spell() { if [ "$1" = --trace= ]; then echo "--trace=$2"; else echo "$1 $2"; fi; }
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }

# The plain run's outputs, and a capture and a plug-in copy for the runs.
emu "$PLAY" -q "$SAMPLE" -o "$R/wav" --capture "$R/capture" --digests "$R/digests" --trace="$R/trace" --plugin "$PLUGIN"
emu "$REPLAY" --plugin "$PLUGIN" --digests "$R/rdigests" "$R/capture" > /dev/null
# whole TYPE FILE: FILE is a whole output of its type.
whole() {
    case $1 in
    capture) emu "$REPLAY" --plugin "$PLUGIN" "$2" > /dev/null 2>&1 ;;
    *) cmp -s "$R/$1" "$2" ;;
    esac
}

# fresh: the run's folder: the input x.wav, the capture c.pcapng, the plug-in p.so, another
# output's old file w.out, an empty file z, and a folder sub/.
fresh() {
    mkdir -p "$T" && find "$T" -mindepth 1 -delete && mkdir "$T/sub"
    cp "$SAMPLE" "$T/x.wav" && cp "$R/capture" "$T/c.pcapng" && cp "$PLUGIN" "$T/p.so"
    echo old > "$T/w.out" && : > "$T/z"
}

# alias WAY FILE: how the run names FILE; sets NAME (the name given), REDIRECT (a redirection of
# the program's standard streams), CHECK (where its output is looked for) and prepares links.
alias_of() {
    local way=$1 file=$2
    NAME=$file REDIRECT="" CHECK=$file
    case $way in
    name) ;;
    dot) NAME=./$file ;;
    dotdot) NAME=sub/../$file ;;
    slashes) NAME=.//$file ;;
    symlink) ln -s "$file" "$T/l1"; NAME=l1 ;;
    chain) ln -s "$file" "$T/l1" && ln -s ../l1 "$T/sub/l2"; NAME=sub/l2 ;;
    hardlink) ln "$T/$file" "$T/h"; NAME=h CHECK=h ;;
    devfd) NAME=/dev/fd/7 REDIRECT="7< $file" ;;
    procfd) NAME=/proc/self/fd/7 REDIRECT="7< $file" ;;
    own) NAME=/proc/self/fd/$([ "$file" = p.so ] && echo 4 || echo 3) ;; # the program's own descriptor
    append) NAME=- REDIRECT=">> $file" ;;
    readwrite) NAME=- REDIRECT="1<> $file" ;;
    bind) NAME=../b/$file ;;
    esac
}

RUNS=0 REFUSED=0 WHOLE=0 BAD=0
# bad WHY: a run that broke the rule fails the test; with VRN3_KEEP_GOING=1 (to survey a build) it
# is counted and the table goes on.
bad() {
    [ -n "${VRN3_KEEP_GOING:-}" ] || fail "$*"
    echo "BAD: $*" >&2
    BAD=$((BAD + 1))
}
# check PROGRAM ARGS INPUTS OUTPUTS: runs the program in $T with $REDIRECT; INPUTS are the files it
# reads, OUTPUTS TYPE:FILE pairs.
check() {
    local program=$1 args=$2 inputs=$3 outputs=$4 before kept rc=0 output
    before="$(sums)" kept="$(kept $inputs)"
    (cd "$T" && eval "emu \"\$program\" $args $REDIRECT") > /dev/null 2> "$W/err.log" || rc=$?
    RUNS=$((RUNS + 1))
    if [ "$rc" != 0 ]; then
        if [ "$rc" != 2 ] && [ "$rc" != 4 ]; then
            bad "exit $rc for $args $REDIRECT: $(cat "$W/err.log")"
        elif [ "$(sums)" != "$before" ]; then
            bad "refused ($rc), yet a file changed: $args $REDIRECT"
        else
            REFUSED=$((REFUSED + 1))
        fi
        return
    fi
    [ "$(kept $inputs)" = "$kept" ] || { bad "exit 0, and an input changed: $args $REDIRECT"; return; }
    for output in $outputs; do
        whole "${output%%:*}" "$T/${output#*:}" || { bad "exit 0, and $output is not whole: $args $REDIRECT"; return; }
    done
    WHOLE=$((WHOLE + 1))
}

# table WAYS...: every target named each way, crossed with every output option of both programs.
table() {
    local way target option kind plain other
    for way in "$@"; do
        for target in x.wav p.so w.out z c.pcapng; do
            [ "$way" = own ] && [ "$target" != x.wav ] && [ "$target" != p.so ] && continue
            for option in -o --capture --digests --trace=; do
                [ "$target" != c.pcapng ] || continue # vrn3-play reads no capture
                fresh && alias_of "$way" "$target"
                [ "$option" != --trace= ] || [ "$NAME" != - ] || NAME=/dev/stdout # --trace=- is standard error
                case $option in -o) kind=wav ;; --capture) kind=capture ;; --digests) kind=digests ;; *) kind=trace ;; esac
                plain="-o w.out" other=wav
                [ "$option" != -o ] || plain="--digests w.out" other=digests
                check "$PLAY" "-q x.wav --plugin ./p.so $plain $(spell $option "$NAME")" "x.wav p.so" "$kind:$CHECK $other:w.out"
            done
            # vrn3-replay: one output; standard output onto a file it does not read and that holds
            # something is not a whole output of its own.
            [ "$target" != w.out ] || continue
            fresh && alias_of "$way" "$target"
            [ "$target" != x.wav ] || [ "$NAME" != - ] || continue
            check "$REPLAY" "--plugin ./p.so --digests $NAME c.pcapng" "c.pcapng p.so" "rdigests:$CHECK"
        done
    done
    echo "aliases ($CASE, $(id -un)): $RUNS runs, $REFUSED refused, $WHOLE whole$([ "$BAD" = 0 ] || echo ", $BAD BAD")"
    [ $((REFUSED + WHOLE + BAD)) = "$RUNS" ] && [ "$REFUSED" -gt 0 ] && [ "$WHOLE" -gt 0 ] || fail "the counts"
}

# targets: a write-protected file of the user's own, and another user's file in a sticky folder
# (where the caller made one): refused, with every file as it was.
targets() {
    local target option plain before rc
    [ -e "$STICKY/shared.wav" ] || echo "aliases ($CASE): no other user's file in a sticky folder; that target is skipped"
    for target in "$T/prot.wav" "$STICKY/shared.wav"; do
        [ "$target" = "$T/prot.wav" ] || [ -e "$target" ] || continue
        for option in -o --capture --digests --trace=; do
            fresh && cp "$SAMPLE" "$T/prot.wav" && chmod 444 "$T/prot.wav"
            plain="-o w.out" && [ "$option" != -o ] || plain="--digests w.out"
            before="$(sums; md5sum < "$target")" rc=0
            (cd "$T" && emu "$PLAY" -q x.wav $plain $(spell $option "$target")) > /dev/null 2> "$W/err.log" || rc=$?
            RUNS=$((RUNS + 1))
            if [ "$rc" = 4 ] && [ "$(sums; md5sum < "$target")" = "$before" ]; then
                REFUSED=$((REFUSED + 1))
            else
                bad "$target by $option: exit $rc, $(cat "$W/err.log")"
            fi
        done
    done
}

# The program's own descriptors are known only where no emulator opens descriptors of its own.
WAYS=(name dot dotdot slashes symlink chain hardlink devfd procfd append readwrite)
[ -n "${VRN3_I386_EMULATOR:-}" ] || WAYS+=(own)

# until_reading PID: waits until the program, its FIFO input opened, waits to read it: its plan is
# made then.
until_reading() {
    until grep -q pipe_read "/proc/$1/wchan" 2> /dev/null; do
        kill -0 "$1" 2> /dev/null || fail "the program ended before it read its input"
        sleep 0.01
    done
}

case "$CASE" in
names)
    table "${WAYS[@]}" ;;
unprivileged)
    if [ "$(id -u)" = 0 ]; then
        command -v setpriv > /dev/null || skip "setpriv is missing: no way to run as nobody"
        # Another user's 0666 file in a sticky folder, made here as root for the run as nobody.
        STICKY="$W/shared" && mkdir -m 1777 "$STICKY" && cp "$SAMPLE" "$STICKY/shared.wav" && chmod 666 "$STICKY/shared.wav"
        chmod 755 "$W"
        as_nobody env STICKY="$STICKY" HOME=/ bash "$SELF" unprivileged-run "$PLAY" "$REPLAY" "$PLUGIN" "$SAMPLE" ||
            fail "the run as nobody"
        [ "$(md5sum < "$STICKY/shared.wav")" = "$(md5sum < "$SAMPLE")" ] || fail "the sticky folder's file changed"
    else
        STICKY=/nonexistent bash "$SELF" unprivileged-run "$PLAY" "$REPLAY" "$PLUGIN" "$SAMPLE"
    fi ;;
unprivileged-run)
    [ "$(id -u)" != 0 ] || fail "running as root"
    targets
    table "${WAYS[@]}" ;;
bind)
    [ "$(id -u)" = 0 ] || skip "not root: no bind mount"
    unshare -m --propagation private true 2> /dev/null || skip "no private mount namespace here"
    exec unshare -m --propagation private bash "$SELF" bind-run "$PLAY" "$REPLAY" "$PLUGIN" "$SAMPLE" ;;
bind-run)
    # In this namespace only: the run's folder is also $W/b.
    mkdir "$W/b" && fresh && mount --bind "$T" "$W/b"
    table bind ;;
race)
    # The output's folder swapped while the play waits for its input: the output lands in the folder
    # the run planned with, or the run fails; the file the swapped name now reaches stays.
    for swap in "rmdir sub && ln -s . sub" "mv sub sub.old && ln -s . sub"; do
        for program in play replay; do
            fresh && mkfifo "$T/in.fifo" && cp "$SAMPLE" "$T/sub.wav" && cp "$R/capture" "$T/sub.pcapng"
            if [ $program = play ]; then
                (cd "$T" && exec ${VRN3_I386_EMULATOR:+"$VRN3_I386_EMULATOR"} "$PLAY" -q in.fifo -o sub/x.wav) 2> "$W/err.log" &
                feed=x.wav keep=x.wav kind=wav
            else
                (cd "$T" && exec ${VRN3_I386_EMULATOR:+"$VRN3_I386_EMULATOR"} "$REPLAY" --plugin ./p.so --digests sub/c.pcapng in.fifo) \
                    > /dev/null 2> "$W/err.log" &
                feed=c.pcapng keep=c.pcapng kind=rdigests
            fi
            pid=$!
            exec 3> "$T/in.fifo" && until_reading "$pid"
            before="$(kept "$keep")"
            (cd "$T" && eval "$swap")
            cat "$T/$feed" >&3 && exec 3>&-
            rc=0 && wait "$pid" || rc=$?
            [ "$(kept "$keep")" = "$before" ] || fail "$program, $swap: $keep was replaced"
            if [ "$rc" = 0 ]; then
                [ -d "$T/sub.old" ] && whole $kind "$T/sub.old/$keep" || fail "$program, $swap: exit 0, no whole output"
            else
                [ "$rc" = 4 ] || fail "$program, $swap: exit $rc, $(cat "$W/err.log")"
            fi
            echo "race ($program, $swap): exit $rc, $keep as it was"
        done
    done
    # A target changed while the play waits: made a folder, or made one file with the other target
    # (a hard link). The run fails (4), and no target is replaced.
    for change in "rm o.wav && mkdir o.wav" "ln -f o.wav d.txt"; do
        fresh && mkfifo "$T/in.fifo" && echo old > "$T/o.wav" && echo old > "$T/d.txt"
        (cd "$T" && exec ${VRN3_I386_EMULATOR:+"$VRN3_I386_EMULATOR"} "$PLAY" -q in.fifo -o o.wav --digests d.txt) 2> "$W/err.log" &
        pid=$!
        exec 3> "$T/in.fifo" && until_reading "$pid"
        (cd "$T" && eval "$change")
        cat "$SAMPLE" >&3 && exec 3>&-
        rc=0 && wait "$pid" || rc=$?
        [ "$rc" = 4 ] && [ "$(cat "$T/d.txt")" = old ] && ! ls -A "$T" | grep -q '^\.vrn3-' ||
            fail "$change during the play: exit $rc, $(ls -A "$T"), $(cat "$W/err.log")"
        echo "race ($change): exit $rc, every target as it was"
    done ;;
*) fail "no case $CASE" ;;
esac
[ -c /dev/null ] && [ -c /dev/full ] && [ -c /dev/zero ] || fail "a device was replaced"
