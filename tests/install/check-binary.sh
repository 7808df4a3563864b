#!/usr/bin/env bash
# Checks of what a host relies on in the shipped binaries, read back from the files themselves:
#   exports  <lib>                         dynamic symbols are exactly the four entry points
#   dynamic  <lib> <soname> <needed...> [-- <optional...>]
#                                          SONAME, NEEDED (all required present, nothing else
#                                          but the optional ones) and no RPATH/RUNPATH
#   doc      <plugin> <probe> <records.md> every record table of the reference equals the
#                                          debug information, member for member (the i386 or
#                                          the amd64 columns, after the plug-in's ELF class)
#   headers  <stage> <c++ compiler> <include dirs...>
#                                          every installed header compiles on its own
#   host-symbols <plugin> <integration.md>
#                                          what the plug-in takes from the host (its undefined
#                                          symbols but the C/C++ runtime's, the sanitizers' and
#                                          Qt's) is among HOST_SYMBOLS, and the document's list
#                                          of what a host must export is exactly HOST_SYMBOLS
#   qlist    <lib> <offset>                the QList data the library was built on keeps its
#                                          array at <offset> (20 in Qt 4, 16 in Qt 5)
# Layouts come from the plug-in's debug information; a record the plug-in never uses (and so
# carries no type information for) is read from the probe program, built with the same flags.
# Exits non-zero with one line per difference.
set -euo pipefail

fail=0
bad() { echo "FAIL: $*"; fail=1; }

# Records the plug-in itself exchanges with the host and the neighbouring bricks: their layouts
# must be in its own debug information, not only in the probe's.
PLUGIN_RECORDS="HDR_T STREAM_T DATA_T DATA_T_VIDEO TStreamTag TSoundData TSoundStreamCfg
  TCmdRequestChunk TCmdPlay TReadyNotification TVRN3ResetNotify TSrcTimeRange TEventList
  TEventListEntry TBrickConfig TContentDescriptor"
# Records the reference must document, table and all.
DOCUMENTED_RECORDS="$PLUGIN_RECORDS TNotifyMessage"

# All the plug-in may take from the host: the brick's constructor, destructor, type information
# and the operations its virtual table refers to; the lock's constructor, destructor, Lock and
# Unlock; cMemBlock's destructor, default node, virtual table and type information.
HOST_SYMBOLS="CBrick::CBrick()
CBrick::~CBrick()
typeinfo for CBrick
CBrick::DoCtrl()
CBrick::DoData()
CBrick::ConnectAfter(CBrick*)
CBrick::ConnectOwned(CBrick*)
CBrick::DisconnectFrom(CBrick*)
CBrick::DisconnectFromAll()
CBrick::Create(TBrickConfig const&)
CBrick::SetStopped(bool)
CBrick::HasNextBrick()
CBrick::HasPreviousBrick()
CBrick::GetSignature()
CBrick::IsKnownInput(TContentDescriptor const&)
CBrick::IsKnownOutput(TContentDescriptor const&)
CBrick::enqueueControl(cMemBlock const&)
CBrick::enqueueData(cMemBlock const&)
CBrick::DisconnectOwned(CBrick*)
CBrick::SendData(cMemBlock const&)
CBrick::SendCmd(cMemBlock const&)
CCriticalSection::CCriticalSection(bool)
CCriticalSection::~CCriticalSection()
CCriticalSection::Lock(unsigned long)
CCriticalSection::Unlock()
cMemBlock::~cMemBlock()
cMemBlock::mDefNode
vtable for cMemBlock
typeinfo for cMemBlock"

