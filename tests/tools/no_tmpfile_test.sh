#!/usr/bin/env bash
# vrn3-play where no unnamed file (O_TMPFILE) can be made, one case per ctest test:
#   no_tmpfile_test.sh CASE PLAY SAMPLE FAILING_IO_LIB REFUSING_LIB
#   refused   the file system refuses them (a preloaded library makes every such open fail the way
#             such a file system does)
#   noproc    /proc is not mounted (root, private mount namespace), so that no unnamed file could
#             be named; the default plug-in is still the one beside the program, never one
#             reached from the current folder
# The outputs are then hidden named files beside their targets: they still take their targets'
# places whole and only at the end, keep a replaced file's mode, and never stay behind, whether
# the run succeeds or fails. Everything is written in the test's own temporary folder.
set -euo pipefail

CASE=$1 PLAY="$(readlink -f "$2")" SAMPLE="$(readlink -f "$3")" FAILING_IO="$(readlink -f "$4")" REFUSING="$(readlink -f "$5")"
W="$(mktemp -d)"
trap 'rm -rf "$W"' EXIT
fail() { echo "FAIL ($CASE): $*" >&2; exit 1; }
skip() { echo "SKIPPED ($CASE): $*"; exit 0; }
mkdir "$W/out" "$W/spool"
OUTPUTS=(-o "$W/out/x.wav" --digests "$W/out/d.txt" --capture "$W/out/c.pcapng" --trace="$W/out/t.txt")
# run ERRNO [VAR=VALUE...] -- ARGS...: vrn3-play, with unnamed files refused with ERRNO unless empty.
run() {
    local error=$1; shift
    local settings=()
    while [ "$1" != -- ]; do settings+=("$1"); shift; done; shift
    env TMPDIR="$W/spool" ${error:+VRN3_NO_TMPFILE="$error"} "${settings[@]}" LD_PRELOAD="$FAILING_IO" \
        ${VRN3_I386_EMULATOR:+"$VRN3_I386_EMULATOR"} "$PLAY" -q "$@"
}
# no_leftovers WHAT: nothing in the output folder but the targets, and the spool folder empty.
no_leftovers() {
    [ "$(ls -A "$W/out" | tr '\n' ' ')" = "c.pcapng d.txt t.txt x.wav " ] && [ -z "$(ls -A "$W/spool")" ] ||
        fail "$1 left: $(ls -A "$W/out" "$W/spool")"
}
old_targets() { for name in x.wav d.txt c.pcapng t.txt; do echo old > "$W/out/$name" && chmod "$1" "$W/out/$name"; done; }

# writes ERRNO ARGS...: new targets, then the same targets replaced: whole, in place, with the
# mode they had.
writes() {
    local error=$1; shift
    rm -f "$W/out/"*
    run "$error" -- "$SAMPLE" "${OUTPUTS[@]}" "$@" || fail "errno $error, new targets: exit $?"
    no_leftovers "errno $error, new targets"
    [ "$(stat -c %a "$W/out/x.wav")" = 644 ] || fail "errno $error: a new file's mode is $(stat -c %a "$W/out/x.wav")"
    old_targets 640
    run "$error" -- "$SAMPLE" "${OUTPUTS[@]}" "$@" || fail "errno $error, old targets: exit $?"
    no_leftovers "errno $error, old targets"
    cmp -s "$W/out/x.wav" "$W/x.wav" && cmp -s "$W/out/d.txt" "$W/d.txt" && [ -s "$W/out/t.txt" ] &&
        [ "$(head -c 4 "$W/out/c.pcapng" | od -An -tx1 | tr -d ' ')" = 0a0d0d0a ] || fail "errno $error: an output is not whole"
    [ "$(stat -c %a "$W/out/"* | sort -u)" = 640 ] || fail "errno $error: a replaced file's mode is lost"
}

