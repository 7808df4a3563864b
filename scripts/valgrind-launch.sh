# Sourced by the scripts that run a build's test programs under valgrind (scripts/memcheck.sh,
# scripts/drd.sh):
#   . scripts/valgrind-launch.sh
#   valgrind_launch BUILD_DIR
# Sets how a program of that build starts under valgrind: `libdirs` (the library folders: for
# i386 the valgrind root's libc first, then the system's 32-bit runtime and the sysroot; then
# every folder of the build holding a shared library of ours) and `launch` (the words before the
# program: empty for amd64, whose programs start as they are; for i386 the valgrind root's
# loader, whose symbols memcheck needs, made by scripts/setup.sh), and `emulator`: the emulator
# this machine runs i386 programs under (scripts/i386-emulator.sh), where valgrind cannot run
# them, or empty.
#   valgrind_check_launch NAME PROGRAM...
# For a machine or build where the valgrind stage itself cannot run (or before it does): starts
# each program through the same launch line, listing its tests, under `valgrind --tool=none`
# where valgrind runs it and under the emulator where it does not, so that a stage only a native
# machine runs still has its loader, library path and programs checked on every machine.
_VRN3_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

valgrind_launch() {
    local build=$1 loader="$_VRN3_ROOT/build/deps/valgrind-root/lib/i386-linux-gnu/ld-linux.so.2"
    local sysroot="$_VRN3_ROOT/build/deps/sysroot" dir
    launch=() libdirs="" emulator=""
    if ! grep -q '^CMAKE_TOOLCHAIN_FILE:.*amd64-toolchain' "$build/CMakeCache.txt" 2>/dev/null; then
        [ -x "$loader" ] || bash "$_VRN3_ROOT/scripts/setup.sh"
        emulator="$(bash "$_VRN3_ROOT/scripts/i386-emulator.sh" "$build" 2>/dev/null)"
        libdirs="$(dirname "$loader"):/usr/lib32:$sysroot/usr/lib/i386-linux-gnu:$sysroot/lib/i386-linux-gnu"
        launch=("$loader" --library-path)
    fi
    while IFS= read -r dir; do
        libdirs="${libdirs:+$libdirs:}$dir"
    done < <(find "$build" -name '*.so*' -type f -printf '%h\n' | sort -u)
    [ "${#launch[@]}" -eq 0 ] || launch+=("$libdirs")
}

valgrind_check_launch() {
    local tag=$1 program how failed=0
    shift
    how=(valgrind --tool=none --error-exitcode=99 -q)
    [ -z "$emulator" ] || how=("$emulator")
    for program in "$@"; do
        if (cd "$(dirname "$program")" && LD_LIBRARY_PATH="$libdirs" \
            "${how[@]}" "${launch[@]}" "$program" --gtest_list_tests > /dev/null); then
            echo "$tag: $(basename "$program") starts through the launch line (${how[0]##*/})"
        else
            echo "$tag: $(basename "$program") does not start through the launch line (${how[0]##*/})" >&2
            failed=1
        fi
    done
    return "$failed"
}
