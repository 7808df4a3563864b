#!/usr/bin/env bash
# The benchmark's targets over several runs of one or more builds, interleaved, as median and range.
#   bench/interleaved-runs.sh [--runs N] [--quick] BUILD_DIR [BUILD_DIR ...]
# Each round runs the vrn3-bench of every build once, one after the other, so that the builds
# share the machine's state (a build beside them, another program's load); N rounds (default 5).
# Then, per build, one line a target: its median, its range and the range's width against the
# median, in per cent, and how many runs met it. With two builds, a "before" and an "after", this
# is the table a change to the chain's speed shows. Runs of every build are kept in a temporary
# folder, named in the output, for a closer look. Not part of CI.
#
# The targets are read from the targets section of each run's report, whatever the flavour: an
# i386 build on a kernel that runs it only through an emulator prints its times as "not judged
# (emulated)", and so does this summary.
set -euo pipefail

usage() { echo "usage: $0 [--runs N] [--quick] BUILD_DIR [BUILD_DIR ...]" >&2; exit 2; }
RUNS=5
QUICK=()
BUILDS=()
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) [ $# -ge 2 ] && [[ "$2" =~ ^[1-9][0-9]*$ ]] || usage; RUNS="$2"; shift 2 ;;
        --quick) QUICK=(--quick); shift ;;
        -*) usage ;;
        *) BUILDS+=("$1"); shift ;;
    esac
done
[ ${#BUILDS[@]} -ge 1 ] || usage
for build in "${BUILDS[@]}"; do
    [ -x "$build/bench/vrn3-bench" ] || { echo "interleaved-runs: no $build/bench/vrn3-bench" >&2; exit 1; }
done

OUT="$(mktemp -d)"
for round in $(seq 1 "$RUNS"); do
    for i in "${!BUILDS[@]}"; do
        "${BUILDS[$i]}/bench/vrn3-bench" "${QUICK[@]}" > "$OUT/build$i-run$round.txt"
    done
    echo "interleaved-runs: round $round of $RUNS done" >&2
done

# A target line: two spaces, the name, then the value, the verdict and the limit, each after two
# or more spaces. The verdict of the runs is counted; "not judged" and "not measured" are shown.
summary() {
    awk '
        /^targets/ { inside = 1; next }
        inside && /^  [^ ]/ {
            n = split(substr($0, 3), f, /  +/)
            name = f[1]
            if (!(name in count)) order[++names] = name
            value[name, ++count[name]] = f[2]
            met[name] += (f[3] == "met")
            verdict[name] = f[3]
        }
        END {
            for (k = 1; k <= names; ++k) {
                name = order[k]
                m = count[name]
                if (value[name, 1] !~ /^[0-9.]+$/) {
                    printf "  %-40s %s\n", name, verdict[name]
                    continue
                }
                for (i = 1; i <= m; ++i) v[i] = value[name, i] + 0
                for (i = 2; i <= m; ++i)
                    for (j = i; j > 1 && v[j - 1] > v[j]; --j) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
                median = (m % 2) ? v[(m + 1) / 2] : (v[m / 2] + v[m / 2 + 1]) / 2
                width = median != 0 ? 100 * (v[m] - v[1]) / median : 0
                judged = (verdict[name] == "met" || verdict[name] == "missed") ? sprintf("met %d of %d", met[name], m) : verdict[name]
                printf "  %-40s median %10.4f  range %.4f-%.4f (%.0f %%)  %s\n", name, median, v[1], v[m], width, judged
            }
        }' "$@"
}

for i in "${!BUILDS[@]}"; do
    echo "${BUILDS[$i]}: $RUNS runs"
    summary "$OUT"/build$i-run*.txt
done
echo "runs kept in $OUT"
