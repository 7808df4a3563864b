# Sourced by the scripts that run a build's tests (scripts/test.sh, scripts/repeat-chance.sh):
#   . scripts/sanitizer-env.sh BUILD_DIR EMULATOR
# For a build made with the sanitizers (VRN3_SANITIZE in its CMake cache), exports their options:
# stop at the first error, and LeakSanitizer on where it can run. Under qemu-user it cannot (it
# stops threads through ptrace, which the emulator lacks, and a program would hang at exit): there
# it is off, said so, and the tests' own live-node and pool counts catch leaks instead (and the
# amd64 flavour, asan-64, runs it natively). For a ThreadSanitizer build (VRN3_TSAN, amd64 only):
# stop at the first report.
if grep -q '^VRN3_SANITIZE:BOOL=ON$' "$1/CMakeCache.txt" 2> /dev/null; then
    _vrn3_leaks=1
    if [ -n "$2" ]; then
        _vrn3_leaks=0
        echo "ci: SKIPPED LeakSanitizer ($(basename "$1")): it stops threads through ptrace, which qemu-user lacks (a test program would hang at exit); the tests' live-node and pool counts still catch leaks, and the amd64 flavour (asan-64) ran it natively"
    fi
    export ASAN_OPTIONS=detect_leaks=$_vrn3_leaks:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    unset _vrn3_leaks
fi
if grep -q '^VRN3_TSAN:BOOL=ON$' "$1/CMakeCache.txt" 2> /dev/null; then
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
fi
