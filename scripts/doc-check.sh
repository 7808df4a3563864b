#!/usr/bin/env bash
# Runs the recipes of the documents as they are written:
#   scripts/doc-check.sh <build dir>...      e.g. build/release build/release-64 build/release-qt4
# Every shell block and C++ listing of README.md, docs/*.md and the manual pages' EXAMPLES
# (scripts/doc-blocks.py finds them) runs against a moved install of each flavour it names (each
# build given is one flavour: i386, amd64 or qt4), in a fresh folder holding
#   in.wav       the sample (samples/sample.wav), in.flac the same sound as FLAC,
#   my-host.cpp  a host's source (examples/minimal-host/main.cpp), examples/ the examples,
# with P the moved install, R the i386 root with i386 Qt 5 (the build's sysroot), Q the host's
# Qt 4 folder (qt4), $P/bin first in PATH, and the flavour's Qt on LD_LIBRARY_PATH, standing in
# for the Qt the system would have. A shell block runs under bash -e -o pipefail; a listing is
# built with pkg-config as the guide says (scripts/example-build.sh) and run. A block marked
# `<!-- doc-check: not run: REASON -->` on the line before its fence (a manual page:
# `.\" doc-check: not run: REASON` before .nf) is counted and its reason printed. A block that
# fails is named by FILE:LINE with its output; the run fails then, after every block has run.
# It also checks that the installed texts of each flavour (manual pages, --help, pkg-config files,
# the CMake package) name only that flavour's library folder, and no -m32 for amd64. The guides
# (share/doc) describe both flavours, each in its section, and are checked by their blocks.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ $# -ge 1 ] || { echo "usage: $0 <build dir>..." >&2; exit 2; }
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
say() { echo "doc-check: $*"; }
die() { say "FAILED: $*"; exit 1; }

# --- the blocks, and the folder each block starts from --------------------------------------
mkdir -p "$WORK/blocks" "$WORK/fixture"
(cd "$ROOT" && python3 scripts/doc-blocks.py "$WORK/blocks" README.md docs/*.md tools/*/*.1) || die "the documents' blocks"
cp "$ROOT/samples/sample.wav" "$WORK/fixture/in.wav"
sox "$WORK/fixture/in.wav" "$WORK/fixture/in.flac"
cp "$ROOT/examples/minimal-host/main.cpp" "$WORK/fixture/my-host.cpp"
cp -r "$ROOT/examples" "$WORK/fixture/examples"

