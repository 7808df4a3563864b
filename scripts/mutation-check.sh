#!/usr/bin/env bash
# Shows that the test suite catches faults: each mutation below changes one line of the product
# code (blocks, host, stream, sound brick, records, the capture library, vrn3-play, vrn3-replay and
# their shared layer), the build is brought up to date, and the tests that exercise that code run;
# a mutation is killed when one of them fails (a hang counts, through ctest's timeout).
#   scripts/mutation-check.sh [build dir]        (default build/release, configured by test.sh)
#   MUTATIONS='3 7' scripts/mutation-check.sh    only those mutations, by number
#   TESTS='^WavFile\.' scripts/mutation-check.sh  run these tests (a ctest -R expression) for
#                                                every mutation, instead of its folder's
#   SAMPLE=12 scripts/mutation-check.sh          12 mutations drawn from the list by a seed it
#                                                prints; SEED=n SAMPLE=12 draws the same 12 again
#   scripts/mutation-check.sh --lines            only checks that every mutation's line is in its
#                                                file (no build, no test; ctest runs it)
# With neither MUTATIONS nor SAMPLE, the whole list runs, one mutation after another.
# Prints "N killed, M survived" and names the survivors; exits non-zero when one survives, when a
# mutation's line is not in its file, or when one does not build: each of those is a list that no
# longer matches the code, and is mended here. Every mutation's line is looked for before anything
# is built, the ones not chosen too, so that a sample fails as soon as any line of the list is gone.
#
# Before any mutation, the tests each chosen mutation will run are run on the unmutated tree: if
# one of them fails there, every mutant would count as killed, so the script stops.
#
# Which tests run for a mutation depends on the folder of its file (TESTS_FOR below); under an
# emulator (VRN3_I386_EMULATOR, which ctest passes on) a run of the whole suite per mutant would
# take hours. Every file is put back as it was, also on Ctrl-C. Only what a mutation touches is
# rebuilt, so a mutation of a .cpp costs one compile and its tests; one of a blocks/ header
# rebuilds everything that includes it, so those come last.
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
LINES_ONLY=""
[ "${1:-}" != --lines ] || LINES_ONLY=1

# The ctest names (a regular expression) of the tests that exercise the code of each folder:
# GoogleTest cases are named Suite.Case, the other tests by their ctest name. A file's tests are
# those of its two leading folders (tools/vrn3-play) when they have an entry, else of its first.
BRICK_TESTS='^(SoundPlugin|ExtractParamStr|HeaderParameters|FrameRate|StreamBase|StreamNumber|Conservation|ThreadedStress)\.|^allocation_failure_sweep$'
HOST_TESTS='^(CBrick|CPipeline|CCriticalSection|cMemBlock|cStructBlock|cCommandBlock|SoundPlugin|Conservation|ThreadedStress)\.'
declare -A TESTS_FOR=(
    [blocks]="$HOST_TESTS"
    [host]="$HOST_TESTS|^CPluginLibrary\\.|^tools_vrn3_play_plugin\$"
    [stream]="$BRICK_TESTS"
    [sound]="$BRICK_TESTS"
    [records]="$BRICK_TESTS"
    [tools/vrn3-play]='^WavFile\.|^tools_vrn3_play_(sample|long|streams|inputs|plugin|cli|summary|io|plan|modes|targets|unwritable|kept|commit|descriptors|signals)$|^tools_aliases_'
    [capture]='^Capture\.|^capture_'
    [tools/vrn3-replay]='^capture_(replay|fault|cut|replay-cli|replay-report|digests-.*)$'
    [tools/common]='^(WavFile|JsonWriter|BlockText)\.|^tools_vrn3_play_|^tools_aliases_|^capture_(replay|fault|replay-cli|replay-report|failed-run|digests-.*)$'
)

