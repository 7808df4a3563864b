// Scenario kit of the sound brick tests: loads the built plug-in, runs one brick of it in the
// stand-in host between a recording source and a recording sink, and builds every block the
// brick takes in, well-formed or cut short.
//
// Life: each test loads the library in SetUp; TearDown destroys the pipeline (every brick and
// every recorded block with it) and then unloads the library. Blocks the plug-in made go back to
// the plug-in's pools when released, so no test may keep one past TearDown. Blocks the test
// makes live in the test's own pools, whoever releases them last.
#pragma once

#include "blocks/CBrick.h"
#include "host/CEventLists.h"
#include "host/CPipeline.h"
#include "records/BlockTypes.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace harness {

using Bytes = std::vector<uint8_t>;
using CreateBrickFn = CBrick* (*)(const TBrickConfig&);

// Fragment flags: the kind sits in bits 7-6.
constexpr uint8_t kWhole = 0xC0, kFirst = 0x80, kMiddle = 0x00, kLast = 0x40;
// The stream the bricks under test extract, unless a test names another.
constexpr uint8_t kStream = 5;
constexpr const char* kParams = "-rate=8000 -bits=16";

// n bytes of a pattern that differs with the seed and the position.
inline Bytes Pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(seed * 31 + i * 7);
    return b;
}

inline Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

inline std::string Text(uint32_t code)
{
    return std::string(reinterpret_cast<const char*>(&code), 4);
}

inline TBrickConfig Config(const char* stream, uint32_t inContent = kCodeSnd3, uint32_t inRecord = kCodeDat3,
                           uint32_t outContent = kCodeIma1, uint32_t outRecord = kCodeSCDA)
{
    TBrickConfig c;
    std::memset(&c, 0, sizeof c);
    c.size = sizeof c;
    c.input = {inContent, inRecord};
    c.output = {outContent, outRecord};
    std::strncpy(c.streamNumber, stream, sizeof c.streamNumber - 1);
    return c;
}

// A block of any type whose data is exactly `data`, in storage of exactly that size, laid out
// as a structure block is (data right after the node header): a read past it is caught by ASan.
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
        if (!data.empty())
            std::memcpy(reinterpret_cast<uint8_t*>(storage) + sizeof(node), data.data(), data.size());
        return n;
    }

public:
    RawBlock(uint32_t type, const Bytes& data) : cMemBlock(Make(type, data), AdoptTag()) {}
};

// Reaches a handle's node, which views keep protected.
struct NodeOf : cMemBlock {
    static cMemBlock::node* Get(const cMemBlock& block) { return block.*(&NodeOf::mNode); }
};

// The same block with its data size cut to `size`: a command or notification cut short, as a
// faulty neighbour might send it (the record's storage stays; only the size tells).
inline cMemBlock Shrunk(cMemBlock block, uint32_t size)
{
    NodeOf::Get(block)->mSize = size;
    return block;
}

// True when both handles share one node.
inline bool Same(const cMemBlock& a, const cMemBlock& b)
{
    return NodeOf::Get(a) == NodeOf::Get(b);
}

// ---- Block builders -------------------------------------------------------------------------

struct Entry {
    int number;
    const char* codec;
    const char* params;
};

inline cMemBlock Header(std::initializer_list<Entry> entries)
{
    cHeaderBlock h;
    HDR_T& r = h.Record();
    for (const Entry& e : entries) {
        r.streams[e.number].codec = e.codec;
        r.streams[e.number].params = e.params;
    }
    return h;
}

// A "snd3" fragment; `length` defaults to the payload's size.
inline cMemBlock Fragment(uint8_t flags, const Bytes& payload, uint8_t stream = kStream, int length = -1)
{
    cDataBlock b(static_cast<uint32_t>(payload.size()), kCodeSnd3, payload.data());
    DATA_T& d = b.Record();
    d.length = static_cast<uint16_t>(length < 0 ? payload.size() : static_cast<size_t>(length));
    d.flags = flags;
    d.streamNumber = stream;
    return b;
}

inline cMemBlock Whole(const Bytes& payload = Pattern(8, 0))
{
    return Fragment(kWhole, payload);
}

