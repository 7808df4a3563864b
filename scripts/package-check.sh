#!/usr/bin/env bash
# Builds the Debian packages from a build tree and proves them on this machine, as root:
#   scripts/package-check.sh <build dir>
#  1. builds the tree and runs cpack: one i386 .deb per component (see cmake/Install.cmake);
#     checks each package's architecture and that its Depends cover every NEEDED library of
#     every ELF file it ships;
#  2. adds the i386 foreign architecture and installs the runtime Depends (libc6, libstdc++6,
#     libgcc-s1, libqt5core5a, all :i386) with apt, but only if apt can do so without touching
#     any package already here; otherwise (the i386 security index is often out of step with
#     the amd64 one, and Multi-Arch: same packages then need matching versions) the packages go
#     in with dpkg --force-depends and the missing i386 Qt comes from the build's sysroot;
#  3. dpkg -i the plug-in, host and vrn3-play packages; the installed plug-in is loaded with
#     dlopen/dlsym("CreateBrick") by the build's loader test (its build RPATH removed, so only
#     the installed files and the system's libraries serve it) and, when vrn3-play is packaged,
#     the installed vrn3-play plays the sample through the installed plug-in;
#  4. dpkg -r the packages and checks that their files are gone;
#  5. always, even on failure: purges whatever this check installed, removes the i386
#     architecture if it added it, and compares the package list with the one it started from.
# The dev package (headers) is built and inspected but not installed: it depends on i386 Qt
# development packages that are not needed to prove the plug-in.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ $# -eq 1 ] || { echo "usage: $0 <build dir>" >&2; exit 2; }
BUILD="$(cd "$1" && pwd)"
[ "$(id -u)" = 0 ] || { echo "package-check: must run as root (dpkg)" >&2; exit 2; }
export DEBIAN_FRONTEND=noninteractive

