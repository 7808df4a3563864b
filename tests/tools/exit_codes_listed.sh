#!/bin/bash
# A program's help and its manual page list the same exit codes, and both list 7, which any
# unexpected failure of a run ends with (ExitCodes::Report).
# $1 the program, $2 its manual page; $VRN3_I386_EMULATOR where the build runs i386 programs in an
# emulator (empty: natively).
set -u
program=$1 page=$2
help=$(${VRN3_I386_EMULATOR:+"$VRN3_I386_EMULATOR"} "$program" --help | awk '/^Exit codes/ {on = 1; next}
    on && /^  [0-9]+  / {print $1; next} on {exit}' | tr '\n' ' ')
manual=$(awk '/^\.SH EXIT STATUS/ {on = 1; next} on && /^\.SH/ {exit} on && /^\.B [0-9]+$/ {print $2}' "$page" |
    tr '\n' ' ')
echo "help: $help; manual page: $manual"
[ -n "$help" ] && [ "$help" = "$manual" ] && [[ " $help" == *" 7 "* ]]
