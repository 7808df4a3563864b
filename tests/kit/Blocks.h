// The test kit's vocabulary for blocks: makers for every block a brick takes in, well-formed
// or cut short, a look at the node behind a handle and at the pools, and one-word descriptions
// of what left a brick. Used by the unit tests, the property tests and the fuzz targets alike,
// so it needs nothing but the product's headers.
//
// Blocks made here come from the caller's own pools (or, for RawBlock, plain malloc) and live
// as long as their last handle, whoever holds it.
#pragma once

#include "../../blocks/CBrick.h"
#include "../../host/CEventLists.h"
#include "../../records/BlockTypes.h"
#include "../../records/SoundBrickConfig.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>
#include <vector>

namespace kit {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kStream = 5; // the stream a brick under test extracts
constexpr const char* kParams = "-rate=8000 -bits=16";
constexpr uint8_t kWhole = kFragmentWhole, kFirst = kFragmentFirst, kMiddle = kFragmentMiddle, kLast = kFragmentLast;

// n bytes of a pattern that differs with the seed and the position.
inline Bytes Pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(seed * 31 + i * 7);
    return b;
}

// The sound brick's configuration with the stream number text `stream`, and the descriptors it
// accepts unless named.
inline TBrickConfig Config(const char* stream, uint32_t inContent = kCodeSnd3, uint32_t inRecord = kCodeDat3,
                           uint32_t outContent = kCodeIma1, uint32_t outRecord = kCodeSCDA)
{
    TBrickConfig c = SoundBrickConfig(0);
    c.input = {inContent, inRecord};
    c.output = {outContent, outRecord};
    std::memset(c.streamNumber, 0, sizeof c.streamNumber);
    std::strncpy(c.streamNumber, stream, sizeof c.streamNumber - 1);
    return c;
}

// The node behind a handle, and its reference count (handles keep both protected).
struct Peek : cMemBlock {
    static node* Node(const cMemBlock& block) { return block.*(&Peek::mNode); }
    static uint32_t Count(const cMemBlock& block) { return Node(block)->mRefCount; }
    static bool Same(const cMemBlock& a, const cMemBlock& b) { return Node(a) == Node(b); }
};

// A record that counts its lives. Each Tag is a record type of its own, so a test that uses one
// has a pool of its own that starts empty. It has a destructor and an assignment of its own, as
// records with owning members do.
template <int Tag>
struct TCounted {
    TCounted() { ++constructed; }
    ~TCounted() { ++destroyed; }
    TCounted(const TCounted&) = delete;
    TCounted& operator=(const TCounted& other)
    {
        value = other.value;
        text = other.text;
        return *this;
    }
    static int Live() { return constructed - destroyed; }

    uint32_t value = 0;
    std::string text;
    static inline std::atomic<int> constructed{0}, destroyed{0};
};
constexpr uint32_t kCodeTest = FourCC("Test");

// The storage in the pool of Block's record type, most recently pooled first.
template <class Block>
std::vector<const void*> Pooled()
{
    using Node = typename Block::node;
    CSingleLock lock(&Node::mChain.mLock, true);
    return std::vector<const void*>(Node::mChain.begin(), Node::mChain.end());
}

// A block of any type whose data is exactly `data`, in storage of exactly that size, laid out
// as a structure block is: a read past it is caught by AddressSanitizer.
class RawBlock : public cMemBlock {
    class node : public cMemBlock::node {
    public:
        void unref() override
        {
            mLock.Lock(INFINITE);
            const uint32_t left = --mRefCount;
            mLock.Unlock();
            if (left == 0) {
                this->~node();
                std::free(this);
            }
        }
    };
    static node* Make(uint32_t type, const Bytes& data)
    {
        void* storage = std::malloc(sizeof(node) + data.size());
        if (storage == nullptr)
            throw std::bad_alloc();
        node* n = new (storage) node;
        n->mType = type;
        n->mSize = static_cast<uint32_t>(data.size());
        std::copy(data.begin(), data.end(), reinterpret_cast<uint8_t*>(n + 1));
        return n;
    }

public:
    RawBlock(uint32_t type, const Bytes& data) : cMemBlock(Make(type, data), AdoptTag()) {}
};

// The same block with its data size cut to `size`, as a faulty neighbour might send it.
inline cMemBlock Shrunk(cMemBlock block, uint32_t size)
{
    Peek::Node(block)->mSize = size;
    return block;
}

struct Entry {
    int number;
    const char* codec;
    const char* params;
};

inline cHeaderBlock Header(std::initializer_list<Entry> entries)
{
    cHeaderBlock h;
    for (const Entry& e : entries) {
        h.Record().streams[e.number].codec = e.codec;
        h.Record().streams[e.number].params = e.params;
    }
    return h;
}

