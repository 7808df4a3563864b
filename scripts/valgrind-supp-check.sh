#!/usr/bin/env bash
# Matches the errors of valgrind logs against a suppression file, without running valgrind, so
# that suppressions for programs valgrind cannot run on this machine (i386 programs where the
# kernel runs them only under qemu-user) are still checked against reports recorded where it can.
#   scripts/valgrind-supp-check.sh SUPPRESSIONS LOG...
# A log must come from valgrind with --gen-suppressions=all (scripts/drd.sh runs it so): each
# error is then followed by its stack in the form suppressions match, function names mangled.
# Matching follows valgrind's: the error kind ("tool:Kind", a suppression may list tools), then
# the frames from the top, "*" and "?" as wildcards within a frame, "..." for any number of
# frames; frames past the suppression's last are not looked at. A frame the log names by its
# function is matched by fun: lines only (valgrind would also try obj: on it): suppressions name
# functions where the log has them. Prints one line per log (its errors, how many each
# suppression takes, how many are left) and every error left; exits 1 when any is left, 2 on a
# file that cannot be read or holds no error stack.
set -euo pipefail

[ $# -ge 2 ] || { echo "usage: $0 SUPPRESSIONS LOG..." >&2; exit 2; }

# The blocks of a file, one line each: fields separated by a tab, "{" and "}" dropped, and the
# lines of a block that are neither kind, name nor frame (a leak kind) left out. Comments and the
# "==pid==" lines of a log are not part of any block.
blocks() {
    awk '
        /^[[:space:]]*#/ || /^==[0-9]+==/ { next }
        /^[[:space:]]*\{[[:space:]]*$/ { inside = 1; line = ""; n = 0; next }
        /^[[:space:]]*\}[[:space:]]*$/ { if (inside) print line; inside = 0; next }
        inside {
            sub(/^[[:space:]]+/, ""); sub(/[[:space:]]+$/, "")
            n++
            if (n <= 2 || $0 ~ /^(fun|obj|src):/ || $0 == "...")
                line = line (n > 1 ? "\t" : "") $0
        }' "$1"
}

# Whether the suppression's frames (from index $1) match the stack's (from index $2).
frames_match() {
    local s=$1 f=$2 pattern
    [ "$s" -lt "${#supp_frames[@]}" ] || return 0
    pattern="${supp_frames[$s]}"
    if [ "$pattern" = "..." ]; then
        local k
        for ((k = f; k <= ${#stack[@]}; k++)); do
            frames_match $((s + 1)) "$k" && return 0
        done
        return 1
    fi
    [ "$f" -lt "${#stack[@]}" ] || return 1
    # shellcheck disable=SC2053 # the pattern is a glob on purpose
    [[ "${stack[$f]%%:*}" == "${pattern%%:*}" && "${stack[$f]#*:}" == ${pattern#*:} ]] || return 1
    frames_match $((s + 1)) $((f + 1))
}

# Whether a kind line of a suppression ("tool1,tool2:Kind") takes the error's ("tool:Kind").
kind_matches() {
    local tools="${1%%:*}" kind="${1#*:}" tool="${2%%:*}"
    [ "$kind" = "${2#*:}" ] && [[ ",${tools,,}," == *",${tool,,},"* ]]
}

mapfile -t suppressions < <(blocks "$1")
[ "${#suppressions[@]}" -gt 0 ] || { echo "valgrind-supp-check: $1 holds no suppression" >&2; exit 2; }
shift
left_any=0
for log in "$@"; do
    mapfile -t errors < <(blocks "$log")
    [ "${#errors[@]}" -gt 0 ] ||
        { echo "valgrind-supp-check: $log holds no error stack (was it written with --gen-suppressions=all?)" >&2; exit 2; }
    declare -A taken=()
    left=()
    for error in "${errors[@]}"; do
        IFS=$'\t' read -r -a stack <<< "$error"
        kind="${stack[1]}"
        stack=("${stack[@]:2}")
        name=""
        for suppression in "${suppressions[@]}"; do
            IFS=$'\t' read -r -a supp_frames <<< "$suppression"
            kind_matches "${supp_frames[1]}" "$kind" || continue
            candidate="${supp_frames[0]}"
            supp_frames=("${supp_frames[@]:2}")
            if frames_match 0 0; then
                name="$candidate"
                break
            fi
        done
        if [ -n "$name" ]; then
            taken[$name]=$((${taken[$name]:-0} + 1))
        else
            left+=("$kind: ${stack[*]:0:4}")
        fi
    done
    by=""
    for name in "${!taken[@]}"; do
        by="$by${by:+, }$name ${taken[$name]}"
    done
    echo "valgrind-supp-check: $log: ${#errors[@]} error contexts, $((${#errors[@]} - ${#left[@]})) suppressed${by:+ ($by)}, ${#left[@]} left"
    for error in "${left[@]}"; do
        echo "valgrind-supp-check:   left: $error"
    done
    [ "${#left[@]}" -eq 0 ] || left_any=1
    unset taken
done
exit "$left_any"