inline cMemBlock Video(uint8_t flags, uint16_t frameTime, uint8_t timeMode)
{
    cVideoBlock b(4, kCodeVid3);
    DATA_T_VIDEO& v = b.Record();
    std::memset(&v, 0, sizeof v);
    v.flags = flags;
    v.frameTime = frameTime;
    v.timeMode = timeMode;
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

inline cMemBlock Chunk(uint64_t time, uint32_t mode = 0)
{
    cChunkCmdBlock b;
    b.Record().time = time;
    b.Record().mode = mode;
    return b;
}

inline cMemBlock Play(bool forward)
{
    cPlayCmdBlock b;
    std::memset(&b.Record(), 0, sizeof(TCmdPlay));
    b.Record().forward = forward;
    return b;
}

inline cMemBlock TimeRange(uint64_t begin, uint64_t end)
{
    cTimeRangeBlock b;
    b.Record() = TSrcTimeRange{kCodeTimR, begin, end};
    return b;
}

inline cMemBlock Reset(uint32_t value1, uint32_t value2, uint32_t value3, uint8_t flag)
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
inline cMemBlock Notice(uint32_t code)
{
    cNotifyBlock b;
    b.Record().notifyCode = code;
    return b;
}

// ---- Reading what came out ------------------------------------------------------------------

// One word per block: a notification's code, a tag's code and time, a sound block's time.
// The record of a block through a read-only view: no copy is made, and the reference lives as
// long as `block` holds the node.
template <class View>
const auto& RecordOf(const cMemBlock& block)
{
    const View view(block);
    return view.Record();
}

inline std::string Describe(const cMemBlock& b)
{
    const uint32_t type = b.GetType();
    if (type == kCodeNtfy)
        return b.GetSize() < 4 ? "ntfy?" : Text(RecordOf<cNotifyBlock>(b).notifyCode);
    if (type == kCodeTag) {
        const cTagBlock tag(b);
        return Text(tag.Record().code) + ":" + std::to_string(tag.Record().time);
    }
    if (type == kCodeSCDA)
        return "SCDA:" + std::to_string(RecordOf<cSoundBlock>(b).time);
    return Text(type);
}

inline std::string Trace(const std::vector<cMemBlock>& blocks)
{
    std::string s;
    for (const cMemBlock& b : blocks)
        s += (s.empty() ? "" : " ") + Describe(b);
    return s;
}

inline Bytes Payload(const cMemBlock& block)
{
    const cSoundBlock sound(block);
    return Bytes(sound.Extra(), sound.Extra() + sound.GetExtraSize());
}

// ---- The bricks around the brick under test -------------------------------------------------

// First brick of the chain: records the control blocks passed up to it.
class SourceBrick : public CBrick {
public:
    bool onCtrl(cMemBlock& block) override
    {
        commands.push_back(block);
        return true;
    }
    std::vector<cMemBlock> commands;
};

// Last brick of the chain: records data blocks and notifications in arrival order.
class SinkBrick : public CBrick {
public:
    bool onData(const cMemBlock& block) override
    {
        received.push_back(block);
        return true;
    }
    bool onNotify(const cMemBlock& block) override
    {
        received.push_back(block);
        return true;
    }
    std::vector<cMemBlock> received;
};

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mLibrary = dlopen(VRN3_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(nullptr, mLibrary) << dlerror();
        mCreate = reinterpret_cast<CreateBrickFn>(dlsym(mLibrary, "CreateBrick"));
        ASSERT_NE(nullptr, mCreate);
    }

    void TearDown() override
    {
        mPipeline.reset();
        if (mLibrary != nullptr)
            dlclose(mLibrary);
    }

    // source -> a sound brick made for `stream` -> sink, in a fresh pipeline.
    void Build(const char* stream = "5")
    {
        mPipeline.reset(new CPipeline);
        mSource = new SourceBrick;
        mPipeline->Add(mSource);
        CBrick* brick = mCreate(Config(stream));
        ASSERT_NE(nullptr, brick);
        mPipeline->Add(brick);
        mSink = new SinkBrick;
        mPipeline->Add(mSink);
    }

    // Build, then a header for stream 5 whose "SCfg" is taken off the output.
    void Configure(const char* params = kParams)
    {
        Build();
        Send(Header({{kStream, "ima1", params}}));
        ASSERT_EQ("SCfg", TakeTrace());
    }

    // A data block or notification from upstream, run until every brick is idle.
    void Send(const cMemBlock& block)
    {
        mSource->SendData(block);
        mPipeline->RunUntilIdle();
    }

    // A control block from downstream, run until every brick is idle.
    void Command(const cMemBlock& block)
    {
        mSink->SendCmd(block);
        mPipeline->RunUntilIdle();
    }

    // `n` chunk requests inside the archive, each passed on upstream and counted.
    void Open(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            Command(Chunk(5000));
        ASSERT_EQ(static_cast<size_t>(n), TakeUpstream().size());
    }

    std::vector<cMemBlock> Take()
    {
        std::vector<cMemBlock> out;
        out.swap(mSink->received);
        return out;
    }
    std::string TakeTrace() { return Trace(Take()); }
    std::vector<cMemBlock> TakeUpstream()
    {
        std::vector<cMemBlock> out;
        out.swap(mSource->commands);
        return out;
    }

    void* mLibrary = nullptr;
    CreateBrickFn mCreate = nullptr;
    std::unique_ptr<CPipeline> mPipeline;
    SourceBrick* mSource = nullptr;
    SinkBrick* mSink = nullptr;
};

} // namespace harness
