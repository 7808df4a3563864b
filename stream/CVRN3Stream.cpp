// Lifecycle and dispatch of the stream brick base, its delayed send queue, and chunk requests.
#include "CVRN3Stream.h"

#include "../records/DataPathBlocks.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

// The blocks of the record types the stream base makes or views, each type instantiated once in
// the library (the sound brick's own types are in its module).
template class cStructBlock<HDR_T, kCodeHdr3>;
template class cStructBlock<DATA_T, kCodeDat3>;
template class cStructBlock<TStreamTag, kCodeTag>;

namespace {

// Largest number of characters of the stream number text that can lie inside a configuration.
constexpr size_t kStreamTextMax = sizeof(TBrickConfig) - offsetof(TBrickConfig, streamNumber);

// The empty record the reassembly buffer starts with: a bare DATA_T, zeroed.
cDataBlock EmptyRecord()
{
    cDataBlock block;
    std::memset(&block.Record(), 0, sizeof(DATA_T));
    return block;
}

// True for a "Tag " block whose tag closes a chunk.
bool IsTagF(const cMemBlock& block)
{
    return block.GetType() == kCodeTag && block.GetSize() >= sizeof(TStreamTag) &&
           cTagBlock::RecordOf(block).code == kCodeTagF;
}

} // namespace

CVRN3Stream::CVRN3Stream()
    : mStreamNumber(kNoStream), mDefragBlock(EmptyRecord()), mFrameRateScales(0), mFrameRate(0.0f),
      mPresetFrameRate(0.0f), mChunkRequestCount(0), mArchiveBegin(0), mArchiveEnd(UINT64_MAX), mTagStreamKind(0),
      mForwardPlay(true), mHeaderReceived(false), mDefragOpen(false), mDefragRoom(0)
{
}

// Members go in reverse order: the queue with every held block, the reassembly block, the text.
CVRN3Stream::~CVRN3Stream() {}

bool CVRN3Stream::onCreate(const TBrickConfig& config)
{
    // The text is read only within the configuration, even when it has no NUL of its own.
    char text[kStreamTextMax + 1];
    std::strncpy(text, config.streamNumber, kStreamTextMax);
    text[kStreamTextMax] = '\0';
    const long number = std::strtol(text, nullptr, 10);
    mStreamNumber = static_cast<TStreamNumber>(number < INT32_MIN   ? INT32_MIN
                                               : number > INT32_MAX ? INT32_MAX
                                                                    : number);
    return true;
}

bool CVRN3Stream::onData(const cMemBlock& block)
{
    if (block.GetType() != kCodeHdr3)
        return true;
    if (block.GetSize() < sizeof(HDR_T))
        return true; // malformed: too short to hold a header; dropped
    const cHeaderBlock header(block);
    const bool status = OnHeader(header);
    mHeaderReceived = true;
    return status;
}

bool CVRN3Stream::onCtrl(cMemBlock& block)
{
    const uint32_t type = block.GetType();
    if (type == kCodeChun) {
        if (block.GetSize() >= sizeof(TCmdRequestChunk))
            ProcessChunkCmd(cChunkCmdBlock(block));
    } else if (type == kCodePlay) {
        if (block.GetSize() >= offsetof(TCmdPlay, forward) + sizeof(bool))
            ProcessPlayCmd(cPlayCmdBlock(block));
    } else if (type == kCodeGTmR) {
        SendCmd(block);
    }
    return true;
}

bool CVRN3Stream::OnHeader(const cHeaderBlock&)
{
    return false;
}

void CVRN3Stream::ProcessActivityHist(const cGistBlock&) {}

bool CVRN3Stream::ProcessPlayCmd(const cPlayCmdBlock& play)
{
    // The direction changes only once the command has gone on.
    const bool forward = PlaysForward(play.Record());
    const bool status = SendCmd(play);
    mForwardPlay = forward;
    return status;
}

void CVRN3Stream::DoReset()
{
    mDelayedBlocks.clear();
    mChunkRequestCount = 0;
}

void CVRN3Stream::DecChunkRequestCount()
{
    assert(mChunkRequestCount > 0 && "the request count never goes below zero");
    --mChunkRequestCount;
}

void CVRN3Stream::DelayableSend(const cMemBlock& block)
{
    if (!mHeaderReceived || SentAtOnce(block))
        return;
    mDelayedBlocks.append(block);
    DelayedSend();
}

