#!/usr/bin/env bash
# Builds the Debian packages from a build tree and proves them on this machine, as root:
#   scripts/package-check.sh <build dir>
#  1. builds the tree and runs cpack: one .deb per component (see cmake/Install.cmake), for the
#     build's flavour's architecture (i386 for the i386 and Qt 4 flavours, amd64);
#     checks each package's architecture, that its Depends cover every NEEDED library of every
#     ELF file it ships, that those files are stripped and their debug information lies in the
#     package's -dbgsym .ddeb, that it carries its copyright file and changelog, and that the
#     host and capture libraries' packages have a shlibs file and, like the plug-in's,
#     Multi-Arch: same; that no packaged file names a folder of this machine (the source and
#     build trees, the sysroot, the Qt 4 folder), nor any file of its -dbgsym package; that the
#     dev package holds the host author's documents;
#  2. adds the i386 foreign architecture (for i386 packages) and installs the runtime Depends
#     (libc6, libstdc++6, libgcc-s1, and libqt5core5a for a Qt 5 build, all of the packages'
#     architecture) with apt, but only if apt can do
#     so without touching any package already here; otherwise (the i386 security index is often
#     out of step with the amd64 one, and Multi-Arch: same packages then need matching versions)
#     the packages go in with dpkg --force-depends and the missing i386 Qt comes from the build's
#     sysroot (or, for a Qt 4 build, its Qt 4 folder, which the host provides in any case);
#  3. dpkg -i the plug-in, host, capture, vrn3-play and dev packages (the dev package with
#     --force-depends: its i386 Qt development packages are not installed, the build's sysroot or
#     Qt 4 folder stands in for them); the installed plug-in is loaded with
#     dlopen/dlsym("CreateBrick") by the build's loader test (its build RPATH removed, so only
#     the installed files and the system's libraries serve it); when vrn3-play is packaged,
#     the installed vrn3-play plays the sample through the installed plug-in; and
#     examples/minimal-host is built against the installed dev package, with CMake and with
#     pkg-config (scripts/example-build.sh), and run;
#  4. dpkg -r the packages and checks that their files are gone;
#  5. always, even on failure: purges exactly the packages this check installed (its own and
#     those apt installed for it, named by apt's plan before the install), never one that was
#     here before or that someone else installed meanwhile, and never with a force option that
#     removes an essential package; a package of its list that another package now needs stays,
#     and is reported. The i386 architecture goes again if this check added it and no i386
#     package is left.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ $# -eq 1 ] || { echo "usage: $0 <build dir>" >&2; exit 2; }
BUILD="$(cd "$1" && pwd)"
[ "$(id -u)" = 0 ] || { echo "package-check: must run as root (dpkg)" >&2; exit 2; }
export DEBIAN_FRONTEND=noninteractive