# file @@ text of the line as it is (its first occurrence is changed) @@ what it becomes
MUTATIONS_LIST=$(cat <<'EOF'
host/CBrick.cpp @@ if (block.GetType() == kCodeNtfy) @@ if (block.GetType() == kCodeEvt)
host/CBrick.cpp @@ if (d->stopped) @@ if (false)
host/CBrick.cpp @@ if (previous == nullptr || previous == this) @@ if (previous == nullptr)
host/CBrick.cpp @@ return d->created && std::memcmp(&input, &d->config.input, sizeof input) == 0; @@ return std::memcmp(&input, &d->config.input, sizeof input) == 0;
host/CPipeline.cpp @@ d->idle.wait(lock, [this] { return d->pending.load() == 0; }); @@ d->idle.wait(lock, [this] { return d->pending.load() <= 1; });
host/CPipeline.cpp @@ if (!failure) @@ if (true)
host/CPipeline.cpp @@ std::swap(failure, d->failure); @@ failure = d->failure;
host/CPipeline.cpp @@ if (!threaded) { @@ if (threaded) {
host/CPluginLibrary.cpp @@ return path.find('/') == std::string::npos ? "./" + path : path; @@ return path;
host/CPluginLibrary.cpp @@ throw Error(Error::kFactory, why); @@ throw Error(Error::kOpen, why);
host/CPluginLibrary.cpp @@ if (!image.QtCore().empty() && image.QtCore() != VRN3_HOST_QT_SONAME) @@ if (image.QtCore() != VRN3_HOST_QT_SONAME)
host/CPluginLibrary.cpp @@ if (!image.IsElf()) @@ if (false)
host/CPluginImage.cpp @@ if (!file.Read(0, sizeof start, start) || std::memcmp(start, ELFMAG, SELFMAG) != 0) @@ if (!file.Read(0, sizeof start, start))
host/CPluginImage.cpp @@ const size_t digits = name.find_first_not_of("0123456789", 5); @@ const size_t digits = name.find_first_not_of("0123456789", 6);
host/CPluginImage.cpp @@ return mIsElf && mClass == kHostClass && mData == ELFDATA2LSB && mMachine == kHostMachine; @@ return mIsElf && mClass == kHostClass && mMachine == kHostMachine;
host/CPluginImage.cpp @@ machine == EM_X86_64 ? "x86-64" : number; @@ machine == EM_X86_64 ? "x86-64" : "another machine";
host/CCriticalSection.cpp @@ if (timeout == 0) @@ if (timeout == 1)
host/CCriticalSection.cpp @@ seen = state.exchange(kContended, std::memory_order_acquire); // others @@ seen = state.exchange(kLocked, std::memory_order_acquire); // others
capture/CCaptureRecorder.cpp @@ const TCapturePacket capture{mPackets + 1, type, size, path, direction, form, 0}; @@ const TCapturePacket capture{mPackets, type, size, path, direction, form, 0};
capture/CapturePaths.h @@ return type == kCodeNtfy ? kPathNotify : kPathData; @@ return type == kCodeEvt ? kPathNotify : kPathData;
capture/PcapngBlocks.h @@ return (kBlockAlignment - size % kBlockAlignment) % kBlockAlignment; @@ return kBlockAlignment - size % kBlockAlignment;
capture/CBlockWire.cpp @@ AppendU32(out, entry.streamNumber); @@ AppendU32(out, entry.word1);
capture/CBlockWire.cpp @@ AppendText(out, stream.reserved6, tail); @@ AppendText(out, stream.params, tail);
capture/CCaptureReader.cpp @@ if (magic == kSwappedByteOrderMagic) @@ if (false)
capture/CCaptureReader.cpp @@ if (end.count != mPackets) @@ if (end.count < mPackets)
capture/CCaptureReader.cpp @@ if (packet.header.path > kPathConfig || @@ if (packet.header.path > kPathConfig + 1 ||
capture/CCaptureReader.cpp @@ return mEnded ? false : Cut("no end record; the recording did not finish"); @@ return false;
capture/CCaptureReader.cpp @@ if (mEnded) @@ if (false)
tools/vrn3-replay/Replayer.cpp @@ if (result.before.size() > kContext) @@ if (result.before.size() >= kContext)
tools/vrn3-replay/Replayer.cpp @@ if (!reader.Partial()) @@ if (false)
tools/vrn3-replay/Replayer.cpp @@ result.replayedMissing = mSent.empty(); @@ result.replayedMissing = false;
tools/vrn3-replay/main.cpp @@ std::to_string(result.outputs) + " blocks out" @@ std::to_string(result.inputs) + " blocks out"
tools/vrn3-replay/main.cpp @@ .Unsigned("last_packet", result.lastPacket); @@ .Unsigned("last_packet", result.inputs);
tools/vrn3-replay/main.cpp @@ .Raw("captured", JsonLine(result.capturedMissing, result.captured)) @@ .Raw("captured", JsonLine(false, result.captured))
tools/vrn3-replay/main.cpp @@ return kExitInput; @@ return kExitOutput;
tools/common/OutputFile.cpp @@ if (fchmod(mFd, known ? info.st_mode & 07777 : 0666 & ~mask) != 0) @@ if (fchmod(mFd, known ? info.st_mode & 07777 : 0666 & mask) != 0)
tools/common/OutputFile.cpp @@ const bool known = mIdentity.name.empty() && fstatat(mFolder, mName.c_str(), &info, 0) == 0; @@ const bool known = !mIdentity.name.empty() && fstatat(mFolder, mName.c_str(), &info, 0) == 0;
tools/common/OutputFile.cpp @@ if (stream != nullptr && (standard ? std::fflush(stream) != 0 || std::ferror(stream) : std::fclose(stream) != 0)) @@ if (stream != nullptr && !standard && std::fclose(stream) != 0)
tools/common/OutputPlan.cpp @@ if (!identity.null && identity == read.identity) @@ if (identity.null && identity == read.identity)
tools/common/OutputPlan.cpp @@ if (!out.empty()) @@ if (false)
tools/common/OutputPlan.cpp @@ const bool same = standard ? otherStandard : mFiles[j] && !identity.null && identity == mFiles[j]->Identity(); @@ const bool same = standard ? otherStandard : mFiles[j] && identity == mFiles[j]->Identity();
tools/common/OutputPlan.cpp @@ if (!standard && stream.regular && identity == stream) @@ if (false)
tools/common/OutputPlan.cpp @@ if (mFiles[j] && !mFiles[j]->Direct() && mFiles[j]->Current() == now) @@ if (false)
tools/common/FileIdentity.h @@ return known && other.known && device == other.device && inode == other.inode && name == other.name; @@ return known && other.known && device == other.device && inode == other.inode;
tools/common/JsonWriter.cpp @@ const bool valid = code >= least[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF); @@ const bool valid = code >= least[length] && code <= 0x10FFFF;
tools/common/JsonWriter.cpp @@ static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000}; @@ static const uint32_t least[] = {0, 0, 0x80, 0, 0x10000};
tools/common/JsonWriter.cpp @@ if ((next & 0xC0) != 0x80) @@ if ((next & 0x80) != 0x80)
tools/common/PluginLibrary.cpp @@ if (brick == nullptr) @@ if (false)
tools/common/PluginLibrary.cpp @@ if (e.step == CPluginLibrary::Error::kOpen) @@ if (false)
tools/common/ExitCodes.cpp @@ return failure.Code(); @@ return kExitProtocol;
tools/common/BlockText.cpp @@ std::snprintf(text, sizeof text, "TimR begin %" PRIu64 " end %" PRIu64, range.begin, range.end); @@ std::snprintf(text, sizeof text, "TimR begin %" PRIu64 " end %" PRIu64, range.begin, range.begin);
stream/CVRN3Stream.cpp @@ mHeaderReceived = true; @@ mHeaderReceived = status;
stream/CVRN3Stream.cpp @@ if (IsTagF(block)) @@ if (false)
stream/CVRN3Stream.cpp @@ if (!request.MarkVisited(this)) @@ if (!request.MarkVisited(nullptr))
stream/CVRN3Stream.cpp @@ if (!mForwardPlay && t <= mArchiveBegin) { @@ if (!mForwardPlay && t < mArchiveBegin) {
stream/CVRN3Stream.cpp @@ if (mForwardPlay && t >= mArchiveEnd) { @@ if (mForwardPlay && t > mArchiveEnd) {
stream/CVRN3Stream.cpp @@ mArchiveEnd = range.Record().end; @@ mArchiveEnd = range.Record().begin;
stream/CVRN3Stream.cpp @@ answer.value3 = reset.Record().value3; @@ answer.value3 = reset.Record().value2;
stream/CVRN3Stream.cpp @@ if (entry.streamNumber == static_cast<uint32_t>(mStreamNumber)) @@ if (entry.streamNumber != 0)
stream/CVRN3Stream.cpp @@ mFrameRateScales = stream == 0 ? kHalf : kQuarter; @@ mFrameRateScales = stream == 0 ? kQuarter : kHalf;
stream/CVRN3Stream.cpp @@ rate = std::ceil(divided); @@ rate = divided;
stream/CVRN3Stream.cpp @@ const size_t valueStart = start + std::strlen(key.c_str()); @@ const size_t valueStart = start + key.size();
stream/CVRN3Stream.cpp @@ mDefragOpen = kind != kFragmentLast; @@ mDefragOpen = true;
stream/CVRN3Stream.cpp @@ if (held - sizeof(DATA_T) + length > kMaxRecordPayload) @@ if (held + length > kMaxRecordPayload)
stream/CVRN3Stream.cpp @@ const long number = std::strtol(text, nullptr, 10); @@ const long number = std::strtol(text, nullptr, 16);
sound/CVrn3StreamSound.cpp @@ if (kind != kFragmentFirst && kind != kFragmentWhole) @@ if (kind != kFragmentWhole)
sound/CVrn3StreamSound.cpp @@ if (video.timeMode <= kLastReducedTimeMode) @@ if (video.timeMode < kLastReducedTimeMode)
sound/CVrn3StreamSound.cpp @@ if (mStreamNumber < 0 || mStreamNumber >= kStreamCount) @@ if (mStreamNumber < 0)
sound/CVrn3StreamSound.cpp @@ data.sourceFlags = record.Record().flags & kSourceFlagsMask; @@ data.sourceFlags = record.Record().flags & 0x3Fu;
sound/CVrn3StreamSound.cpp @@ mFrameOffset = 0; @@ ;
sound/VRN3SoundStream.cpp @@ if (!Is(config.input, kCodeSnd3, kCodeDat3) || !Is(config.output, kCodeIma1, kCodeSCDA)) @@ if (!Is(config.input, kCodeSnd3, kCodeDat3))
tools/vrn3-play/WavFile.cpp @@ if (channels != 1) @@ if (channels > 2)
tools/vrn3-play/WavFile.cpp @@ if (declared > fileSize) @@ if (false)
tools/vrn3-play/PlayerSink.cpp @@ else if (mForward && mOpenTagKind != kEndOfStreamTagKind) @@ else if (mForward)
tools/vrn3-play/SoundSpool.cpp @@ std::stable_sort(mChunks.begin(), mChunks.end(), [](const Chunk& a, const Chunk& b) { return a.first < b.first; }); @@ std::stable_sort(mChunks.begin(), mChunks.end(), [](const Chunk& a, const Chunk& b) { return a.first > b.first; });
tools/vrn3-play/ArchiveSource.cpp @@ if (i < other.size()) @@ if (false)
tools/vrn3-play/WavFile.cpp @@ Put32(out, static_cast<uint32_t>(uint64_t{rate} * blockAlign / SamplesIn(blockAlign))); @@ Put32(out, static_cast<uint32_t>(uint64_t{rate} * blockAlign / 505));
tools/vrn3-play/WavFile.cpp @@ Put16(out, blockAlign); @@ Put16(out, 256);
tools/common/OutputFile.cpp @@ mKind = known ? "replaced file" : "new file"; @@ mKind = "new file";
tools/common/JsonWriter.cpp @@ else if ((c < 0x20 || c == 0x7F || length == 0) && @@ else if ((c < 0x20 || c == 0x7F) &&
tools/common/JsonWriter.cpp @@ const bool valid = code >= least[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF); @@ const bool valid = code >= least[length] && code <= 0x10FFFF;
tools/common/JsonWriter.cpp @@ const bool valid = code >= least[length] && @@ const bool valid = code >= least[1] &&
tools/common/PluginLibrary.cpp @@ if (e.step == CPluginLibrary::Error::kOpen) @@ if (true)
tools/vrn3-play/main.cpp @@ if (std::fflush(stdout) != 0 || std::ferror(stdout)) @@ if (false)
tools/vrn3-play/main.cpp @@ if (settings.options.traceToStderr && (std::fflush(stderr) != 0 || std::ferror(stderr))) @@ if (false)
tools/vrn3-play/Summary.cpp @@ .Unsigned("samples", r.samples) @@ .Unsigned("samples", r.records)
tools/vrn3-play/Summary.cpp @@ r.inputSeekable ? "file" : "stream" @@ "file"
tools/vrn3-play/Summary.cpp @@ JsonWriter::Array({std::to_string(r.firstTime) @@ JsonWriter::Array({std::to_string(r.chunks)
stream/CVRN3Stream.cpp @@ const cTagBlock opening = EdgeTag(kCodeTagS, start, startKind, @@ const cTagBlock opening = EdgeTag(kCodeTagS, start, mTagStreamKind + 0 * startKind,
stream/CVRN3Stream.cpp @@ EdgeTag(kCodeTagF, start + kTagFAfterTagS, mTagStreamKind, 0); @@ EdgeTag(kCodeTagF, start + kTagFAfterTagS, mTagStreamKind, static_cast<uint32_t>(mStreamNumber));
stream/CVRN3Stream.cpp @@ const uint32_t length = asked < payload ? asked : payload; @@ const uint32_t length = payload + 0 * asked;
sound/CVrn3StreamSound.cpp @@ cfg.bytesPerSample = ParamNumber(value) >> 3; @@ cfg.bytesPerSample = ParamNumber(value) / 8;
sound/CVrn3StreamSound.cpp @@ if (cDataBlock::RecordOf(block).streamNumber != mStreamNumber) @@ if (false)
records/ControlRecords.h @@ return forward != 0; @@ return forward == 1;
blocks/cStructBlockNode.h @@ if (mRefCount == 1) @@ if (mRefCount >= 1)
blocks/cCommandBlock.h @@ return false; @@ return true;
host/CPluginLibrary.cpp @@ RTLD_NOW | RTLD_LOCAL @@ RTLD_LAZY | RTLD_LOCAL
tools/vrn3-replay/Replayer.cpp @@ a.direction == b.direction && a.form == b.form @@ a.direction == b.direction
capture/CCaptureRecorder.cpp @@ if (mFile != nullptr && std::fclose(mFile) != 0 && mError.empty()) @@ if (mFile != nullptr && std::fclose(mFile) != 0 && false)
capture/CCaptureReader.cpp @@ if (!ours || end.countCode != kOptionPacketsReceived) @@ if (!ours)
EOF
)

mapfile -t LINES <<<"$MUTATIONS_LIST"

CURRENT=""
restore() {
    if [ -n "$CURRENT" ]; then
        cp "$BACKUP" "$ROOT/$CURRENT" # a fresh mtime: the next build recompiles what the mutant built
        CURRENT=""
    fi
}
trap 'restore; exit 130' INT TERM
trap restore EXIT

# build <log>: brings the build up to date, true when it succeeds.
build() { cmake --build "$BUILD" -j2 >"$1" 2>&1; }
# run_tests <regex> <log>: the tests of <regex>, true when they all pass.
# Each test has its own time limit, so a mutant that makes one hang is killed by that limit.
run_tests() { ctest --test-dir "$BUILD" -j2 --no-tests=error -R "$1" >"$2" 2>&1; }
# tests_key <file>: the TESTS_FOR entry that covers <file>.
tests_key() {
    local two
    two="$(cut -d/ -f1-2 <<<"$1")"
    if [ -n "${TESTS_FOR[$two]:-}" ]; then echo "$two"; else echo "${1%%/*}"; fi
}

# Every mutation's line must be in its file: a list that no longer matches the code fails here,
# whichever mutations are chosen.
missings=()
n=0
for line in "${LINES[@]}"; do
    n=$((n + 1))
    file="${line%% @@ *}"
    rest="${line#* @@ }"
    grep -qF -- "${rest%% @@ *}" "$ROOT/$file" 2>/dev/null || missings+=("#$n $file: '${rest%% @@ *}'")
done
for s in "${missings[@]}"; do echo "not found: $s"; done
[ "${#missings[@]}" -eq 0 ] || { echo "mutation-check: ${#missings[@]} of $n lines not found; mend the list" >&2; exit 1; }
if [ -n "$LINES_ONLY" ]; then
    echo "mutation-check: the lines of all $n mutations are in their files"
    exit 0
fi

BUILD="$(cd "${1:-$ROOT/build/release}" && pwd)" || { echo "no build dir; run ./test.sh first" >&2; exit 2; }
LOG="$BUILD/mutation-check"
BACKUP="$LOG/original"
mkdir -p "$LOG"

# A sample: SAMPLE numbers drawn without repeats by a seed, printed so that the run can be repeated.
if [ -n "${SAMPLE:-}" ]; then
    SEED="${SEED:-$(( $(date +%s%N) % 1000000 ))}"
    MUTATIONS="$(python3 -c 'import random, sys; print(*sorted(random.Random(int(sys.argv[1])).sample(range(1, int(sys.argv[2]) + 1), int(sys.argv[3]))))' \
        "$SEED" "$n" "$SAMPLE")"
    echo "mutation-check: $SAMPLE of $n mutations, from seed $SEED (SEED=$SEED SAMPLE=$SAMPLE repeats them): $MUTATIONS"
fi

# The chosen mutations: number, file, from and to, split by the unit separator (code lines hold '|').
SEP=$'\x1f'
chosen=()
n=0
for line in "${LINES[@]}"; do
    n=$((n + 1))
    if [ -n "${MUTATIONS:-}" ] && ! grep -qw "$n" <<<"$MUTATIONS"; then continue; fi
    file="${line%% @@ *}"
    rest="${line#* @@ }"
    chosen+=("$n$SEP$file$SEP${rest%% @@ *}$SEP${rest#* @@ }")
done

echo "mutation-check: bringing $BUILD up to date"
build "$LOG/build.log" || { echo "the unmutated tree does not build; see $LOG/build.log" >&2; exit 2; }

echo "mutation-check: the tests the mutations run, on the unmutated tree"
declare -A baseline_done=()
for entry in "${chosen[@]}"; do
    IFS="$SEP" read -r n file from to <<<"$entry"
    key="$(tests_key "$file")"
    [ -n "${baseline_done[$key]:-}" ] && continue
    baseline_done[$key]=1
    if ! run_tests "${TESTS:-${TESTS_FOR[$key]}}" "$LOG/ctest-unmutated-${key//\//-}.log"; then
        echo "the tests of $key/ fail on the unmutated tree; see $LOG/ctest-unmutated-${key//\//-}.log" >&2
        exit 2
    fi
done

killed=0 survived=0 unbuilt=0
survivors=() unbuilts=()
started=$SECONDS
for entry in "${chosen[@]}"; do
    IFS="$SEP" read -r n file from to <<<"$entry"
    label="#$n $file: '$from' -> '$to'"
    at="$(grep -nF -- "$from" "$ROOT/$file" | head -n 1 | cut -d: -f1)"
    cp "$ROOT/$file" "$BACKUP"
    CURRENT="$file"
    awk -v n="$at" -v from="$from" -v to="$to" '
        NR == n { i = index($0, from); $0 = substr($0, 1, i - 1) to substr($0, i + length(from)) } { print }' \
        "$BACKUP" >"$ROOT/$file"
    if ! build "$LOG/build-$n.log"; then
        echo "NO BUILD $label (see $LOG/build-$n.log)"
        unbuilts+=("$label"); unbuilt=$((unbuilt + 1))
    elif run_tests "${TESTS:-${TESTS_FOR[$(tests_key "$file")]}}" "$LOG/ctest-$n.log"; then
        echo "SURVIVED $label"
        survivors+=("$label"); survived=$((survived + 1))
    else
        echo "killed   $label by $(grep -m1 -oE '[0-9]+ - [^ ]+ \((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception)' "$LOG/ctest-$n.log" | sed -E 's/^[0-9]+ - //')"
        killed=$((killed + 1))
    fi
    restore
done
build "$LOG/build.log" || true

echo
echo "$killed killed, $survived survived ($unbuilt did not build) in $((SECONDS - started)) s"
for s in "${survivors[@]}"; do echo "  survived:  $s"; done
for s in "${unbuilts[@]}"; do echo "  no build:  $s"; done
[ "$survived" -eq 0 ] && [ "$unbuilt" -eq 0 ]
