#!/usr/bin/env bash
# Measures what the whole test suite takes of the code, and fails below the floors.
#   scripts/coverage.sh [build dir]      (default build/coverage-64, the coverage-64 preset: amd64,
#                                        natively, gcov counters updated atomically (threads share
#                                        them), -O0, assertions off)
#   REPORT_ONLY=1 scripts/coverage.sh    the table from the counters of the last run, no build or tests
# Builds with -j2, clears the counters, runs ctest, then prints with gcovr (set-up installs it)
# one row per folder: lines and branches taken, and the exclusion markers in the folder's sources;
# then the files with the most lines and branches not taken, and every marker with its reason.
# Branches are counted as gcovr counts them with --exclude-unreachable-branches and
# --exclude-throw-branches (the compiler's own branches for unwinding and dead code are not ours).
# A line or branch no input can reach is marked where it stands, with the reason after the marker
# (`// GCOVR_EXCL_LINE: why`, `// GCOVR_EXCL_BR_LINE: why`); reachable code is never marked.
# Exits non-zero when a test fails or a folder is below its floor, naming it.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:-$ROOT/build/coverage-64}"
mkdir -p "$BUILD" && BUILD="$(cd "$BUILD" && pwd)"

# The floors, lines and branches in percent, of each folder the table judges: the product's
# folders every line and 98% of the branches, the stand-in host and the capture library 98% and
# 92%, the tools 95% and 90%. A folder below its floor fails the run; what no input can reach is
# marked where it stands, with its reason, and the markers are counted in the table.
FLOORS="blocks 100 98
records 100 98
stream 100 98
sound 100 98
host 98 92
capture 98 92
tools 95 90"
# The rows printed below each judged folder, for reading (not judged on their own).
SUBFOLDERS="tools/common tools/taps tools/vrn3-play tools/vrn3-replay"

if [ -z "${REPORT_ONLY:-}" ]; then
    if [ -z "${1:-}" ]; then
        bash "$ROOT/scripts/setup.sh"
        (cd "$ROOT" && cmake --preset coverage-64 > /dev/null)
    fi
    echo "coverage: building $BUILD"
    cmake --build "$BUILD" -j2
    find "$BUILD" -name '*.gcda' -delete
    echo "coverage: running the suite"
    # The list-layout checks read the type of a library's list data from its debug information,
    # where -O0 puts other types of that name first; they cover no line, and the release builds run them.
    (cd "$BUILD" && ctest --output-on-failure --no-tests=error -j2 -E '_list_layout$')
fi

echo "coverage: reading the counters"
summary="$BUILD/coverage-summary.json"
folders="$(cut -d' ' -f1 <<<"$FLOORS" | paste -sd'|')"
(cd "$BUILD" && gcovr --root "$ROOT" --object-directory "$BUILD" --filter "$ROOT/($folders)/" \
    --exclude-unreachable-branches --exclude-throw-branches --json-summary "$summary" "$BUILD" > /dev/null)

python3 - "$summary" "$ROOT" "$FLOORS" "$SUBFOLDERS" <<'PY'
import json, os, re, sys
summary, root, floors, subfolders = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4].split()
floors = [(f, float(l), float(b)) for f, l, b in (row.split() for row in floors.splitlines())]
files = json.load(open(summary))["files"]
marker = re.compile(r"GCOVR_EXCL_(?:BR_)?(?:LINE|START)\S*\s*(.*)")

def markers(folder):
    found = []
    for base, _, names in os.walk(os.path.join(root, folder)):
        for name in sorted(names):
            if name.endswith((".cpp", ".h")):
                path = os.path.join(base, name)
                for number, line in enumerate(open(path, errors="replace"), 1):
                    m = marker.search(line)
                    if m:
                        found.append((os.path.relpath(path, root), number, m.group(1).strip()))
    return found

def totals(prefix):
    rows = [f for f in files if f["filename"].startswith(prefix + "/")]
    return [sum(f[k] for f in rows) for k in ("line_covered", "line_total", "branch_covered", "branch_total")]

def percent(taken, total):
    return 100.0 * taken / total if total else 100.0

print("%-20s %17s %17s %8s  %s" % ("folder", "lines", "branches", "markers", "floor (lines/branches)"))
failed = []
for folder, line_floor, branch_floor in floors:
    for name in [folder] + [s for s in subfolders if s.startswith(folder + "/")]:
        lc, lt, bc, bt = totals(name)
        judged = name == folder
        lines, branches = percent(lc, lt), percent(bc, bt)
        low = judged and (lines < line_floor or branches < branch_floor)
        print("%-20s %6.1f%% %4d/%-5d %6.1f%% %4d/%-5d %8d  %s" % (
            name if judged else "  " + name, lines, lc, lt, branches, bc, bt, len(markers(name)),
            ("%g/%g" % (line_floor, branch_floor) + ("  BELOW" if low else "")) if judged else ""))
        if low:
            failed.append(name)

print("\nthe files with the most not taken (lines, branches):")
worst = sorted(files, key=lambda f: -(f["line_total"] - f["line_covered"] + f["branch_total"] - f["branch_covered"]))
for f in worst[:12]:
    missed = (f["line_total"] - f["line_covered"], f["branch_total"] - f["branch_covered"])
    if missed != (0, 0):
        print("  %-44s %4d lines %4d branches" % ((f["filename"],) + missed))

print("\nexclusion markers:")
for folder, _, _ in floors:
    for path, number, reason in markers(folder):
        print("  %s:%d: %s" % (path, number, reason))
if failed:
    print("\ncoverage: FAILED: below the floor: " + ", ".join(failed))
    sys.exit(1)
print("\ncoverage: every folder at or above its floor")
PY
