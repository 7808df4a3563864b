#!/usr/bin/env bash
# Tells how this machine runs the project's i386 programs: prints the emulator to start them
# through, or nothing where they run natively, and says on stderr which path it is and why.
#   scripts/i386-emulator.sh [build-dir]
# The choice, in order:
#  1. VRN3_I386_EMULATOR in the environment forces the emulated path through that program (so the
#     path can be tried on a machine that runs i386 natively);
#  2. a build folder's own choice, made when it was configured (its CMake cache), where given;
#  3. native, where this kernel executes i386 programs (the system's i386 loader is tried);
#  4. otherwise qemu-user (Debian's qemu-user-static, which scripts/setup.sh installs).
# The emulator is an explicit prefix: nothing on the machine changes (no binfmt_misc entry).
# Exits 1, with a line on stderr, where i386 programs cannot run at all.
set -euo pipefail

LOADER=/lib/ld-linux.so.2
say() { echo "i386: $*" >&2; }

resolve() {
    local path
    path="$(command -v "$1" 2>/dev/null)" || { say "the emulator '$1' is not installed"; exit 1; }
    echo "$path"
}

if [ -n "${VRN3_I386_EMULATOR:-}" ]; then
    say "emulated through $VRN3_I386_EMULATOR: forced by VRN3_I386_EMULATOR"
    resolve "$VRN3_I386_EMULATOR"
    exit 0
fi
if [ -n "${1:-}" ] && [ -f "$1/CMakeCache.txt" ]; then
    cached="$(sed -n 's/^VRN3_I386_EMULATOR:[A-Z]*=//p' "$1/CMakeCache.txt")"
    if grep -q '^VRN3_I386_EMULATOR:' "$1/CMakeCache.txt"; then
        if [ -n "$cached" ]; then say "emulated through $cached: the choice of $1"; echo "$cached"
        else say "native: the choice of $1"; fi
        exit 0
    fi
fi
if "$LOADER" --version > /dev/null 2>&1; then
    say "native: this kernel runs i386 programs"
    exit 0
fi
[ -e "$LOADER" ] || { say "no i386 loader at $LOADER (scripts/setup.sh installs g++-multilib)"; exit 1; }
say "emulated through qemu-i386-static: this kernel cannot run i386 programs (IA-32 execution is off)"
resolve qemu-i386-static