// With a request outstanding and nothing older waiting, the block leaves at once, without
// passing through the queue; a "TagF" settles its request once SendData has returned. If
// SendData throws, the exception passes with nothing counted. False, with nothing done, when
// the block has to wait.
bool CVRN3Stream::SentAtOnce(const cMemBlock& block)
{
    if (!HasChunkRequests() || !mDelayedBlocks.isEmpty())
        return false;
    SendData(block);
    if (IsTagF(block))
        DecChunkRequestCount();
    return true;
}

// A block leaves the queue, and a "TagF" settles its request, only once SendData has taken it:
// when SendData throws, the block stays at the front and the count stays as it was, so the
// next request or offered block resumes from there.
void CVRN3Stream::DelayedSend()
{
    while (HasChunkRequests() && !mDelayedBlocks.isEmpty()) {
        const cMemBlock& front = mDelayedBlocks.front();
        const bool settles = IsTagF(front);
        SendData(front);
        mDelayedBlocks.removeFirst();
        if (settles)
            DecChunkRequestCount();
    }
}

void CVRN3Stream::ProcessChunkCmd(const cChunkCmdBlock& request)
{
    if (!request.MarkVisited(this))
        return;
    const uint64_t t = request.Record().time;
    if (!mForwardPlay && t <= mArchiveBegin) {
        SendBeginOfStreamSequence(request);
        return;
    }
    if (mForwardPlay && t >= mArchiveEnd) {
        SendEndOfStreamSequence(request);
        return;
    }
    OnChunkCmd(request);
    IncChunkRequestCount();
    if (mHeaderReceived)
        DelayedSend();
    if (HasChunkRequests())
        SendCmd(request);
}

void CVRN3Stream::SendBeginOfStreamSequence(const cChunkCmdBlock& request)
{
    const TCmdRequestChunk& r = request.Record();
    uint64_t steps = (mArchiveBegin - r.time) / kChunkLength;
    if (r.mode == kModeOneMoreStep)
        ++steps;
    SendEdgeTags(mArchiveBegin - steps * kChunkLength, mTagStreamKind);
}

void CVRN3Stream::SendEndOfStreamSequence(const cChunkCmdBlock& request)
{
    const TCmdRequestChunk& r = request.Record();
    uint64_t steps = (r.time - mArchiveEnd) / kChunkLength;
    if (r.mode == kModeOneMoreStep)
        ++steps;
    SendEdgeTags(mArchiveEnd + steps * kChunkLength, kEndOfStreamTagKind);
}

// Answers a request with an empty chunk of the brick's own: "TagS" at `start`, "TagF"
// kTagFAfterTagS later. Before the first header the tags could not leave, so the request is not
// counted either: a count without its "TagF" would release a later chunk's data one request early.
// Both tags are made before anything changes, and the count is raised only once both are
// queued, so a failure leaves the brick as it was.
void CVRN3Stream::SendEdgeTags(uint64_t start, uint32_t startKind)
{
    if (!mHeaderReceived)
        return;
    const cTagBlock opening = EdgeTag(kCodeTagS, start, startKind, static_cast<uint32_t>(mStreamNumber));
    const cTagBlock closing = EdgeTag(kCodeTagF, start + kTagFAfterTagS, mTagStreamKind, 0);
    QueuePair(opening, closing);
    IncChunkRequestCount();
    DelayedSend();
}

cTagBlock CVRN3Stream::EdgeTag(uint32_t code, uint64_t time, uint32_t kind, uint32_t streamNumber)
{
    cTagBlock tag = MakeTagBlock(code, time, streamNumber);
    tag.Record().kind = kind;
    return tag;
}

// Queues both blocks or neither: the room for both is made first, and only that can fail.
void CVRN3Stream::QueuePair(const cMemBlock& first, const cMemBlock& second)
{
    mDelayedBlocks.reserve(2);
    mDelayedBlocks.append(first);
    mDelayedBlocks.append(second);
}

