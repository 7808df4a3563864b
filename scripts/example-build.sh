#!/usr/bin/env bash
# Builds one example of examples/ out of tree against an install, the way docs/integration.md tells
# a host author to, and prints the program's path:
#   scripts/example-build.sh <example> <cmake|pkg-config> <install prefix> <project build> <folder>
# e.g. scripts/example-build.sh reading-host pkg-config /opt/vrn3 build/release /tmp/rh
# <example> may instead be a C++ file of a host (a listing of the documents), built with pkg-config.
# The project build tells the Qt flavour and where its Qt is, standing in for the host's: Qt 5 from
# the build's i386 sysroot (CMAKE_PREFIX_PATH for CMake, PKG_CONFIG_LIBDIR for pkg-config); Qt 4
# from a folder made in <folder> of the build's Qt 4 headers and library (VRN3_QT4_DIR for CMake,
# the variable qt4dir for pkg-config). Running the program needs that Qt in LD_LIBRARY_PATH:
# `scripts/example-build.sh --qt-libs <project build> <folder>` prints it.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
say() { echo "example-build: $*" >&2; }

# qt <project build> <folder>: sets QT_LIBS, QT_CMAKE and QT_PC for the build's Qt, and
# ARCH_CMAKE, ARCH_CXX and TRIPLET for its flavour: the amd64 flavour builds hosts as the
# compiler does by default, on Debian's amd64 Qt 5 in the system's folders; the i386 one with -m32.
qt() {
    cache() { sed -n "s/^$1:[A-Z]*=//p" "$2/CMakeCache.txt"; }
    local sysroot qt4_dir lib
    if readelf -h "$1/sound/libVRN3SoundStream.so.1" | grep -q 'Class: *ELF64'; then
        TRIPLET=x86_64-linux-gnu ARCH_CMAKE=() ARCH_CXX=() QT_LIBS="" QT_CMAKE=("-DCMAKE_PREFIX_PATH=$3") QT_PC=()
        return 0
    fi
    TRIPLET=i386-linux-gnu ARCH_CMAKE=(-DCMAKE_CXX_FLAGS=-m32 -DCMAKE_LIBRARY_ARCHITECTURE=i386-linux-gnu) ARCH_CXX=(-m32)
    sysroot="$(cache VRN3_SYSROOT "$1")"
    QT_LIBS="$sysroot/usr/lib/i386-linux-gnu:$sysroot/lib/i386-linux-gnu" QT_CMAKE=("-DCMAKE_PREFIX_PATH=$3;$sysroot/usr") QT_PC=()
    export PKG_CONFIG_LIBDIR="$sysroot/usr/lib/i386-linux-gnu/pkgconfig:/usr/lib/i386-linux-gnu/pkgconfig"
    [ "$(cache VRN3_QT "$1")" = 4 ] || return 0
    # In a copy of the Qt 4 folder made without links, libQtCore.so.4 is a text file naming the library.
    qt4_dir="$(cache VRN3_QT4_DIR "$1")"
    lib="$(realpath "$qt4_dir/lib/libQtCore.so.4")"
    head -c 4 "$lib" | grep -q ELF || lib="$(realpath "$qt4_dir/lib/$(tr -d '\n' <"$lib")")"
    mkdir -p "$2/qt4/lib" && ln -sfn "$qt4_dir/include" "$2/qt4/include" && ln -sf "$lib" "$2/qt4/lib/libQtCore.so.4"
    QT_LIBS="$2/qt4/lib" QT_CMAKE=("-DCMAKE_PREFIX_PATH=$3" "-DVRN3_QT4_DIR=$2/qt4") QT_PC=("--define-variable=qt4dir=$2/qt4")
}

if [ "${1:-}" = --qt-libs ]; then
    [ $# -eq 3 ] || { echo "usage: $0 --qt-libs <project build> <folder>" >&2; exit 2; }
    qt "$(cd "$2" && pwd)" "$3" /usr
    echo "$QT_LIBS"
    exit 0
fi
[ $# -eq 5 ] || { echo "usage: $0 <example> <cmake|pkg-config> <install prefix> <project build> <folder>" >&2; exit 2; }
EXAMPLE="$1" WAY="$2" PREFIX="$3" BUILD="$(cd "$4" && pwd)" OUT="$5"
SRC="$ROOT/examples/$EXAMPLE" MAIN="$ROOT/examples/$EXAMPLE/main.cpp"
if [ "${EXAMPLE%.cpp}" != "$EXAMPLE" ] && [ "$WAY" = pkg-config ]; then
    MAIN="$(realpath "$EXAMPLE")" EXAMPLE="$(basename "$EXAMPLE" .cpp)"
fi
[ -f "$MAIN" ] || { say "no example $EXAMPLE"; exit 2; }
mkdir -p "$OUT"
qt "$BUILD" "$OUT" "$PREFIX"
LOG="$OUT/build.log"
fail() { cat "$LOG" >&2; say "$EXAMPLE does not build with $WAY"; exit 1; }

if [ "$WAY" = cmake ]; then
    cmake -S "$SRC" -B "$OUT/cmake" -DCMAKE_BUILD_TYPE=Release ${ARCH_CMAKE[@]+"${ARCH_CMAKE[@]}"} "${QT_CMAKE[@]}" \
        "-DCMAKE_EXE_LINKER_FLAGS=${QT_LIBS:+-Wl,-rpath-link,${QT_LIBS//:/,-rpath-link,}}" >"$LOG" 2>&1 || fail
    cmake --build "$OUT/cmake" >>"$LOG" 2>&1 || fail
    echo "$OUT/cmake/$EXAMPLE"
elif [ "$WAY" = pkg-config ]; then
    export PKG_CONFIG_PATH="$PREFIX/lib/$TRIPLET/pkgconfig"
    pc() { pkg-config ${QT_PC[@]+"${QT_PC[@]}"} "$@"; }
    flags="$(pc --cflags --libs vrn3host 2>"$LOG")" || fail
    # shellcheck disable=SC2086
    g++ ${ARCH_CXX[@]+"${ARCH_CXX[@]}"} -std=c++17 -Wall -Wextra -Werror -o "$OUT/$EXAMPLE" "$MAIN" $flags -ldl \
        -Wl,-rpath,"$(pc --variable=libdir vrn3host)" -DVRN3_PLUGIN="\"$(pc --variable=plugin vrn3host)\"" \
        >"$LOG" 2>&1 || fail
    echo "$OUT/$EXAMPLE"
else
    say "build with cmake or pkg-config, not $WAY"
    exit 2
fi
