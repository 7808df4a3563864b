# Sourced first by the end-to-end test scripts: run_i386 starts an i386 program, through
# $VRN3_I386_EMULATOR when it is set; $tmp is the test's own folder, removed when the script ends;
# fail names what failed and ends the test.
run_i386() { ${VRN3_I386_EMULATOR:+"$VRN3_I386_EMULATOR"} "$@"; }
tmp="$(mktemp -d)"
# Only this shell removes the folder, never a child forked from it before it has exec'd.
trap '[ "$BASHPID" != $$ ] || rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