bool CVRN3Stream::onNotify(const cMemBlock& block)
{
    if (block.GetSize() < sizeof(TNotifyBase))
        return true; // no code to read: malformed, dropped unread like any short block
    const cNotifyBlock notification(block);
    const uint32_t code = notification.Record().notifyCode;
    if (code == kCodeTimR)
        HandleTimeRange(block);
    else if (code == kCodeRset)
        HandleReset(block);
    else if (code == kCodeEvt) {
        if (block.GetSize() >= sizeof(TEventList))
            ProcessEventList(cEventListBlock(block));
    } else if (code == kCodeGist)
        ProcessActivityHist(cGistBlock(block));
    else
        SendData(block);
    return true;
}

void CVRN3Stream::HandleTimeRange(const cMemBlock& block)
{
    if (block.GetSize() < sizeof(TSrcTimeRange))
        return; // malformed: dropped, the range stays
    // The range is taken only once the notification has gone on.
    const cTimeRangeBlock range(block);
    SendData(block);
    mArchiveBegin = range.Record().begin;
    mArchiveEnd = range.Record().end;
}

// A reset empties the queue and the request count; one "Rdy " echoing its values leaves in its
// place. The answer is made and sent first: a reset whose answer cannot go out does not happen.
// (Nothing reaches the brick between the two: its handlers run one at a time.)
void CVRN3Stream::HandleReset(const cMemBlock& block)
{
    if (block.GetSize() < sizeof(TVRN3ResetNotify))
        return; // malformed: dropped without a reset
    const cResetBlock reset(block);
    cReadyBlock ready;
    TReadyNotification& answer = ready.Record();
    answer.value1 = reset.Record().value1;
    answer.value2 = reset.Record().value2;
    answer.flag = reset.Record().flag;
    answer.value3 = reset.Record().value3;
    SendData(ready);
    DoReset();
}

void CVRN3Stream::ProcessEventList(const cEventListBlock& list)
{
    cEventListBlock narrowed;
    QList<TEventListEntry>& mine = narrowed.Record().entries;
    for (const TEventListEntry& entry : list.Record().entries) {
        if (entry.streamNumber == static_cast<uint32_t>(mStreamNumber))
            mine.append(entry);
    }
    if (!mine.isEmpty())
        SendData(narrowed);
}

// Shares of the base rate of 75 for this stream: three rated streams split it one half (stream
// 0) and two quarters; otherwise each rated stream takes one share.
void CVRN3Stream::CalcFrameRateScales(const HDR_T& header, TStreamNumber stream)
{
    constexpr uint32_t kSplitStreams = 3, kHalf = 2, kQuarter = 4;
    uint32_t count = 0;
    for (const STREAM_T& entry : header.streams) {
        if (entry.kind == kRatedStreamKind)
            ++count;
    }
    if (count == kSplitStreams)
        mFrameRateScales = stream == 0 ? kHalf : kQuarter;
    else
        mFrameRateScales = count;
}

void CVRN3Stream::CalcFrameRate(unsigned long divisor)
{
    constexpr double kBaseRate = 75.0;
    if (mFrameRateScales == 0) {
        mFrameRate = __builtin_nanf("");
        return;
    }
    double rate = mPresetFrameRate >= 1.0f ? static_cast<double>(mPresetFrameRate) : kBaseRate / mFrameRateScales;
    if (divisor != 1) {
        const double divided = rate / static_cast<double>(divisor);
        rate = std::ceil(divided);
    }
    mFrameRate = static_cast<float>(rate / static_cast<double>(kChunkLength));
}

// The text after the first occurrence of `key` up to the next blank (or the end). Both are
// searched as C strings, so the search stops at the first NUL; a value without a blank runs to
// the end of the whole text.
void CVRN3Stream::ExtractParamStr(const std::string& text, const std::string& key, std::string& value)
{
    value.clear();
    const char* found = std::strstr(text.c_str(), key.c_str());
    if (found == nullptr)
        return;
    const size_t start = static_cast<size_t>(found - text.c_str());
    const size_t valueStart = start + std::strlen(key.c_str()); // the key as searched, up to its NUL
    const char* blank = std::strchr(found, ' ');
    const size_t blankAt = blank == nullptr ? std::string::npos : static_cast<size_t>(blank - text.c_str());
    if (blankAt == std::string::npos || blankAt < valueStart)
        value.assign(text, valueStart, std::string::npos);
    else
        value.assign(text, valueStart, blankAt - valueStart);
}

