#!/usr/bin/env bash
# The main job: sets up this machine (scripts/setup.sh), builds vrn3-play and the plug-in in
# build/release (the "release" preset of CMakePresets.json, which ./test.sh uses too), plays
# the sample that ships in samples/ through the plug-in, and tells where the extracted WAV is.
#   ./run.sh [vrn3-play options...]   e.g. ./run.sh --reverse --trace
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
BUILD="$ROOT/build/release"
OUT="$BUILD/sample.extracted.wav"

bash "$ROOT/scripts/setup.sh"

echo "run: configuring build/release"
mkdir -p "$ROOT/build"
(cd "$ROOT" && cmake --preset release) > "$BUILD.configure.log" 2>&1 \
    || { cat "$BUILD.configure.log" >&2; exit 1; }
echo "run: building vrn3-play and the plug-in"
cmake --build "$BUILD" -j "$(nproc 2>/dev/null || echo 2)" --target vrn3-play > "$BUILD.build.log" 2>&1 \
    || { tail -n 40 "$BUILD.build.log" >&2; exit 1; }

echo "run: playing samples/sample.wav through the plug-in"
"$BUILD/tools/vrn3-play/vrn3-play" "$ROOT/samples/sample.wav" -o "$OUT" "$@"
echo
echo "run: the extracted WAV is $OUT"
sox --i "$OUT" | grep -E "Sample Rate|Duration|Sample Encoding" || true
