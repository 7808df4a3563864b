#!/usr/bin/env bash
# Proves that an install is relocatable and serves a host author who has only the install:
#   scripts/example-check.sh [build dir]      (default build/release, configured by test.sh)
#  1. installs the build into a staging prefix, then MOVES the staged tree elsewhere;
#  2. builds each example of examples/ (minimal-host, reading-host) out of tree against the moved
#     tree twice: through its CMake package alone, and with g++ and pkg-config alone as
#     docs/integration.md writes it; runs each build and checks its output (the "SCfg", "SCDA" and
#     tags the plug-in sent; reading-host also the notifications and the request passed upstream);
#  3. runs the moved tree's bin/vrn3-play on samples/sample.wav: it must find its host library
#     through its $ORIGIN-relative path and load the moved plug-in;
#  4. checks that pkg-config gives the moved include folder and plug-in;
#  5. greps every installed file for the build folder and the original prefix: nothing may name
#     them; and checks that no ELF file of the build tree has an empty library path entry.
# i386 Qt Core is not installed on a build machine: the build's sysroot stands in for it (found by
# CMake through CMAKE_PREFIX_PATH, by pkg-config through PKG_CONFIG_LIBDIR, at run time through
# LD_LIBRARY_PATH, which holds nothing of the install). A Qt 4 build's examples are told where the
# host's Qt 4 Core is, as a host does: VRN3_QT4_DIR for CMake, the variable qt4dir for pkg-config.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build/release}" && pwd)"
cache() { sed -n "s/^$1:[A-Z]*=//p" "$BUILD/CMakeCache.txt"; }
SYSROOT="$(cache VRN3_SYSROOT)"
EMULATOR="$(bash "$ROOT/scripts/i386-emulator.sh" "$BUILD")"
run_i386() { ${EMULATOR:+"$EMULATOR"} "$@"; }
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
say() { echo "example-check: $*"; }
die() { say "FAILED: $*"; exit 1; }

QT_LIBS="$(bash "$ROOT/scripts/example-build.sh" --qt-libs "$BUILD" "$WORK/examples")"

# --- 1. install, then move ----------------------------------------------------------------
cmake --build "$BUILD" -j 2 --target vrn3host VRN3SoundStream vrn3-play >/dev/null
STAGE="$WORK/stage" MOVED="$WORK/moved/opt/vrn3"
cmake --install "$BUILD" --prefix "$STAGE" >/dev/null
mkdir -p "$(dirname "$MOVED")" && mv "$STAGE" "$MOVED"
say "installed into $STAGE, moved to $MOVED"

# --- 2. the examples, out of tree, against the moved install: CMake, then pkg-config --------
# expect <output> <line pattern>...: each pattern matches a line of the output.
expect() {
    local out="$1" p; shift
    for p in "$@"; do grep -qE "$p" "$out" || die "no line '$p' in the output of $(basename "$out" .out)"; done
}
PLUGIN_MOVED="$MOVED/lib/i386-linux-gnu/vrn3/plugins/libVRN3SoundStream.so.1"
for example in minimal-host reading-host; do
    for way in cmake pkg-config; do
        program="$(bash "$ROOT/scripts/example-build.sh" "$example" "$way" "$MOVED" "$BUILD" "$WORK/examples/$example-$way")" ||
            die "$example does not build with $way"
        say "$example built with $way against the moved install; its output:"
        LD_LIBRARY_PATH="$QT_LIBS" run_i386 "$program" | tee "$WORK/$example-$way.out" | sed 's/^/    /'
        loaded="$(sed -n 's/^loaded //p' "$WORK/$example-$way.out")"
        [ -n "$loaded" ] && [ "$(realpath "$loaded")" = "$PLUGIN_MOVED" ] || die "$example ($way) did not load the moved plug-in"
        expect "$WORK/$example-$way.out" \
            'SCfg: codec ima1, 8000 Hz, 2 bytes a sample' 'SCDA: time 3040, 16 payload bytes "one sound record"' \
            'Tag : TagS, time 3000' 'Tag : TagF, time 5970'
    done
done
expect "$WORK/reading-host-pkg-config.out" '^notify   TimR: archive 0 to 9000$' '^notify   Rdy : values 7 8 9, flag 1$' \
    '^notify   Evt : 1 event' '^ +stream 1: "an event of stream 1"$' '^control  Chun: time 6000'
! grep -q 'stream 2' "$WORK/reading-host-pkg-config.out" || die "reading-host saw an event of another stream"

# --- 3. the moved vrn3-play ---------------------------------------------------------------
say "the moved vrn3-play (RPATH $(readelf -d "$MOVED/bin/vrn3-play" | sed -n 's/.*path: \[\(.*\)\]/\1/p')):"
(cd "$WORK" && LD_LIBRARY_PATH="$QT_LIBS" run_i386 "$MOVED/bin/vrn3-play" -o "$WORK/sample.out.wav" "$ROOT/samples/sample.wav") |
    tee "$WORK/play.out" | sed 's/^/    /'
plugin="$(sed -n 's/^ *plug-in *//p' "$WORK/play.out")"
[ "$(realpath "$plugin")" = "$PLUGIN_MOVED" ] ||
    die "vrn3-play did not load the moved plug-in"
[ -s "$WORK/sample.out.wav" ] || die "vrn3-play wrote no sound"

# --- 4. pkg-config gives the moved tree -----------------------------------------------------
export PKG_CONFIG_PATH="$MOVED/lib/i386-linux-gnu/pkgconfig" PKG_CONFIG_LIBDIR="$SYSROOT/usr/lib/i386-linux-gnu/pkgconfig"
say "pkg-config --cflags --libs vrn3host: $(pkg-config --cflags --libs vrn3host)"
include="$(pkg-config --cflags-only-I vrn3host | awk '{print substr($1, 3)}')"
[ "$(realpath "$include")" = "$MOVED/include" ] || die "pkg-config does not give the moved include folder"
[ "$(realpath "$(pkg-config --variable=plugin vrn3host)")" = "$PLUGIN_MOVED" ] ||
    die "pkg-config does not give the moved plug-in"

# --- 5. nothing names the build or the original prefix; no empty library path entry -------
found="$(grep -rlF -e "$BUILD" -e "$STAGE" "$MOVED" || true)"
say "grep -rlF -e $BUILD -e $STAGE <moved install>: ${found:-nothing}"
empty=""
while IFS= read -r f; do
    path="$(readelf -d "$f" 2>/dev/null | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]/\2/p')"
    [ -n "$path" ] && grep -qE '(^|:)(:|$)' <<<"$path" && empty+=" ${f#"$BUILD/"}"
done < <(find "$BUILD" -path "$BUILD/CMakeFiles" -prune -o -type f \( -perm -u+x -o -name '*.so*' \) -print)
say "ELF files of the build tree with an empty library path entry:${empty:- none}"
[ -z "$found" ] || die "installed files name the build tree or the original prefix"
[ -z "$empty" ] || die "empty library path entries"
say "PASSED"