SYSROOT="$(sed -n 's/^VRN3_SYSROOT:PATH=//p' "$BUILD/CMakeCache.txt")"
QT="$(sed -n 's/^VRN3_QT:[A-Z]*=//p' "$BUILD/CMakeCache.txt")"
QT4_DIR="$(sed -n 's/^VRN3_QT4_DIR:[A-Z]*=//p' "$BUILD/CMakeCache.txt")"
# The packages' architecture follows the build's pointer size, as the build's flavour does.
if grep -qs 'CMAKE_CXX_SIZEOF_DATA_PTR "8"' "$BUILD"/CMakeFiles/*/CMakeCXXCompiler.cmake; then
    ARCH=amd64 TRIPLET=x86_64-linux-gnu EMULATOR=""
else
    ARCH=i386 TRIPLET=i386-linux-gnu EMULATOR="$(bash "$ROOT/scripts/i386-emulator.sh" "$BUILD")"
fi
RUNTIME="libc6:$ARCH libstdc++6:$ARCH libgcc-s1:$ARCH"
if [ "$QT" = 4 ]; then
    SUFFIX="-qt4"
    QT_LIBS="$QT4_DIR/lib"
    # A copy of the Qt 4 folder made without symbolic links holds text files for them; the
    # build's link to the library stands in then (cmake/QtFlavour.cmake).
    [ -e "$BUILD/qt4-lib/libQtCore.so.4" ] && QT_LIBS="$BUILD/qt4-lib"
else
    SUFFIX=""
    RUNTIME+=" libqt5core5a:$ARCH"
    QT_LIBS="$SYSROOT/usr/lib/i386-linux-gnu:$SYSROOT/lib/i386-linux-gnu"
    [ "$ARCH" = amd64 ] && QT_LIBS="" # Debian's amd64 Qt 5, in the system's folders
fi
P_PLUGIN="vrn3soundstream$SUFFIX" P_HOST="libvrn3host1$SUFFIX" P_CAPTURE="libvrn3capture1$SUFFIX"
P_PLAY="vrn3-play$SUFFIX" P_DEV="vrn3soundstream-dev$SUFFIX"
OUR_PACKAGES="$P_PLAY $P_PLUGIN $P_CAPTURE $P_HOST $P_DEV"
PLUGIN=/usr/lib/$TRIPLET/vrn3/plugins/libVRN3SoundStream.so.1
WORK="$(mktemp -d)"
say() { echo "package-check: $*"; }
die() { say "FAILED: $*"; exit 1; }
installed_list() { dpkg-query -W -f '${Package}:${Architecture} ${Version} ${db:Status-Abbrev}\n' | sort; }
is_installed() { dpkg-query -W -f '${db:Status-Abbrev}' "$1" 2>/dev/null | grep -q '^ii'; }

# --- 1. build and inspect the packages ----------------------------------------------------
say "building $BUILD"
cmake --build "$BUILD" -j "$(nproc)" >/dev/null || die "the build fails"
rm -rf "$BUILD/packages"
(cd "$BUILD" && cpack -G DEB -B "$BUILD/packages" >/dev/null)
shopt -s nullglob
debs=("$BUILD"/packages/*.deb)
[ ${#debs[@]} -gt 0 ] || die "cpack made no package"

# Package that provides each library our binaries may need.
provider() {
    case "$1" in
        libc.so.6|libm.so.6) echo libc6 ;;
        libstdc++.so.6) echo libstdc++6 ;;
        libgcc_s.so.1) echo libgcc-s1 ;;
        libQt5Core.so.5) echo libqt5core5a ;;
        libQtCore.so.4) echo HOST ;; # no Debian package: the host provides Qt 4 Core
        libvrn3host.so.1) echo "vrn3-host-abi-1$SUFFIX $P_HOST" ;;
        libvrn3capture.so.1) echo "$P_CAPTURE" ;;
        *) echo "?" ;;
    esac
}
# check_stripped <package> <deb> <ELF file of it>: no debug information in the file; the
# package's -dbgsym .ddeb holds it under the file's build id.
# (A listing piped into grep is read to its end, never with grep -q: under pipefail, dpkg-deb
# killed by the pipe grep -q closes early fails the check of a sound package.)
# ddeb_of <package> <deb>: the path of the package's -dbgsym .ddeb beside its .deb.
ddeb_of() {
    local ddeb
    ddeb="$(dirname "$2")/$1-dbgsym_${2##*/$1_}"
    echo "${ddeb%.deb}.ddeb"
}
check_stripped() {
    local id ddeb
    ddeb="$(ddeb_of "$1" "$2")"
    readelf -S "$3" | grep -q '\.debug_info' && die "$1: ${3#"$WORK/x"} is not stripped"
    id="$(readelf -n "$3" | sed -n 's/.*Build ID: *//p')"
    [ -f "$ddeb" ] || die "$1: no debug package $(basename "$ddeb")"
    dpkg-deb -c "$ddeb" | grep "usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug" >/dev/null ||
        die "$1: $(basename "$ddeb") lacks the debug information of ${3#"$WORK/x"}"
}
# Folders of this machine that no packaged file may name, as grep patterns.
MACHINE_PATHS=()
for p in "$ROOT" "$BUILD" "$SYSROOT" "$QT4_DIR"; do
    [ -n "$p" ] && MACHINE_PATHS+=(-e "$p" -e "$(realpath -m "$p")")