# --- each flavour: installed, moved --------------------------------------------------------
declare -A BUILD_OF PREFIX_OF TRIPLET_OF QT_LIBS_OF QT4_OF
SYSROOT=""
for build in "$@"; do
    build="$(cd "$build" && pwd)"
    cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
    stage="$WORK/stage" moved="$WORK/$(basename "$build")/opt/vrn3"
    cmake --build "$build" -j 2 --target vrn3host vrn3capture VRN3SoundStream vrn3-play vrn3-replay >/dev/null
    cmake --install "$build" --prefix "$stage" >/dev/null
    mkdir -p "$(dirname "$moved")" && mv "$stage" "$moved"
    triplet="$(basename "$(find "$moved/lib" -mindepth 1 -maxdepth 1 -type d -name '*-linux-gnu')")"
    case "$(cache VRN3_QT)/$triplet" in
        4/*) flavour=qt4 ;;
        5/i386-linux-gnu) flavour=i386 ;;
        5/x86_64-linux-gnu) flavour=amd64 ;;
        *) die "$build: Qt $(cache VRN3_QT) in lib/$triplet is no flavour of ours" ;;
    esac
    if [ "$flavour" != amd64 ] && [ -n "$(bash "$ROOT/scripts/i386-emulator.sh" "$build" 2>/dev/null)" ]; then
        say "SKIPPED the $flavour flavour: this machine runs i386 programs only under an emulator"
        continue
    fi
    [ -n "$(cache VRN3_SYSROOT)" ] && SYSROOT="$(cache VRN3_SYSROOT)"
    BUILD_OF[$flavour]="$build" PREFIX_OF[$flavour]="$moved" TRIPLET_OF[$flavour]="$triplet"
    QT_LIBS_OF[$flavour]="$(bash "$ROOT/scripts/example-build.sh" --qt-libs "$build" "$WORK/$flavour")"
    [ "$flavour" = amd64 ] && QT_LIBS_OF[$flavour]=""
    [ "$flavour" = qt4 ] && QT4_OF[$flavour]="$WORK/$flavour/qt4"
    say "$flavour: $build installed, moved to $moved"
done
[ ${#BUILD_OF[@]} -gt 0 ] || die "no flavour to run the blocks on"

# --- the installed texts of each flavour name its own folders only ------------------------------
for flavour in "${!PREFIX_OF[@]}"; do
    P="${PREFIX_OF[$flavour]}"
    if [ "$flavour" = amd64 ]; then foreign=(-e i386-linux-gnu -e '-m32' -e ':i386'); else foreign=(-e x86_64-linux-gnu -e ':amd64'); fi
    texts="$WORK/$flavour/texts"
    mkdir -p "$texts"
    LD_LIBRARY_PATH="${QT_LIBS_OF[$flavour]}" "$P/bin/vrn3-play" --help >"$texts/vrn3-play--help"
    LD_LIBRARY_PATH="${QT_LIBS_OF[$flavour]}" "$P/bin/vrn3-replay" --help >"$texts/vrn3-replay--help"
    found="$(grep -rlI "${foreign[@]}" "$P" "$texts" --exclude-dir=doc || true)"
    [ -z "$found" ] || die "$flavour: installed texts name another flavour's folders: $(grep -rnI "${foreign[@]}" $found)"
    grep -qF "../lib/${TRIPLET_OF[$flavour]}/vrn3/plugins/" "$texts/vrn3-play--help" ||
        die "$flavour: vrn3-play --help does not name its plug-in folder"
    say "$flavour: installed texts and --help name this flavour's folders only"
done

# --- run the blocks -------------------------------------------------------------------------
# run_block <n> <kind> <flavour>: runs block n on the flavour in a fresh folder; output in $WORK/out,
# and for a shell block the line within it of the command that failed in $WORK/line.
run_block() {
    local n=$1 kind=$2 flavour=$3 dir="$WORK/run/$1-$3" rc=0
    rm -f "$WORK/line"
    cp -r "$WORK/fixture" "$dir"
    local P="${PREFIX_OF[$flavour]}" libs="${QT_LIBS_OF[$flavour]}"
    local env=(env -u PKG_CONFIG_PATH -u PKG_CONFIG_LIBDIR -u CMAKE_PREFIX_PATH "PATH=$P/bin:$PATH" "P=$P"
               "R=$SYSROOT" "Q=${QT4_OF[$flavour]:-}" "LD_LIBRARY_PATH=$libs" "TMPDIR=$dir")
    if [ "$kind" = sh ]; then
        (cd "$dir" && timeout 300 "${env[@]}" bash -c 'set -eo pipefail; trap "echo \$LINENO >\"\$1\"" ERR; . "$0"' \
            "$WORK/blocks/$n.sh" "$WORK/line") >"$WORK/out" 2>&1 || rc=$?
    else
        local program
        if program="$(bash "$ROOT/scripts/example-build.sh" "$WORK/blocks/$n.cpp" pkg-config "$P" "${BUILD_OF[$flavour]}" "$dir/build" 2>"$WORK/out")"; then
            (cd "$dir" && timeout 300 "${env[@]}" "$program") >"$WORK/out" 2>&1 || rc=$?
        else
            rc=$?
        fi
    fi
    return "$rc"
}

mkdir -p "$WORK/run"
declare -A COUNT
failed=0 runs=0 reasons=""
while IFS=$'\t' read -r n kind where named reason; do
    COUNT[$kind]=$((${COUNT[$kind]:-0} + 1))
    case "$kind" in
        not-run) reasons+="    $where: $reason"$'\n'; continue ;;
        other) continue ;;
    esac
    [ "$named" = any ] && named="$(printf '%s\n' "${!PREFIX_OF[@]}" | sort | paste -sd,)"
    ran=""
    for flavour in ${named//,/ }; do
        if [ -z "${PREFIX_OF[$flavour]:-}" ]; then
            say "$where: no $flavour build at hand: not run on $flavour"
            continue
        fi
        runs=$((runs + 1))
        if run_block "$n" "$kind" "$flavour"; then
            ran+=" $flavour"
        else
            rc=$?
            failed=$((failed + 1))
            # A shell block names the line of the command that failed: the fence's line plus the
            # command's line within the block.
            at="$where"
            [ "$kind" = sh ] && [ -s "$WORK/line" ] && at="${where%:*}:$((${where##*:} + $(cat "$WORK/line")))"
            say "FAILED: $at: the block fails on $flavour (exit $rc); its output:"
            sed 's/^/    /' "$WORK/out" | tail -n 40
        fi
    done
    if [ "$kind" = sh ]; then say "$where: shell block ran on:${ran:- nothing}"; else say "$where: listing built and ran on:${ran:- nothing}"; fi
done <"$WORK/blocks/blocks.tsv"

say "${COUNT[sh]:-0} shell blocks and ${COUNT[cpp]:-0} C++ listings ran ($runs runs over the flavours $(printf '%s\n' "${!PREFIX_OF[@]}" | sort | paste -sd' ')); ${COUNT[other]:-0} blocks of output, diagrams or symbols; ${COUNT[not-run]:-0} marked not run:"
printf '%s' "$reasons"
[ "$failed" = 0 ] || die "$failed run(s) of the documents' blocks failed"
say "PASSED"