# fails ERRNO ARGS...: a run that fails, before, during or after the play or while the targets are
# replaced, leaves every old target as it was, and where there was none, none.
fails() {
    local error=$1 code settings args rc; shift
    while IFS='|' read -r code settings args; do
        for old in yes no; do
            rm -f "$W/out/"* && [ "$old" = no ] || old_targets 644
            rc=0; eval "run \"$error\" $settings -- $args \"\$@\"" 2> "$W/stderr" || rc=$?
            [ "$rc" = "$code" ] || fail "errno $error, $settings $args: exit $rc, not $code: $(cat "$W/stderr")"
            if [ "$old" = yes ]; then
                no_leftovers "errno $error, $settings $args"
                [ "$(cat "$W/out/"* | sort -u)" = old ] || fail "errno $error, $settings $args: an old target was replaced"
            else
                [ -z "$(ls -A "$W/out" "$W/spool" | grep -v :)" ] || fail "errno $error, $settings $args: left $(ls -A "$W/out")"
            fi
        done
    done <<ROWS
5||"$SAMPLE" --plugin "$W/nothing.so" "\${OUTPUTS[@]}"
6||"$SAMPLE" --stream 2 "\${OUTPUTS[@]}"
4|VRN3_FAIL=fsync:1:5|"$SAMPLE" "\${OUTPUTS[@]}"
4|VRN3_FAIL=fsync:3:5|"$SAMPLE" "\${OUTPUTS[@]}"
4|VRN3_FAIL=renameat:1:5|"$SAMPLE" "\${OUTPUTS[@]}"
4|VRN3_FAIL=renameat:3:5|"$SAMPLE" "\${OUTPUTS[@]}" --json
ROWS
}

umask 022
env TMPDIR="$W/spool" ${VRN3_I386_EMULATOR:+"$VRN3_I386_EMULATOR"} "$PLAY" -q "$SAMPLE" -o "$W/x.wav" \
    --digests "$W/d.txt" || fail "the run to compare with"
case $CASE in
refused)
    # EOPNOTSUPP as most such file systems say, EISDIR as older kernels do.
    for error in 95 21; do
        writes "$error"
        fails "$error"
    done
    # The hidden name for a new file (the second openat, after the unnamed one refused) or for
    # keeping the old one cannot be made.
    rm -f "$W/out/"*
    rc=0; run 95 VRN3_FAIL=openat:2:13 -- "$SAMPLE" "${OUTPUTS[@]}" 2> "$W/stderr" || rc=$?
    [ "$rc" = 4 ] && grep -q "x.wav: cannot write: Permission denied" "$W/stderr" && [ -z "$(ls -A "$W/out" "$W/spool" | grep -v :)" ] ||
        fail "a failed openat: exit $rc, $(cat "$W/stderr"; ls -A "$W/out")"
    old_targets 644
    rc=0; run 95 VRN3_FAIL=linkat:1:5 -- "$SAMPLE" "${OUTPUTS[@]}" 2> "$W/stderr" || rc=$?
    [ "$rc" = 4 ] && [ "$(cat "$W/out/"* | sort -u)" = old ] || fail "a failed linkat: exit $rc, $(cat "$W/stderr")"
    no_leftovers "a failed linkat"
    # An output that cannot be finished fails the run before its report: no summary of a good run.
    rc=0; run 95 VRN3_FAIL=fsync:2:28 -- "$SAMPLE" "${OUTPUTS[@]}" --json > "$W/stdout" 2> "$W/stderr" || rc=$?
    [ "$rc" = 4 ] && [ ! -s "$W/stdout" ] || fail "a failed fsync: exit $rc, printed $(cat "$W/stdout")"
    # A refusal that does not say the file system lacks unnamed files is a failure to write.
    old_targets 644
    rc=0; run 28 -- "$SAMPLE" "${OUTPUTS[@]}" 2> "$W/stderr" || rc=$?
    [ "$rc" = 4 ] && grep -q "cannot write: No space left on device" "$W/stderr" || fail "ENOSPC: exit $rc, $(cat "$W/stderr")"
    no_leftovers "ENOSPC"
    [ "$(cat "$W/out/"* | sort -u)" = old ] || fail "ENOSPC: an old target was replaced"
    ;;
noproc)
    [ "$(id -u)" = 0 ] || skip "not root: no private mount namespace"
    [ -z "${VRN3_I386_EMULATOR:-}" ] || skip "the emulator itself reads /proc"
    unshare -m --propagation private true 2> /dev/null || skip "no private mount namespace here"
    exec unshare -m --propagation private bash "$0" noproc-run "$PLAY" "$SAMPLE" "$FAILING_IO" "$REFUSING"
    ;;
noproc-run)
    # A refusing plug-in where the default plug-in would be if it were taken relative to the
    # current folder, not to the program's.
    installed="$("$PLAY" --help | grep -o '\.\./lib/[^ ,]*')"
    mkdir -p "$W/run" "$(dirname "$W/run/$installed")" && cp "$REFUSING" "$W/run/$installed"
    mount -t tmpfs none /proc # in this namespace only
    cd "$W/run"
    writes ""
    fails ""
    ;;
esac
