#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ for i386 (or, with --amd64, for amd64) with clang-14, ASan
# and UBSan:
#   fuzz/build.sh [--amd64] [build-dir]          (default build/fuzz, build/fuzz-64 for amd64)
# The project's CMake build uses g++, which has no libFuzzer, so the targets are built here:
# the host and capture libraries and the brick sources are compiled once with coverage hooks
# and linked statically into each target, Qt 5 Core comes from the i386 sysroot of
# scripts/setup.sh (for amd64, from the machine's own qtbase5-dev).
# Assertions stay on. Alignment checks are off: the stream's packed records hold std::string
# members at unaligned offsets, which x86 reads fine. The vptr check is off too: a typed view
# reads any block's node through its own node class (a notification is read as TNotifyBase
# whatever record its sender built), which is how blocks are meant to be viewed.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
AMD64=0
[ "${1:-}" != --amd64 ] || { AMD64=1; shift; }
CXX="${CXX_FUZZ:-clang++-14}"
if [ "$AMD64" = 1 ]; then
    OUT="${1:-$ROOT/build/fuzz-64}"
    QTINC=/usr/include/x86_64-linux-gnu/qt5
    ARCH=()
    LINK=(-lQt5Core -lpthread -Wl,--disable-new-dtags)
else
    OUT="${1:-$ROOT/build/fuzz}"
    SYSROOT="$ROOT/build/deps/sysroot"
    QTINC="$SYSROOT/usr/include/i386-linux-gnu/qt5"
    LIBDIRS="$SYSROOT/usr/lib/i386-linux-gnu:$SYSROOT/lib/i386-linux-gnu"
    ARCH=(-m32)
    LINK=(-L"$SYSROOT/usr/lib/i386-linux-gnu" -lQt5Core -lpthread -Wl,--disable-new-dtags
          -Wl,-rpath,"$SYSROOT/usr/lib/i386-linux-gnu" -Wl,-rpath,"$SYSROOT/lib/i386-linux-gnu"
          -Wl,-rpath-link,"$LIBDIRS")
fi

[ -f "$QTINC/QtCore/QList" ] || bash "$ROOT/scripts/setup.sh"

FLAGS=("${ARCH[@]}" -D_GLIBCXX_USE_CXX11_ABI=0 -std=c++17 -g -O1 -fPIC -fno-omit-frame-pointer
       -fsanitize=address,undefined -fno-sanitize=alignment,vptr -fno-sanitize-recover=all
       -Wall -Wextra -Werror -I"$ROOT" -I"$ROOT/tests" -isystem "$QTINC" -isystem "$QTINC/QtCore")
SOURCES=(host/CBrick.cpp host/CCriticalSection.cpp host/CPipeline.cpp host/cMemBlock.cpp
         host/CBrickTap.cpp host/CBrickMonitorPrivate.cpp host/CBlockWatch.cpp host/CLockWatch.cpp
         host/MonitorRules.cpp capture/CBlockWire.cpp capture/CCaptureRecorder.cpp
         capture/CCaptureReader.cpp capture/CWireBlock.cpp
         stream/CVRN3Stream.cpp sound/CVrn3StreamSound.cpp sound/VRN3SoundStream.cpp)

mkdir -p "$OUT/obj"
# Objects built with other flags or another compiler are rebuilt.
stamp="$CXX ${FLAGS[*]}"
if [ "$(cat "$OUT/obj/flags" 2>/dev/null)" != "$stamp" ]; then
    rm -f "$OUT"/obj/*.o
    printf '%s' "$stamp" > "$OUT/obj/flags"
fi
objects=()
pids=()
for src in "${SOURCES[@]}"; do
    obj="$OUT/obj/$(echo "$src" | tr / _).o"
    objects+=("$obj")
    if [ ! -f "$obj" ] || [ "$ROOT/$src" -nt "$obj" ] || [ -n "$(find "$ROOT/blocks" "$ROOT/records" "$ROOT/host" "$ROOT/capture" "$ROOT/stream" "$ROOT/sound" -name '*.h' -newer "$obj" | head -n 1)" ]; then
        echo "fuzz: compiling $src"
        "$CXX" "${FLAGS[@]}" -fsanitize=fuzzer-no-link -c "$ROOT/$src" -o "$obj" &
        pids+=($!)
    fi
done
for pid in "${pids[@]}"; do
    wait "$pid"
done

for target in fuzz_brick fuzz_params fuzz_capture; do
    echo "fuzz: linking $target"
    "$CXX" "${FLAGS[@]}" -fsanitize=fuzzer "$ROOT/fuzz/$target.cpp" "${objects[@]}" "${LINK[@]}" -o "$OUT/$target"
done
echo "fuzz: targets in $OUT"