// Fragments of one record come together in mDefragBlock: a whole or first fragment is taken
// as it is (shared, not copied); a middle or last fragment extends the open record in a block of
// this brick's own. A continuation with no open record (its first fragment was lost, or the
// record it belonged to was discarded) is dropped: it can only make a record with part of its
// sound missing or another record's sound in front.
//
// The fragment is read through the caller's handle, which it must have tested as a data block
// at least as large as DATA_T.
bool CVRN3Stream::Defragmentation(const cMemBlock& fragment)
{
    const uint8_t kind = FragmentKind(cDataBlock::RecordOf(fragment).flags);
    if (kind == kFragmentWhole || kind == kFragmentFirst) {
        DropDefragBlock();
        mDefragBlock = fragment;
        mDefragOpen = kind == kFragmentFirst;
        return kind == kFragmentWhole;
    }
    if (!mDefragOpen)
        return false;
    // Closed while the fragment is appended: a record that misses this fragment's bytes (the
    // append threw) takes no more fragments.
    mDefragOpen = false;
    if (!AppendFragment(fragment)) {
        DropDefragBlock();
        mDefragBlock = EmptyRecord(); // the record outgrew its bound: discarded
        return false;
    }
    mDefragOpen = kind != kFragmentLast;
    return kind == kFragmentLast;
}

// Appends a continuation's `length` bytes, clipped to the payload the fragment really has.
// False when the record would outgrow kMaxRecordPayload.
//
// The brick's own block is made with room to spare (a power of two, at least the room the last
// record needed) and grows in place while it has room, so a record of n fragments costs one copy
// of its bytes rather than n copies of everything gathered so far. The brick made that block and
// never passes it on (a completed record leaves as a copy), so it holds it alone and grows it
// without asking the node's count under its lock. Only the bytes up to the block's size are ever
// seen: what leaves the brick is unchanged.
bool CVRN3Stream::AppendFragment(const cMemBlock& fragment)
{
    const uint32_t payload = fragment.GetSize() - static_cast<uint32_t>(sizeof(DATA_T));
    const uint16_t asked = cDataBlock::RecordOf(fragment).length;
    const uint32_t length = asked < payload ? asked : payload;
    const uint32_t held = mDefragBlock.GetSize();
    if (held - sizeof(DATA_T) + length > kMaxRecordPayload)
        return false;
    const uint32_t size = held + length;
    if (DefragOwned() && size <= 1u << DefragRoomLog2())
        mDefragBlock.SetSoleSize(size);
    else
        NewDefragBlock(size);
    std::memcpy(reinterpret_cast<uint8_t*>(&mDefragBlock.SoleRecord()) + held, cDataBlock::ExtraOf(fragment), length);
    return true;
}

// Moves the bytes held so far into a new block of the brick's own of data size `size`, with
// room for at least that (a power of two, no less than the last record's room). The new block's
// one reference is handed to mDefragBlock; the block it held is released as the local handle
// goes. Throws std::bad_alloc with nothing changed.
void CVRN3Stream::NewDefragBlock(uint32_t size)
{
    constexpr uint8_t kLeastRoom = 8; // 256 bytes
    uint8_t room = DefragRoomLog2();
    if (room < kLeastRoom)
        room = kLeastRoom;
    while ((1u << room) < size)
        ++room;
    const uint32_t held = mDefragBlock.GetSize();
    cDataBlock record((1u << room) - static_cast<uint32_t>(sizeof(DATA_T)), mDefragBlock.GetType());
    const cDataBlock& open = mDefragBlock;
    std::memcpy(&record.SoleRecord(), &open.Record(), held);
    record.SetSoleSize(size); // made here, held alone
    DropDefragBlock();
    mDefragBlock.Swap(record);
    mDefragRoom = static_cast<uint8_t>(kDefragOwn | room);
}

// Before the brick's own block is let go: its size is set back to its whole room, so that its
// pool measures the storage by what it really holds and the next record's block is served
// from it; the room the dropped record needed is kept as the next one's first guess.
void CVRN3Stream::DropDefragBlock()
{
    if (!DefragOwned())
        return;
    const uint32_t held = mDefragBlock.GetSize();
    mDefragBlock.SetSoleSize(1u << DefragRoomLog2());
    uint8_t needed = 0;
    while ((1u << needed) < held)
        ++needed;
    mDefragRoom = needed;
}