# dwarf_layouts <lib> <type,type,...>: "Type size N" and "Type member offset width" lines, read
# from pahole's listing of each type, which looks like
#   struct TStreamTag {
#           uint64_t                   time;                 /*     0     8 */
#           uint8_t                    reserved8[8];         /*     8     8 */
#           ...
#           /* size: 32, cachelines: 1, members: 6 */
#   };
dwarf_layouts() {
    pahole -C "$2" "$1" 2>/dev/null | awk '
        # The member a declaration line declares: its last word before ";", without "[N]".
        function member(line,    words, n) {
            sub(/;.*/, "", line)
            n = split(line, words, /[ \t*&]+/)
            sub(/\[.*/, "", words[n])
            return words[n]
        }
        # "offset width" from the comment that ends a declaration line.
        function placement(line,    numbers) {
            sub(/.*\/\*[ \t]*/, "", line)
            split(line, numbers, /[ \t]+/)
            return numbers[1] " " numbers[2]
        }
        /^(struct|class|union) [A-Za-z_][A-Za-z0-9_]* \{/ { type = $2; next }
        /^\}/ { type = ""; next }
        type == "" { next }
        /\/\* size: [0-9]+/ { match($0, /size: [0-9]+/); print type, "size", substr($0, RSTART + 6, RLENGTH - 6); next }
        /;[ \t]*\/\*[ \t]*[0-9]+[ \t]+[0-9]+[ \t]*\*\/[ \t]*$/ { print type, member($0), placement($0) }'
}

# doc_layouts <records.md> <i386|amd64>: the same lines from the reference's tables: a heading
# "### `Type` ... N bytes [(amd64: M bytes)]" opens a record, rows
# "| offset | width | amd64 offset | amd64 width | `field` | ..." follow.
doc_layouts() {
    awk -v flavour="$2" '
        # The text of column `i` of a table row, without spaces, backquotes and "[N]".
        function column(row, i,    cells) {
            split(row, cells, /\|/)
            gsub(/[` \t]/, "", cells[i + 1])
            sub(/\[.*/, "", cells[i + 1])
            return cells[i + 1]
        }
        /^### / {
            type = ""
            if (match($0, /`[A-Za-z_][A-Za-z0-9_]*`/)) {
                type = substr($0, RSTART + 1, RLENGTH - 2)
                if (flavour == "amd64" && match($0, /amd64: [0-9]+ bytes/)) print type, "size", substr($0, RSTART + 7, RLENGTH - 13)
                else if (match($0, /[0-9]+ bytes/)) print type, "size", substr($0, RSTART, RLENGTH - 6)
            }
            next
        }
        /^#/ { type = ""; next }
        type != "" && /^\|[ \t]*[0-9]+[ \t]*\|[ \t]*[0-9]+[ \t]*\|/ {
            if (flavour == "amd64") print type, column($0, 5), column($0, 3), column($0, 4)
            else print type, column($0, 5), column($0, 1), column($0, 2)
        }' "$1"
}

# layouts_of <plugin> <probe> <types...>: the layouts, each type from the plug-in if it has it,
# else from the probe.
layouts_of() {
    local plugin="$1" probe="$2"; shift 2
    local list; list="$(echo "$@" | tr ' ' '\n' | sort -u | paste -sd, -)"
    local from_plugin from_probe
    from_plugin="$(dwarf_layouts "$plugin" "$list")"
    echo "$from_plugin"
    local t
    for t in $(echo "$@" | tr ' ' '\n' | sort -u); do
        if ! grep -q "^$t size " <<<"$from_plugin"; then
            case " $(echo $PLUGIN_RECORDS) " in
                *" $t "*) bad "$t: no layout in the plug-in's debug information" ;;
            esac
            from_probe="$(dwarf_layouts "$probe" "$t")"
            echo "$from_probe"
        fi
    done
}

# compare <expected lines> <actual lines> <what>: each expected "Type key value [width]" line
# must be among the actual ones.
compare() {
    local t k rest have
    while read -r t k rest; do
        [ -n "$t" ] || continue
        grep -qxF "$t $k $rest" <<<"$2" && continue
        have="$(grep -m1 "^$t $k " <<<"$2" || true)"
        bad "$3: expected '$t $k $rest', the binary has '${have:-nothing}'"
    done <<<"$1"
}

mode="${1:-}"; shift || true
case "$mode" in
exports)
    got="$(nm -D --defined-only "$1" | awk '{print $NF}' | sort | paste -sd' ' -)"
    [ "$got" = "CreateBrick DllMain fini init" ] || bad "exported symbols are '$got'"
    ;;
dynamic)
    lib="$1" soname="$2"; shift 2
    required=() optional=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do required+=("$1"); shift; done
    [ $# -gt 0 ] && shift
    optional=("$@")
    dyn="$(readelf -d "$lib")"
    got_soname="$(sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p' <<<"$dyn")"
    [ "$got_soname" = "$soname" ] || bad "SONAME is '$got_soname', not '$soname'"
    needed="$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dyn")"
    for n in "${required[@]}"; do grep -qxF "$n" <<<"$needed" || bad "NEEDED lacks $n"; done
    for n in $needed; do
        case " ${required[*]} ${optional[*]} " in *" $n "*) ;; *) bad "unexpected NEEDED $n" ;; esac
    done
    if grep -qE '\((RPATH|RUNPATH)\)' <<<"$dyn"; then
        bad "installed file keeps a library path: $(grep -E '\((RPATH|RUNPATH)\)' <<<"$dyn")"
    fi
    ;;
doc)
    plugin="$1" probe="$2" doc="$3"
    case "$(readelf -h "$plugin" | sed -n 's/^ *Class: *//p')" in
        ELF64) flavour=amd64 ;;
        *) flavour=i386 ;;
    esac
    expected="$(doc_layouts "$doc" "$flavour")"
    [ -n "$expected" ] || bad "no record tables found in $doc"
    types="$(cut -d' ' -f1 <<<"$expected" | sort -u)"
    for t in $DOCUMENTED_RECORDS; do grep -q "^$t size " <<<"$expected" || bad "$doc: no table for $t"; done
    actual="$(layouts_of "$plugin" "$probe" $types)"
    compare "$expected" "$actual" "$doc"
    # And the other way round: every member of a documented record is in its table.
    while read -r t m rest; do
        [ "$m" = size ] && continue
        grep -q "^$t $m " <<<"$expected" || bad "$doc: $t.$m ($rest) is missing from the table"
    done <<<"$(grep -E "^($(paste -sd'|' - <<<"$types")) " <<<"$actual")"
    echo "checked $(wc -l <<<"$expected") rows of $(wc -l <<<"$types") record tables ($flavour)"
    # The code table: each constant's text as in the code headers (records/Codes.h, and
    # records/HostRecords.h for the two the host reads), its value spelled by the text.
    codes_h="$(cat "$(dirname "$doc")/../records/Codes.h" "$(dirname "$doc")/../records/HostRecords.h")"
    code_rows="$(sed -nE 's/^\| `(kCode[A-Za-z0-9]+)` \| "(....)" \| (0x[0-9A-Fa-f]{8}) \|.*/\1|\2|\3/p' "$doc")"
    [ -n "$code_rows" ] || bad "$doc: no code table"
    while IFS='|' read -r name text value; do
        in_code="$(sed -nE "s/.*constexpr uint32_t $name = FourCC\(\"(....)\"\).*/\1/p" <<<"$codes_h")"
        [ "$in_code" = "$text" ] || bad "$doc: $name is \"$text\" here, \"$in_code\" in the code headers"
        spelled=0
        for i in 3 2 1 0; do spelled=$(( (spelled << 8) | $(printf '%d' "'${text:$i:1}") )); done
        [ "$(printf '0x%08X' "$spelled")" = "$(tr a-f A-F <<<"${value#0x}" | sed 's/^/0x/')" ] ||
            bad "$doc: $name \"$text\" has the value $(printf '0x%08X' "$spelled"), not $value"
    done <<<"$code_rows"
    for name in $(sed -nE 's/^constexpr uint32_t (kCode[A-Za-z0-9]+) = FourCC.*/\1/p' <<<"$codes_h"); do
        grep -q "^$name|" <<<"$code_rows" || bad "$doc: $name is missing from the code table"
    done
    echo "checked $(wc -l <<<"$code_rows") codes"
    ;;
headers)
    stage="$1" cxx="$2"; shift 2
    incs=(-I "$stage/include/vrn3")
    # The stage's flavour: i386 headers are compiled for i386, as a 32-bit host compiles them.
    arch=()
    [ -d "$stage/lib/i386-linux-gnu" ] && arch=(-m32)
    for d in "$@"; do incs+=(-I "$d"); done
    count=0
    while IFS= read -r h; do
        rel="${h#"$stage/include/vrn3/"}"
        echo "#include <$rel>" | "$cxx" "${arch[@]}" -D_GLIBCXX_USE_CXX11_ABI=0 -fPIC -std=c++17 -Wall -Wextra -Werror \
            -fsyntax-only "${incs[@]}" -x c++ - || bad "installed header $rel does not compile on its own"
        count=$((count + 1))
    done < <(find "$stage/include/vrn3" -name '*.h' | sort)
    for h in blocks/CBrick.h blocks/TBrickConfig.h blocks/cMemBlock.h records/BlockTypes.h host/CPipeline.h \
             host/CPluginLibrary.h records/SoundBrickConfig.h; do
        [ -f "$stage/include/vrn3/$h" ] || bad "header $h is not installed"
    done
    echo "compiled $count installed headers"
    ;;
host-symbols)
    plugin="$1" doc="$2"
    # Everything the libraries it needs define but the host's (the loader of the plug-in's flavour
    # resolves them, as ldd has it do, the i386 one through the emulator where the build runs i386
    # programs in one): the C/C++ runtime, Qt, and the sanitizers' runtime, which defines malloc
    # and the like without versions.
    if [ "$(readelf -h "$plugin" | sed -n 's/^ *Class: *//p')" = ELF64 ]; then
        resolved="$(LD_TRACE_LOADED_OBJECTS=1 /lib64/ld-linux-x86-64.so.2 "$plugin")"
    else
        resolved="$(LD_TRACE_LOADED_OBJECTS=1 ${VRN3_I386_EMULATOR:+"$VRN3_I386_EMULATOR"} /lib/ld-linux.so.2 "$plugin")"
    fi
    ! grep -F 'not found' <<<"$resolved" || bad "the loader cannot find every library $plugin needs"
    others="$(awk '$2 == "=>" && $1 != "libvrn3host.so.1" {print $3}' <<<"$resolved")"
    [ -n "$others" ] || bad "ldd finds none of the libraries $plugin needs"
    runtime="$(for lib in $others; do nm -DC --defined-only "$lib"; done |
               sed -E 's/^[0-9a-f]+ [A-Za-z] //; s/@.*//' | sort -u)"
    taken="$(nm -DC --undefined-only "$plugin" | sed -E 's/^ *[Uw] //; s/@.*//' |
             grep -vE '^(_ITM_|__gmon_start__)' | sort -u | comm -23 - <(echo "$runtime"))"
    while IFS= read -r sym; do
        [ -n "$sym" ] || continue
        grep -qxF "$sym" <<<"$HOST_SYMBOLS" || bad "the plug-in takes '$sym' from the host"
    done <<<"$taken"
    listed="$(awk '/^```symbols/ { f = 1; next } /^```/ { f = 0 } f' "$doc" | sort)"
    [ "$listed" = "$(sort <<<"$HOST_SYMBOLS")" ] ||
        bad "$doc lists other host symbols: $(diff <(sort <<<"$HOST_SYMBOLS") - <<<"$listed" | grep '^[<>]' | paste -sd' ' -)"
    echo "the plug-in takes $(grep -c . <<<"$taken") symbols from the host"
    ;;
qlist)
    lib="$1" want="$2"
    got="$(pahole -C Data "$lib" 2>/dev/null | sed -nE 's/.*[ *]array\[1\];[ \t]*\/\*[ \t]*([0-9]+) .*/\1/p' | head -n 1)"
    [ "$got" = "$want" ] || bad "$lib: the QList data's array is at byte '${got:-?}', not $want"
    ;;
*)
    echo "usage: $0 exports|dynamic|doc|headers|host-symbols|qlist ..." >&2
    exit 2
    ;;
esac
exit "$fail"