done
declare -A DEB
for deb in "${debs[@]}"; do
    name="$(dpkg-deb -f "$deb" Package)"
    DEB[$name]="$deb"
    arch="$(dpkg-deb -f "$deb" Architecture)"
    multiarch="$(dpkg-deb -f "$deb" Multi-Arch)"
    # Names in Depends (any alternative) and Provides, one a line.
    depends="$( { dpkg-deb -f "$deb" Depends; dpkg-deb -f "$deb" Provides; } | tr ',|' '\n\n' |
                sed -E 's/\(.*//; s/[[:space:]]//g' | grep -v '^$' || true)"
    [ "$arch" = "$ARCH" ] || die "$name is for $arch, not $ARCH"
    rm -rf "$WORK/x" && mkdir -p "$WORK/x" && dpkg-deb -x "$deb" "$WORK/x"
    while IFS= read -r f; do
        for lib in $(readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
            ok=0
            for p in $(provider "$lib"); do
                { [ "$p" = HOST ] || grep -qxF "$p" <<<"$depends"; } && ok=1
            done
            [ "$ok" = 1 ] || die "$name: ${f#"$WORK/x"} needs $lib, which its Depends do not cover"
        done
        check_stripped "$name" "$deb" "$f"
    done < <(find "$WORK/x" -type f -exec sh -c 'head -c 4 "$1" | grep -q ELF' _ {} \; -print)
    for doc in copyright changelog.gz; do
        [ -f "$WORK/x/usr/share/doc/$name/$doc" ] || die "$name lacks /usr/share/doc/$name/$doc"
    done
    found="$(grep -rlF "${MACHINE_PATHS[@]}" "$WORK/x" || true)"
    [ -z "$found" ] || die "$name: ${found//"$WORK/x"/} name(s) a folder of this machine"
    ddeb="$(ddeb_of "$name" "$deb")"
    if [ -f "$ddeb" ]; then
        rm -rf "$WORK/d" && mkdir -p "$WORK/d" && dpkg-deb -x "$ddeb" "$WORK/d"
        found="$(grep -rlF "${MACHINE_PATHS[@]}" "$WORK/d" || true)"
        [ -z "$found" ] || die "$name-dbgsym: ${found//"$WORK/d"/} name(s) a folder of this machine"
    fi
    say "$(basename "$deb"): Architecture $arch${multiarch:+, Multi-Arch $multiarch}; Depends: $(dpkg-deb -f "$deb" Depends)"
done
for name in "$P_PLUGIN" "$P_HOST" "$P_CAPTURE" "$P_DEV"; do
    [ -n "${DEB[$name]:-}" ] || die "no package $name"
done
dpkg-deb -c "${DEB[$P_PLUGIN]}" | grep "\.$PLUGIN\$" >/dev/null || die "the plug-in package lacks $PLUGIN"
for doc in integration.md records.md block-flow.md; do
    dpkg-deb -c "${DEB[$P_DEV]}" | grep "\./usr/share/doc/$P_DEV/$doc\$" >/dev/null || die "$P_DEV lacks /usr/share/doc/$P_DEV/$doc"
done
say "no packaged file names a folder of this machine, -dbgsym packages included; $P_DEV holds integration.md, records.md, block-flow.md"
for name in "$P_HOST" "$P_CAPTURE" "$P_PLUGIN"; do
    [ "$(dpkg-deb -f "${DEB[$name]}" Multi-Arch)" = same ] || die "$name is not Multi-Arch: same"
done
# check_shlibs <library name> <package>: the package's shlibs file names lib<name>.so.1 as its own.
check_shlibs() {
    dpkg-deb --ctrl-tarfile "${DEB[$2]}" | tar -xO ./shlibs 2>/dev/null | grep "^$1 1 $2 " >/dev/null ||
        die "$2 has no shlibs entry for $1.so.1"
}
check_shlibs libvrn3host "$P_HOST"
check_shlibs libvrn3capture "$P_CAPTURE"
dpkg-deb -c "${DEB[$P_CAPTURE]}" | grep "\./usr/lib/$TRIPLET/libvrn3capture\.so\.1\$" >/dev/null ||
    die "$P_CAPTURE lacks /usr/lib/$TRIPLET/libvrn3capture.so.1"

# --- 5. the way back, whatever happens ----------------------------------------------------
for p in $OUR_PACKAGES; do
    is_installed "$p" && die "$p is already installed; remove it first (this check must not replace it)"
done
BEFORE="$WORK/before"
installed_list > "$BEFORE"
ADDED_ARCH=0
# The packages this check installs, in the order it installs them: its own, then apt's.
MINE=()
restore() {
    local rc=$?
    set +e
    say "restoring the machine"
    local present=() force=() p
    for p in "${MINE[@]}"; do
        dpkg-query -W "$p" >/dev/null 2>&1 || continue
        # An essential package is never removed. A protected one (libgcc-s1) is, when this
        # check installed it.
        [ "$(dpkg-query -W -f '${Essential}' "$p")" = yes ] && continue
        [ "$(dpkg-query -W -f '${Protected}' "$p")" = yes ] && force=(--force-remove-protected)
        present+=("$p")
    done
    if [ ${#present[@]} -gt 0 ]; then
        # One call, so that dpkg orders them by their dependencies on each other. dpkg refuses
        # to remove a package that another, not in the list, still needs: that one stays.
        dpkg -P "${force[@]}" "${present[@]}" >"$WORK/purge.log" 2>&1 ||
            sed 's/^/    /' "$WORK/purge.log" | head -n 8
    fi
    local kept=()
    for p in "${MINE[@]}"; do dpkg-query -W -f '${db:Status-Abbrev}' "$p" 2>/dev/null | grep -q '^.i' && kept+=("$p"); done
    for p in "${kept[@]}"; do
        case " $OUR_PACKAGES " in
            *" $p "*) say "$p is still installed"; rc=1 ;;
            *) say "kept $p: essential, or needed by a package installed meanwhile" ;;
        esac
    done
    if [ "$ADDED_ARCH" = 1 ]; then
        if [ -z "$(dpkg-query -W -f '${Architecture}\n' | grep -x i386)" ]; then
            dpkg --remove-architecture i386 || say "could not remove the i386 architecture"
            apt-get update -qq >/dev/null 2>&1
        else
            say "the i386 architecture stays: i386 packages are installed"
        fi
    fi
    # Nothing that was here at the start may be gone or changed by this check.
    local lost
    lost="$(comm -23 <(cut -d' ' -f1,2 "$BEFORE") <(installed_list | cut -d' ' -f1,2))"
    if [ -n "$lost" ]; then
        say "packages of the start are gone or changed:"; sed 's/^/    /' <<<"$lost"; rc=1
    else
        say "machine restored: every package of the start as it was, none of this check's left"
    fi
    rm -rf "$WORK"
    [ "$rc" = 0 ] && say "PASSED" || say "FAILED"
    exit "$rc"
}
trap restore EXIT

# --- 2. the runtime dependencies ----------------------------------------------------------
if [ "$ARCH" = i386 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    ADDED_ARCH=1
fi
apt-get update -qq >/dev/null 2>&1 || say "apt-get update reported errors (the i386 index)"
FORCED=0
# shellcheck disable=SC2086
if plan="$(apt-get -s install --no-install-recommends $RUNTIME 2>&1)" &&
   ! grep -qE '^(Remv|Inst [^ ]+ \[)' <<<"$plan"; then
    # apt installs exactly what its plan names ("Inst <package> (...)"): those are this check's.
    apt_new=($(sed -n 's/^Inst \([^ ]*\) .*/\1/p' <<<"$plan"))
    # shellcheck disable=SC2086
    if apt-get install -y -qq --no-install-recommends $RUNTIME >/dev/null; then
        MINE+=("${apt_new[@]}")
        [ ${#apt_new[@]} -gt 0 ] && say "apt installed for this check: ${apt_new[*]}"
    else
        for p in "${apt_new[@]}"; do is_installed "$p" && MINE+=("$p"); done
        FORCED=1
    fi
else
    FORCED=1
fi
if [ "$FORCED" = 1 ]; then
    say "apt cannot install the $ARCH runtime without changing packages already here:"
    grep -E '^(Remv|Inst [^ ]+ \[)|^E:' <<<"$plan" | head -n 5 | sed 's/^/    /'
    say "installing with dpkg --force-depends; the multilib runtime (/usr/lib32) and the build's"
    say "sysroot (i386 Qt) stand in for the $ARCH Depends"
fi

# --- 3. install, load, play ----------------------------------------------------------------
to_install=("${DEB[$P_HOST]}" "${DEB[$P_CAPTURE]}" "${DEB[$P_PLUGIN]}")
installing=("$P_HOST" "$P_CAPTURE" "$P_PLUGIN")
if [ -n "${DEB[$P_PLAY]:-}" ]; then to_install+=("${DEB[$P_PLAY]}"); installing+=("$P_PLAY"); fi
MINE=("${installing[@]}" "${MINE[@]}")
RUN_ENV=(env)
if [ "$FORCED" = 1 ]; then
    dpkg -i --force-depends "${to_install[@]}" >/dev/null
    RUN_ENV=(env "LD_LIBRARY_PATH=/usr/lib/$TRIPLET:$QT_LIBS")
else
    dpkg -i "${to_install[@]}" >/dev/null
    [ "$QT" = 4 ] && RUN_ENV=(env "LD_LIBRARY_PATH=$QT_LIBS") # the host's Qt 4
fi
# The dev package's Depends name i386 Qt development packages, which this check does not install.
MINE=("$P_DEV" "${MINE[@]}")
dpkg -i --force-depends "${DEB[$P_DEV]}" >/dev/null 2>&1
installing+=("$P_DEV")
for p in "${installing[@]}"; do is_installed "$p" || die "$p did not install"; done
[ -f "$PLUGIN" ] || die "$PLUGIN is not there"
say "installed: $(dpkg-query -W -f '${Package} ${Version}; ' "${installing[@]}")"

loader="$WORK/installed_plugin_test"
cp "$BUILD/tests/install/installed_plugin_test" "$loader"
echo 'file(RPATH_REMOVE FILE "${F}")' > "$WORK/norpath.cmake"
cmake -DF="$loader" -P "$WORK/norpath.cmake"
"${RUN_ENV[@]}" VRN3_STAGE=/usr ${EMULATOR:+"$EMULATOR"} "$loader" --gtest_brief=1 || die "the installed plug-in does not load"
say "the installed plug-in loads and builds bricks"

if [ -n "${DEB[$P_PLAY]:-}" ]; then
    out="$WORK/sample.extracted.wav"
    "${RUN_ENV[@]}" ${EMULATOR:+"$EMULATOR"} /usr/bin/vrn3-play --plugin "$PLUGIN" -o "$out" "$ROOT/samples/sample.wav" || die "vrn3-play failed"
    [ -s "$out" ] || die "vrn3-play wrote no sound"
    say "the installed vrn3-play played the sample through the installed plug-in"
fi

# The example, built against the installed dev package as a host author would, both ways.
for way in cmake pkg-config; do
    program="$(bash "$ROOT/scripts/example-build.sh" minimal-host "$way" /usr "$BUILD" "$WORK/example-$way")" ||
        die "minimal-host does not build with $way against $P_DEV"
    qt_libs="$(bash "$ROOT/scripts/example-build.sh" --qt-libs "$BUILD" "$WORK/example-$way")"
    env LD_LIBRARY_PATH="/usr/lib/$TRIPLET:$qt_libs" ${EMULATOR:+"$EMULATOR"} "$program" >"$WORK/example.out" || die "minimal-host ($way) failed"
    loaded="$(sed -n 's/^loaded //p' "$WORK/example.out")"
    [ -n "$loaded" ] && [ "$(realpath "$loaded")" = "$PLUGIN" ] && grep -q '^SCDA: time 3040' "$WORK/example.out" ||
        die "minimal-host ($way) did not play through the installed plug-in: $(cat "$WORK/example.out")"
done
say "examples/minimal-host built against $P_DEV with CMake and with pkg-config, and ran"

# --- 4. uninstall --------------------------------------------------------------------------
removing=("$P_DEV" "$P_PLUGIN" "$P_CAPTURE" "$P_HOST")
[ -n "${DEB[$P_PLAY]:-}" ] && removing=("$P_PLAY" "${removing[@]}")
dpkg -r "${removing[@]}" >/dev/null
for p in "${removing[@]}"; do is_installed "$p" && die "$p is still installed"; done
[ ! -e "$PLUGIN" ] && [ ! -e "/usr/lib/$TRIPLET/libvrn3host.so.1" ] &&
    [ ! -e "/usr/lib/$TRIPLET/libvrn3capture.so.1" ] && [ ! -e /usr/bin/vrn3-play ] ||
    die "files remain after dpkg -r"
say "uninstalled cleanly"