OUR_PACKAGES="vrn3-play vrn3soundstream libvrn3host1 vrn3soundstream-dev"
RUNTIME_I386="libc6:i386 libstdc++6:i386 libgcc-s1:i386 libqt5core5a:i386"
PLUGIN=/usr/lib/i386-linux-gnu/vrn3/plugins/libVRN3SoundStream.so.1
SYSROOT="$(sed -n 's/^VRN3_SYSROOT:PATH=//p' "$BUILD/CMakeCache.txt")"
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
        libvrn3host.so.1) echo "vrn3-host-abi-1 libvrn3host1" ;;
        *) echo "?" ;;
    esac
}
declare -A DEB
for deb in "${debs[@]}"; do
    name="$(dpkg-deb -f "$deb" Package)"
    DEB[$name]="$deb"
    arch="$(dpkg-deb -f "$deb" Architecture)"
    # Names in Depends (any alternative) and Provides, one a line.
    depends="$( { dpkg-deb -f "$deb" Depends; dpkg-deb -f "$deb" Provides; } | tr ',|' '\n\n' |
                sed -E 's/\(.*//; s/[[:space:]]//g' | grep -v '^$' || true)"
    [ "$arch" = i386 ] || die "$name is for $arch"
    rm -rf "$WORK/x" && mkdir -p "$WORK/x" && dpkg-deb -x "$deb" "$WORK/x"
    while IFS= read -r f; do
        for lib in $(readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
            ok=0
            for p in $(provider "$lib"); do
                grep -qxF "$p" <<<"$depends" && ok=1
            done
            [ "$ok" = 1 ] || die "$name: ${f#"$WORK/x"} needs $lib, which its Depends do not cover"
        done
    done < <(find "$WORK/x" -type f -exec sh -c 'head -c 4 "$1" | grep -q ELF' _ {} \; -print)
    say "$(basename "$deb"): Architecture $arch; Depends: $(dpkg-deb -f "$deb" Depends)"
done
for name in vrn3soundstream libvrn3host1 vrn3soundstream-dev; do
    [ -n "${DEB[$name]:-}" ] || die "no package $name"
done
dpkg-deb -c "${DEB[vrn3soundstream]}" | grep -q "\.$PLUGIN\$" || die "the plug-in package lacks $PLUGIN"

# --- 5. the way back, whatever happens ----------------------------------------------------
for p in $OUR_PACKAGES; do
    is_installed "$p" && die "$p is already installed; remove it first (this check must not replace it)"
done
BEFORE="$WORK/before"
installed_list > "$BEFORE"
ADDED_ARCH=0
restore() {
    local rc=$?
    set +e
    say "restoring the machine"
    for p in $OUR_PACKAGES; do dpkg-query -W "$p" >/dev/null 2>&1 && dpkg -P "$p" >/dev/null; done
    # Everything the check installed: packages in the list now that were not in it before.
    local new
    new="$(comm -13 <(cut -d' ' -f1 "$BEFORE") <(installed_list | cut -d' ' -f1) )"
    if [ -n "$new" ]; then
        # shellcheck disable=SC2086
        dpkg -P --force-depends --force-remove-protected --force-remove-essential $new >/dev/null 2>&1
    fi
    if [ "$ADDED_ARCH" = 1 ]; then
        dpkg --remove-architecture i386 || say "could not remove the i386 architecture"
        apt-get update -qq >/dev/null 2>&1
    fi
    if ! diff <(cut -d' ' -f1,2 "$BEFORE") <(installed_list | cut -d' ' -f1,2) > "$WORK/drift"; then
        say "the package list differs from the start:"; cat "$WORK/drift"; rc=1
    elif [ -n "$(dpkg --print-foreign-architectures | grep -x i386)" ] && [ "$ADDED_ARCH" = 1 ]; then
        say "the i386 architecture is still configured"; rc=1
    else
        say "machine restored: same packages and architectures as before"
    fi
    rm -rf "$WORK"
    [ "$rc" = 0 ] && say "PASSED" || say "FAILED"
    exit "$rc"
}
trap restore EXIT

# --- 2. the runtime dependencies ----------------------------------------------------------
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    ADDED_ARCH=1
fi
apt-get update -qq >/dev/null 2>&1 || say "apt-get update reported errors (the i386 index)"
FORCED=0
# shellcheck disable=SC2086
if plan="$(apt-get -s install --no-install-recommends $RUNTIME_I386 2>&1)" &&
   ! grep -qE '^(Remv|Inst [^ ]+ \[)' <<<"$plan"; then
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $RUNTIME_I386 >/dev/null || FORCED=1
else
    FORCED=1
fi
if [ "$FORCED" = 1 ]; then
    say "apt cannot install the i386 runtime without changing packages already here:"
    grep -E '^(Remv|Inst [^ ]+ \[)|^E:' <<<"$plan" | head -n 5 | sed 's/^/    /'
    say "installing with dpkg --force-depends; the multilib runtime (/usr/lib32) and the build's"
    say "sysroot (i386 Qt 5 Core) stand in for the i386 Depends"
fi

# --- 3. install, load, play ----------------------------------------------------------------
to_install=("${DEB[libvrn3host1]}" "${DEB[vrn3soundstream]}")
[ -n "${DEB[vrn3-play]:-}" ] && to_install+=("${DEB[vrn3-play]}")
if [ "$FORCED" = 1 ]; then
    dpkg -i --force-depends "${to_install[@]}" >/dev/null
    RUN_ENV=(env "LD_LIBRARY_PATH=/usr/lib/i386-linux-gnu:$SYSROOT/usr/lib/i386-linux-gnu:$SYSROOT/lib/i386-linux-gnu")
else
    dpkg -i "${to_install[@]}" >/dev/null
    RUN_ENV=(env)
fi
for p in vrn3soundstream libvrn3host1; do is_installed "$p" || die "$p did not install"; done
[ -f "$PLUGIN" ] || die "$PLUGIN is not there"
say "installed: $(dpkg-query -W -f '${Package} ${Version}; ' vrn3soundstream libvrn3host1 ${DEB[vrn3-play]:+vrn3-play})"

loader="$WORK/installed_plugin_test"
cp "$BUILD/tests/install/installed_plugin_test" "$loader"
echo 'file(RPATH_REMOVE FILE "${F}")' > "$WORK/norpath.cmake"
cmake -DF="$loader" -P "$WORK/norpath.cmake"
"${RUN_ENV[@]}" VRN3_STAGE=/usr "$loader" --gtest_brief=1 || die "the installed plug-in does not load"
say "the installed plug-in loads and builds bricks"

if [ -n "${DEB[vrn3-play]:-}" ]; then
    out="$WORK/sample.extracted.wav"
    "${RUN_ENV[@]}" /usr/bin/vrn3-play --plugin "$PLUGIN" -o "$out" "$ROOT/samples/sample.wav" || die "vrn3-play failed"
    [ -s "$out" ] || die "vrn3-play wrote no sound"
    say "the installed vrn3-play played the sample through the installed plug-in"
fi

# --- 4. uninstall --------------------------------------------------------------------------
removing=(vrn3soundstream libvrn3host1)
[ -n "${DEB[vrn3-play]:-}" ] && removing=(vrn3-play "${removing[@]}")
dpkg -r "${removing[@]}" >/dev/null
for p in "${removing[@]}"; do is_installed "$p" && die "$p is still installed"; done
[ ! -e "$PLUGIN" ] && [ ! -e /usr/lib/i386-linux-gnu/libvrn3host.so.1 ] && [ ! -e /usr/bin/vrn3-play ] ||
    die "files remain after dpkg -r"
say "uninstalled cleanly"
