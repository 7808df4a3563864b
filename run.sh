#!/usr/bin/env bash
# The main job: sets up this machine (scripts/setup.sh), builds vrn3-play and the plug-in in
# build/release (the "release" preset of CMakePresets.json, which ./test.sh uses too), plays a WAV through the
# plug-in, and tells where the extracted WAV is. With no arguments it plays the sample that ships
# in samples/ into build/release; any arguments go to vrn3-play as they are.
#   ./run.sh [vrn3-play arguments...]   e.g. ./run.sh, ./run.sh my.wav,
#                                       ./run.sh samples/sample.wav --reverse --trace -o x.wav
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
BUILD="$ROOT/build/release"
OUT="$BUILD/sample.extracted.wav"

bash "$ROOT/scripts/setup.sh"

echo "run: configuring build/release"
mkdir -p "$ROOT/build"
# A build folder copied or moved from another checkout keeps that checkout's paths in its
# cache, which CMake refuses: start that folder afresh.
cache="$BUILD/CMakeCache.txt"
if [ -f "$cache" ] && ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$ROOT" "$cache"; then
    echo "run: build/release was configured for $(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$cache"); configuring it afresh"
    rm -rf "$cache" "$BUILD/CMakeFiles"
fi
(cd "$ROOT" && cmake --preset release) > "$BUILD.configure.log" 2>&1 \
    || { cat "$BUILD.configure.log" >&2; exit 1; }
echo "run: building vrn3-play and the plug-in"
cmake --build "$BUILD" -j "$(nproc 2>/dev/null || echo 2)" --target vrn3-play > "$BUILD.build.log" 2>&1 \
    || { tail -n 40 "$BUILD.build.log" >&2; exit 1; }

# No arguments: the sample, into the build folder. Any arguments go to vrn3-play as they are.
output=""
args=("$@")
if [ $# -eq 0 ]; then
    output=$OUT
    args=("$ROOT/samples/sample.wav" -o "$OUT")
fi

EMULATOR="$(bash "$ROOT/scripts/i386-emulator.sh" "$BUILD")"
echo "run: playing ${args[0]} through the plug-in${EMULATOR:+ (under $EMULATOR: this machine runs no i386 program natively)}"
${EMULATOR:+"$EMULATOR"} "$BUILD/tools/vrn3-play/vrn3-play" "${args[@]}"
if [ -n "$output" ]; then
    echo
    echo "run: the extracted WAV is $output"
    sox --i "$output" | grep -E "Sample Rate|Sample Encoding" || true
    # sox counts every sample the blocks decode to; the fact chunk (vrn3-play's count) says how
    # many of them are sound, the rest being the padding of the last block.
    blocks=$(sox --i -s "$output" 2> /dev/null || echo "?")
    fact=$(od -An -tu4 -j48 -N4 "$output" | tr -d ' ')
    echo "Samples        : $fact of sound ($blocks decoded from the blocks, the last block padded)"
fi