// A "snd3" fragment of `kind` with low flag bits `low`; `length` defaults to the payload's size.
inline cDataBlock Fragment(uint8_t kind, const Bytes& payload, uint8_t stream = kStream, int length = -1,
                           uint8_t low = 0)
{
    cDataBlock b(static_cast<uint32_t>(payload.size()), kCodeSnd3, payload.data());
    b.Record().length = static_cast<uint16_t>(length < 0 ? payload.size() : static_cast<size_t>(length));
    b.Record().flags = FragmentFlags(kind, low);
    b.Record().streamNumber = stream;
    return b;
}

inline cDataBlock Whole(const Bytes& payload = Pattern(8, 0))
{
    return Fragment(kWhole, payload);
}

inline cVideoBlock Video(uint8_t kind, uint16_t frameTime, uint8_t timeMode)
{
    cVideoBlock b(0, kCodeVid3);
    std::memset(&b.Record(), 0, sizeof(DATA_T_VIDEO));
    b.Record().flags = FragmentFlags(kind);
    b.Record().frameTime = frameTime;
    b.Record().timeMode = timeMode;
    return b;
}

inline cTagBlock Tag(uint32_t code, uint64_t time, uint32_t kind = 7, uint32_t stream = 9, uint32_t extra = 0)
{
    cTagBlock b(extra, kCodeTag, Pattern(extra, 4).data());
    TStreamTag& t = b.Record();
    t.time = time;
    std::memset(t.reserved8, 0x5A, sizeof t.reserved8);
    t.code = code;
    t.kind = kind;
    t.streamNumber = stream;
    t.reserved28 = 0x12345678;
    return b;
}

inline cChunkCmdBlock Chunk(uint64_t time, uint32_t mode = 0)
{
    cChunkCmdBlock b;
    b.Record() = TCmdRequestChunk{time, mode};
    return b;
}

// A play command whose direction byte holds `forward` (a sender may write any value).
inline cPlayCmdBlock Play(uint8_t forward)
{
    cPlayCmdBlock b;
    std::memset(&b.Record(), 0, sizeof(TCmdPlay));
    std::memcpy(&b.Record().forward, &forward, 1);
    return b;
}

inline cTimeRangeBlock TimeRange(uint64_t begin, uint64_t end)
{
    cTimeRangeBlock b;
    b.Record() = TSrcTimeRange{kCodeTimR, begin, end};
    return b;
}

inline cResetBlock Reset(uint32_t value1, uint32_t value2 = 0, uint32_t value3 = 0, uint8_t flag = 0)
{
    cResetBlock b;
    TVRN3ResetNotify& r = b.Record();
    std::memset(&r, 0x77, sizeof r);
    r.notifyCode = kCodeRset;
    r.value1 = value1;
    r.value2 = value2;
    r.value3 = value3;
    r.flag = flag;
    return b;
}

// Made by the host library, as a host makes its event lists.
inline cMemBlock Events(std::initializer_list<TEventListEntry> entries)
{
    return CEventLists::Make(entries);
}

// A notification that is nothing but its code.
inline cNotifyBlock Notice(uint32_t code)
{
    cNotifyBlock b;
    b.Record().notifyCode = code;
    return b;
}

// The record of a block through a read-only view: nothing is copied, and the reference lives
// as long as `block` holds the node.
template <class View>
const auto& RecordOf(const cMemBlock& block)
{
    const View view(block);
    return view.Record();
}

inline Bytes Payload(const cMemBlock& block)
{
    const cSoundBlock sound(block);
    return Bytes(sound.Extra(), sound.Extra() + sound.GetExtraSize());
}

// One word per block: a notification's code, a tag's code and time, a sound block's time.
inline std::string Describe(const cMemBlock& b)
{
    const uint32_t type = b.GetType();
    if (type == kCodeNtfy)
        return b.GetSize() < 4 ? "ntfy?" : CodeText(RecordOf<cNotifyBlock>(b).notifyCode);
    if (type == kCodeTag)
        return CodeText(RecordOf<cTagBlock>(b).code) + ":" + std::to_string(RecordOf<cTagBlock>(b).time);
    if (type == kCodeSCDA)
        return "SCDA:" + std::to_string(RecordOf<cSoundBlock>(b).time);
    return CodeText(type);
}

inline std::string Trace(const std::vector<cMemBlock>& blocks)
{
    std::string s;
    for (const cMemBlock& b : blocks)
        s += (s.empty() ? "" : " ") + Describe(b);
    return s;
}

} // namespace kit
