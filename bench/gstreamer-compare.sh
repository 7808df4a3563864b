#!/usr/bin/env bash
# Ours against GStreamer on the same processor: CPU time a buffer, side by side.
#   bench/gstreamer-compare.sh [BUILD_DIR] [--rounds N]
# BUILD_DIR (default build/release-64) holds the vrn3-bench to set beside GStreamer; the
# GStreamer of the same flavour runs the pipelines. Not part of CI.
#
# GStreamer: gst-launch-1.0 from Debian's packages, pushing 160-byte buffers from fakesrc through
# three pipelines: fakesrc ! identity ! fakesink, fakesrc ! fakesink, and fakesrc ! queue !
# fakesink. Its CPU time a buffer (user and system, of all its threads) is the difference of two
# runs, of SHORT and LONG buffers, over the difference of their buffers: start-up and pipeline
# set-up fall out. Ours: scenario A 160 B of vrn3-bench, which reports CPU time a record itself
# (the fastest of its slices). Each round runs every pipeline and ours once, one after the other,
# so that they share the machine's state; the fastest round of each is kept.
#
# GStreamer of the build's flavour is unpacked into build/deps/gstreamer-<flavour> (apt-get
# download and dpkg-deb -x, as scripts/setup.sh makes the i386 sysroot; the machine's package
# state is left alone) and run with its own loader and libraries: amd64 from the machine's own
# package lists, i386 from scripts/setup.sh's private i386 lists, through the build's i386
# emulator where the kernel needs one: such a row is marked emulated, its times are the emulator's.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build/release-64"
ROUNDS=5
while [ $# -gt 0 ]; do
    case "$1" in
        --rounds) ROUNDS="$2"; shift 2 ;;
        -*) echo "usage: $0 [BUILD_DIR] [--rounds N]" >&2; exit 2 ;;
        *) BUILD="$(cd "$1" && pwd)"; shift ;;
    esac
done
BENCH="$BUILD/bench/vrn3-bench"
[ -x "$BENCH" ] || { echo "gstreamer-compare: no $BENCH" >&2; exit 1; }

SHORT=20000
LONG=420000
PIPELINES=(identity none queue) # the element between source and sink, if any

say() { echo "gstreamer-compare: $*" >&2; }

# GStreamer's command-line tool and the libraries it loads, of either flavour.
GST_PACKAGES=(gstreamer1.0-tools libgstreamer1.0-0 libglib2.0-0 libffi8 libpcre2-8-0 libmount1
              libselinux1 libblkid1 libunwind8 libdw1 libelf1 zlib1g liblzma5 libbz2-1.0 libzstd1
              libcap2 libgcc-s1 libc6)

