#!/usr/bin/env bash
# Loads each build's plug-in into the other build's host, both ways:
#   scripts/flavour-check.sh <build> <other build>      e.g. build/release build/release-qt4
# The builds must differ in their Qt flavour or their machine. Each build's vrn3-play, given the
# other build's plug-in, must refuse it (exit 5) with a message naming both sides, and the dynamic
# loader must never have opened the plug-in's file: LD_DEBUG=files lists every file it opens, so
# none of the plug-in's code (nor a second Qt Core) came into the process. The same run with the
# build's own plug-in shows that listing does name the plug-in when it is loaded.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ $# -eq 2 ] || { echo "usage: $0 <build> <other build>" >&2; exit 2; }
A="$(cd "$1" && pwd)" B="$(cd "$2" && pwd)"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
say() { echo "flavour-check: $*"; }
die() { say "FAILED: $*"; exit 1; }

plugin_of() { echo "$1/sound/libVRN3SoundStream.so.1"; }
# What a plug-in is built for: its ELF class and machine, and the Qt Core it needs.
machine_of() { readelf -h "$1" | sed -n 's/^ *Class: *//p; s/^ *Machine: *//p' | tr '\n' ' '; }
qt_of() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(libQt[0-9]*Core\.so\.[0-9]*\)\]/\1/p'; }
built_for() { echo "$(machine_of "$1")$(qt_of "$1")"; }

# run <host build> <plug-in>: that build's vrn3-play on the sample with the plug-in, under
# LD_DEBUG=files; its exit status in $WORK/rc, its error output in $WORK/err.
run() {
    local emulator
    emulator="$(bash "$ROOT/scripts/i386-emulator.sh" "$1")"
    set +e
    (cd "$WORK" && LD_DEBUG=files ${emulator:+"$emulator"} "$1/tools/vrn3-play/vrn3-play" --plugin "$2" -q \
        -o "$WORK/out.wav" "$ROOT/samples/sample.wav" 2>"$WORK/err")
    echo $? >"$WORK/rc"
    set -e
}
opened() { grep -F "file=$1 " "$WORK/err" >/dev/null; }

for b in "$A" "$B"; do
    cmake --build "$b" -j 2 --target vrn3-play >/dev/null || die "$b does not build"
done
[ "$(built_for "$(plugin_of "$A")")" != "$(built_for "$(plugin_of "$B")")" ] ||
    die "both builds are built for $(built_for "$(plugin_of "$A")"): nothing to cross"

for pair in "$A $B" "$B $A"; do
    read -r host other <<<"$pair"
    own="$(plugin_of "$host")" foreign="$(plugin_of "$other")"
    run "$host" "$own"
    [ "$(cat "$WORK/rc")" = 0 ] && opened "$own" || die "${host#"$ROOT/"} does not play with its own plug-in"
    run "$host" "$foreign"
    message="$(grep '^vrn3-play:' "$WORK/err" || true)"
    say "${host#"$ROOT/"} ($(built_for "$own")) given ${foreign#"$ROOT/"} ($(built_for "$foreign")):"
    say "    exit $(cat "$WORK/rc"): $message"
    [ "$(cat "$WORK/rc")" = 5 ] || die "exit $(cat "$WORK/rc"), not 5"
    grep -q 'not loaded: the plug-in is built' <<<"$message" || die "no refusal in the message"
    if [ "$(machine_of "$own")" = "$(machine_of "$foreign")" ]; then
        sides=("$(qt_of "$foreign")" "$(qt_of "$own")")   # the Qt Core of each side
    else
        sides=("built for" "this host for")                 # the machine of each side
    fi
    for side in "${sides[@]}"; do grep -qF "$side" <<<"$message" || die "the message does not name $side"; done
    ! opened "$foreign" || die "the loader opened $foreign"
    say "    the loader never opened it (LD_DEBUG=files)"
done
say "PASSED"