# Unpacks GStreamer into GST_ROOT once: unpack_gstreamer [apt-get options...]
unpack_gstreamer() {
    [ ! -x "$GST_ROOT/usr/bin/gst-launch-1.0" ] || return 0
    say "unpacking the $FLAVOUR GStreamer into $GST_ROOT"
    mkdir -p "$GST_ROOT/debs"
    (cd "$GST_ROOT/debs" && apt-get "$@" download -q "${GST_PACKAGES[@]}" > /dev/null)
    for deb in "$GST_ROOT"/debs/*.deb; do dpkg-deb -x "$deb" "$GST_ROOT"; done
}

# The flavour of the build's benchmark: 1 in the ELF class byte is 32-bit.
if [ "$(od -An -tu1 -j4 -N1 "$BENCH" | tr -d ' ')" = 1 ]; then
    FLAVOUR=i386
    TRIPLET=i386-linux-gnu
    LOADER=lib/ld-linux.so.2
    EMULATOR="$(bash "$ROOT/scripts/i386-emulator.sh" "$BUILD" 2> /dev/null || true)"
    GST_ROOT="$ROOT/build/deps/gstreamer-i386"
    # scripts/setup.sh's private i386 package lists (build/deps/apt): the machine's own apt
    # state and architectures are left alone.
    APTD="$ROOT/build/deps/apt"
    [ -x "$GST_ROOT/usr/bin/gst-launch-1.0" ] || [ -f "$APTD/sources.list" ] ||
        { say "no private i386 package lists in $APTD (run scripts/setup.sh)"; exit 1; }
    unpack_gstreamer -oAPT::Architecture=i386 -oAPT::Architectures=i386 \
        -oDir::State::Lists="$APTD/lists" -oDir::Cache="$APTD/cache" \
        -oDir::Etc::SourceList="$APTD/sources.list" -oDir::Etc::SourceParts="$APTD/sources.list.d" \
        -oAPT::Sandbox::User=root
    NOTE="${EMULATOR:+ (emulated: times of the emulator, not judged)}"
else
    FLAVOUR=amd64
    TRIPLET=x86_64-linux-gnu
    LOADER=lib/x86_64-linux-gnu/ld-linux-x86-64.so.2
    EMULATOR=""
    GST_ROOT="$ROOT/build/deps/gstreamer-amd64"
    unpack_gstreamer -oAPT::Sandbox::User="$(id -un)"
    NOTE=""
fi
LIBS="$GST_ROOT/usr/lib/$TRIPLET:$GST_ROOT/lib/$TRIPLET"
GST=(${EMULATOR:+"$EMULATOR"} ${EMULATOR:+-L} ${EMULATOR:+"$GST_ROOT"} "$GST_ROOT/$LOADER"
     --library-path "$LIBS" "$GST_ROOT/usr/bin/gst-launch-1.0")
export GST_PLUGIN_SYSTEM_PATH_1_0="$GST_ROOT/usr/lib/$TRIPLET/gstreamer-1.0"
export GST_PLUGIN_SCANNER_1_0="$GST_ROOT/usr/lib/$TRIPLET/gstreamer1.0/gstreamer-1.0/gst-plugin-scanner"
export GST_REGISTRY_1_0="$GST_ROOT/registry.bin"
OURS=(${EMULATOR:+"$EMULATOR"} "$BENCH")

# CPU seconds (user and system, all threads) of one run of the given command.
cpu_seconds() {
    local out
    out="$(mktemp)"
    /usr/bin/time -o "$out" -f '%U %S' "$@" > /dev/null 2>&1 || { say "failed: $*"; rm -f "$out"; exit 1; }
    awk '{ print $1 + $2 }' "$out"
    rm -f "$out"
}

# ns a buffer of one GStreamer pipeline: the two runs' difference.
gst_ns() { # middle-element
    local short long
    local middle=()
    [ "$1" != none ] && middle=("$1" "!")
    short="$(cpu_seconds "${GST[@]}" -q fakesrc num-buffers=$SHORT sizetype=fixed sizemax=160 ! "${middle[@]}" fakesink)"
    long="$(cpu_seconds "${GST[@]}" -q fakesrc num-buffers=$LONG sizetype=fixed sizemax=160 ! "${middle[@]}" fakesink)"
    awk -v s="$short" -v l="$long" -v n=$((LONG - SHORT)) 'BEGIN { printf "%.1f\n", (l - s) * 1e9 / n }'
}

ours_ns() {
    "${OURS[@]}" --only "A whole 160 B" --json |
        sed -nE 's/.*"name": "A whole 160 B", "ns_per_record": ([0-9.e+]+),.*/\1/p'
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }'; }

"${GST[@]}" -q fakesrc num-buffers=1 ! fakesink > /dev/null 2>&1 || { say "gst-launch-1.0 does not run"; exit 1; }
best_ours=""
declare -A best
for round in $(seq 1 "$ROUNDS"); do
    for p in "${PIPELINES[@]}"; do
        best[$p]="$(min "${best[$p]:-}" "$(gst_ns "$p")")"
    done
    best_ours="$(min "$best_ours" "$(ours_ns)")"
    say "round $round of $ROUNDS done"
done

echo "CPU time a buffer, $FLAVOUR, on $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)$NOTE"
printf '%-34s %12s %12s %8s\n' "GStreamer pipeline" "GStreamer ns" "ours ns" "ours/it"
for p in "${PIPELINES[@]}"; do
    name="fakesrc ! fakesink"
    [ "$p" != none ] && name="fakesrc ! $p ! fakesink"
    printf '%-34s %12.1f %12.1f %8.2f\n' "$name" "${best[$p]}" "$best_ours" \
        "$(awk -v o="$best_ours" -v g="${best[$p]}" 'BEGIN { print o / g }')"
done
echo "ours: vrn3-bench scenario A 160 B (a 160-byte record through the sound brick into a sink)"
