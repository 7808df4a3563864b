// The sound brick as a host sees it: the built plug-in, loaded with dlopen, one brick of it in a
// chain of the test kit. Every case reads only what leaves the brick (blocks sent downstream,
// commands passed upstream), so it pins the plug-in's observable behaviour. Most cases are step
// tables: a block in, and the trace of what must leave in answer.
#include "../kit/Chain.h"

#include <dlfcn.h>

#include <gtest/gtest.h>

#include <memory>

using namespace kit;

namespace {

constexpr uint64_t kMax = UINT64_MAX;
const uint8_t kZero[8] = {};

// The two tags of an edge sequence, field by field: "TagS" at `start` with `startKind` and the
// brick's stream, "TagF" at `finish` with the brick's kind 2.
void ExpectEdgePair(const std::vector<cMemBlock>& out, uint64_t start, uint32_t startKind, uint32_t stream,
                    uint64_t finish)
{
    ASSERT_EQ(2u, out.size());
    const TStreamTag& s = RecordOf<cTagBlock>(out[0]);
    const TStreamTag& f = RecordOf<cTagBlock>(out[1]);
    EXPECT_TRUE(out[0].GetSize() == 32 && out[1].GetSize() == 32);
    EXPECT_EQ((std::vector<uint64_t>{kCodeTagS, start, startKind, stream, kCodeTagF, finish, 2, 0}),
              (std::vector<uint64_t>{s.code, s.time, s.kind, s.streamNumber, f.code, f.time, f.kind, f.streamNumber}));
    for (const TStreamTag* t : {&s, &f})
        EXPECT_TRUE(t->reserved28 == 0 && std::memcmp(kZero, t->reserved8, 8) == 0) << "no stale bytes";
}

// One block in, and what must leave in answer (Chain::TakeTrace). Chunk requests, play commands
// and "GTmR" come from downstream, everything else from upstream.
struct Step {
    cMemBlock in;
    std::string out;
};

class SoundPlugin : public ::testing::Test {
protected:
    void Build(const char* stream = "5")
    {
        chain.reset();
        chain.reset(new Chain(plugin.CreateBrick(Config(stream))));
    }
    // Build, then a header for stream 5 whose "SCfg" is taken off the output.
    void Configure(const char* params = kParams)
    {
        Build();
        Run({{Header({{kStream, "ima1", params}}), "SCfg"}});
    }
    void Run(std::initializer_list<Step> steps)
    {
        int i = 0;
        for (const Step& s : steps) {
            const uint32_t type = s.in.GetType();
            if (type == kCodeChun || type == kCodePlay || type == kCodeGTmR)
                chain->Command(s.in);
            else
                chain->Send(s.in);
            EXPECT_EQ(s.out, chain->TakeTrace()) << "step " << i++;
        }
    }
    std::vector<cMemBlock> Take() { return chain->Take(); }

    CPluginLibrary plugin{VRN3_PLUGIN_PATH};
    std::unique_ptr<Chain> chain; // goes before the plug-in
};

TEST_F(SoundPlugin, FactoryTakesOnlyItsDescriptorsAndMakesIndependentBricks)
{
    for (const TBrickConfig& c :
         {Config("5", kCodeIma1, kCodeSCDA, kCodeSnd3, kCodeDat3), Config("5", kCodeSnd3, kCodeVid3Record),
          Config("5", kCodeSnd3, kCodeDat3, kCodeSCDA), Config("5", kCodeSnd3, kCodeDat3, kCodeIma1, kCodeIma1)})
        EXPECT_EQ(nullptr, plugin.CreateBrick(c));
    std::unique_ptr<CBrick> a(plugin.CreateBrick(Config("5"))), b(plugin.CreateBrick(Config("5")));
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->GetSignature(), b->GetSignature());
    EXPECT_TRUE(a->IsKnownInput(TContentDescriptor{kCodeSnd3, kCodeDat3})) << "Create stored the configuration";
}

TEST_F(SoundPlugin, EveryHeaderAnnouncesItsOwnStreamAtOnce)
{
    Build();
    chain->Send(Header({{4, "xxxx", "-rate=1 -bits=64"}, {kStream, "ima1+adpcm", "-x=1 -rate=8000 -bits=16 -y=2"}}));
    std::vector<cMemBlock> out = Take();
    ASSERT_EQ(1u, out.size()) << "sent at once, with no chunk request outstanding";
    ASSERT_EQ(36u, out[0].GetSize());
    const TSoundStreamCfg& cfg = RecordOf<cSoundCfgBlock>(out[0]);
    EXPECT_EQ((std::vector<uint64_t>{kCodeSCfg, kCodeSCfg, kCodeIma1, kCodeSCDA, kChunkLength, 8000, 2, 1}),
              (std::vector<uint64_t>{cfg.notifyCode, cfg.cfgCode, cfg.codec, cfg.dataType, cfg.chunkLength,
                                     uint64_t(cfg.sampleRate), uint64_t(cfg.bytesPerSample), uint64_t(cfg.channels)}));
    for (int again = 0; again < 2; ++again) { // an unchanged header is announced again
        chain->Send(Header({{kStream, "ima1", "-rate=16000 -bits=24"}}));
        ASSERT_EQ(1u, Take().size());
    }
    chain->Command(Chunk(5000));
    chain->Send(Whole());
    out = Take();
    ASSERT_EQ(1u, out.size());
    const TSoundData& d = RecordOf<cSoundBlock>(out[0]);
    EXPECT_EQ((std::vector<int>{16000, 3, 1}), (std::vector<int>{d.sampleRate, d.bytesPerSample, d.channels}))
        << "the latest header's";
    for (const char* number : {"0", "255"}) { // both ends of the table
        Build(number);
        chain->Send(Header({{0, "aaaa", "-rate=100"}, {255, "bbbb", "-rate=200"}}));
        out = Take();
        ASSERT_EQ(1u, out.size());
        EXPECT_EQ(number[0] == '0' ? 100 : 200, RecordOf<cSoundCfgBlock>(out[0]).sampleRate);
    }
}

// A stream number with no table entry selects nothing: no "SCfg", sound and tags stay dropped,
// but the header still counts as received, so the brick answers edge requests.
TEST_F(SoundPlugin, StreamNumberOutsideTheTableIgnoresHeaders)
{
    for (int32_t number : {-1, 300, 256}) {
        Build(std::to_string(number).c_str());
        Run({{Header({{0, "ima1", kParams}, {44, "ima1", kParams}, {255, "ima1", kParams}}), ""}, {Play(0), "^Play"}});
        chain->Command(Chunk(0));
        ExpectEdgePair(Take(), 0, 2, static_cast<uint32_t>(number), 2970);
        Run({{Chunk(5000), "^Chun"}, {Tag(kCodeTagS, 1), ""}, {Fragment(kWhole, Pattern(4, 1), uint8_t(number)), ""}});
    }
}

// The open record may grow to kMaxRecordPayload bytes and no further; past it the record is
// discarded and the rest of its fragments find nothing to join.
TEST_F(SoundPlugin, RecordUnderReassemblyIsBounded)
{
    constexpr uint32_t kBound = CVRN3Stream::kMaxRecordPayload;
    static_assert(kBound == 64 * 65535u + 64, "64 full middles and 64 bytes reach the bound");
    Configure();
    chain->Command(Chunk(5000));
    const cMemBlock middle = Fragment(kMiddle, Bytes(65535, 0x33));
    for (size_t head : {64u, 65u}) {
        chain->Send(Fragment(kFirst, Bytes(head, 0x11)));
        for (int i = 0; i < 64; ++i)
            chain->Send(middle);
        chain->Send(Fragment(kLast, Bytes(), kStream, 0));
    }
    chain->Send(Whole(Pattern(3, 3)));
    const std::vector<cMemBlock> out = Take();
    ASSERT_EQ(2u, out.size()) << "the record one byte past the bound is dropped";
    EXPECT_EQ(kBound + 32u, out[0].GetSize());
    EXPECT_EQ(Pattern(3, 3), Payload(out[1]));
}

// Nodes come back through the plug-in's pools holding whatever their last holder wrote; no byte
// of that may reach the next consumer.
TEST_F(SoundPlugin, PooledNodesCarryNoStaleBytes)
{
    Configure();
    Run({{Chunk(5000), "^Chun"},
         {Play(0), "^Play"},
         {Whole(Pattern(16, 1)), "SCDA:0"},
         {Chunk(0), "TagS:0 TagF:2970"}});
    chain->Send(Whole(Pattern(16, 1)));
    chain->Command(Chunk(0));
    std::vector<const void*> storage;
    for (cMemBlock& b : Take()) { // held alone: written in place
        storage.push_back(static_cast<const cMemBlock&>(b).GetData());
        std::memset(b.GetData(), 0xAB, b.GetType() == kCodeTag ? 32 : 16 + 8);
    }
    ASSERT_EQ(3u, storage.size());
    chain->Send(Whole(Pattern(16, 2)));
    chain->Command(Chunk(0));
    const std::vector<cMemBlock> out = Take();
    ASSERT_EQ(3u, out.size());
    for (size_t i = 0; i < 3; ++i)
        ASSERT_NE(storage.end(), std::find(storage.begin(), storage.end(), out[i].GetData())) << "reused node " << i;
    EXPECT_EQ(0, std::memcmp(kZero, RecordOf<cSoundBlock>(out[0]).reserved8, 8));
    ExpectEdgePair({out[1], out[2]}, 0, 2, kStream, 2970);
}

TEST_F(SoundPlugin, TagsLeaveAsCopiesWithKindTwo)
{
    Configure();
    chain->Command(Chunk(5000));
    const cTagBlock in = Tag(kCodeTagS, 42, 7, 9, 8); // another stream, 8 trailing bytes
    chain->Send(in);
    const std::vector<cMemBlock> out = Take();
    ASSERT_TRUE(out.size() == 1 && out[0].GetSize() == 40u && !Peek::Same(in, out[0])) << "a copy of the brick's own";
    const cTagBlock copy(out[0]);
    EXPECT_TRUE(copy.Record().kind == 2 && in.Record().kind == 7) << "the block that arrived is never modified";
    EXPECT_TRUE(std::memcmp(&in.Record(), &copy.Record(), 20) == 0 && std::memcmp(in.Extra(), copy.Extra(), 8) == 0 &&
                std::memcmp(&in.Record().streamNumber, &copy.Record().streamNumber, 8) == 0)
        << "the rest as it came";
}

// A sample rate that spells "TagF" where a tag holds its code must not settle a request.
TEST_F(SoundPlugin, OnlyTagFTagsSettleRequests)
{
    static_assert(kCodeTagF == 1181180244u, "the rate below");
    Configure("-rate=1181180244 -bits=16");
    Run({{Chunk(5000), "^Chun"},
         {Whole(), "SCDA:0"},
         {Whole(), "SCDA:0"},
         {Tag(kCodeTagF, 9), "TagF:9"},
         {Whole(), ""}});
}

// A request at or beyond the archive's edge in the play direction is answered by the brick with
// its own pair: "TagS" on the chunk grid (steps of 3000) anchored at the bound, one step further
// out for mode 2, of kind 2 at the beginning and 3 at the end; "TagF" 2970 after it; all sums
// modulo 2^64. Any other request is passed on. A range of 0 to kMax is the brick's initial one.
TEST_F(SoundPlugin, EdgeRequestsAreAnsweredWithTheBricksOwnPair)
{
    const struct {
        uint8_t forward;
        uint64_t begin, end, t;
        uint32_t mode;
        uint32_t startKind; // 0: passed on, not answered
        uint64_t start, finish;
    } cases[] = {
        {0, 1000, 5000, 1000, 0, 2, 1000, 3970},
        {0, 1000, 5000, 1000, 2, 2, 18446744073709549616u, 970},
        {0, 1000, 5000, 0, 2, 2, 18446744073709549616u, 970},
        {0, 10000, 50000, 3999, 0, 2, 4000, 6970},
        {0, 10000, 50000, 3999, 1, 2, 4000, 6970},
        {0, 10000, 50000, 3999, 0xFFFFFFFF, 2, 4000, 6970},
        {0, 10000, 50000, 3999, 2, 2, 1000, 3970},
        {0, 0, kMax, 0, 0, 2, 0, 2970},
        {1, 1000, 5000, 5000, 0, 3, 5000, 7970},
        {1, 1000, 5000, 10999, 0, 3, 8000, 10970},
        {1, 1000, 5000, 11000, 1, 3, 11000, 13970},
        {1, 1000, 5000, 11000, 2, 3, 14000, 16970},
        {1, 0, kMax, kMax, 0, 3, kMax, 2969},
        {1, 0, kMax - 1000, kMax, 2, 3, 1999, 4969},
        {0, 1000, 5000, 1001, 2, 0, 0, 0},
        {0, 1000, 5000, 6000, 0, 0, 0, 0}, // behind the direction
        {1, 1000, 5000, 4999, 2, 0, 0, 0},
        {1, 1000, 5000, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.forward ? "forward" : "backward") << " in " << c.begin << ".." << c.end
                                        << ", t " << c.t << ", mode " << c.mode);
        Configure();
        Run({{Play(c.forward), "^Play"}});
        if (c.begin != 0 || c.end != kMax)
            Run({{TimeRange(c.begin, c.end), "TimR"}});
        chain->Command(Chunk(c.t, c.mode));
        if (c.startKind == 0)
            EXPECT_EQ("^Chun", chain->TakeTrace());
        else
            ExpectEdgePair(Take(), c.start, c.startKind, kStream, c.finish);
    }
}

// How a repeated request is counted the conservation model checks; here, what goes upstream.
TEST_F(SoundPlugin, RequestsArePassedOnOnceAsTheSameBlock)
{
    Configure();
    const cMemBlock request = Chunk(5000), play = Play(0), gtmr = cCommandBlock<TNotifyBase, kCodeGTmR>();
    Run({{request, "^Chun"}, {request, ""}});
    for (const cMemBlock& b : {request, play, gtmr, cMemBlock(cNotifyBlock()), cMemBlock(cTagBlock())})
        chain->Command(b);
    const std::vector<cMemBlock> up = chain->TakeUpstream();
    ASSERT_EQ(2u, up.size()) << "only the play command and GTmR go upstream";
    EXPECT_TRUE(Peek::Same(play, up[0]) && Peek::Same(gtmr, up[1]));
}

// A reset is answered by one "Rdy " echoing its values, an event list narrowed to the own stream
// (none when nothing is left), "Gist" kept, every other notification passed on as it came.
TEST_F(SoundPlugin, NotificationsAreAnsweredNarrowedKeptOrPassedOn)
{
    Configure();
    const cMemBlock reset = Reset(0x11223344, 0x55667788, 0x99AABBCC, 0xDD);
    const cMemBlock list = Events({{1, 2, 5, "a"}, {3, 4, 3, "b"}, {5, 6, 5, "c"}, {7, 8, 0x105, "d"}});
    const cMemBlock others[] = {cMessageBlock(), cSoundCfgBlock(), Notice(kCodeRdy), Notice(FourCC("Zzzz")),
                                TimeRange(5000, 1000)}; // a range is kept (as it is) and passed on
    Run({{Notice(kCodeGist), ""}, {Events({{1, 2, 4, "x"}}), ""}, {Events({}), ""}});
    for (const cMemBlock& n : {reset, list})
        chain->Send(n);
    for (const cMemBlock& n : others)
        chain->Send(n);
    const std::vector<cMemBlock> out = Take();
    ASSERT_EQ(7u, out.size());
    ASSERT_TRUE(!Peek::Same(reset, out[0]) && out[0].GetSize() == 17u);
    const uint8_t want[17] = {'R',  'd',  'y',  ' ',  0x44, 0x33, 0x22, 0x11, 0x88,
                              0x77, 0x66, 0x55, 0xDD, 0xCC, 0xBB, 0xAA, 0x99};
    EXPECT_EQ(0, std::memcmp(want, &RecordOf<cReadyBlock>(out[0]), 17)) << "value3 unaligned at 13";
    ASSERT_TRUE(!Peek::Same(list, out[1]) && out[1].GetSize() == sizeof(TEventList) &&
                RecordOf<cNotifyBlock>(out[1]).notifyCode == kCodeEvt);
    const std::vector<TEventListEntry> mine = CEventLists::Read(out[1]); // the host reads it back
    ASSERT_EQ(2u, mine.size());
    const TEventListEntry &x = mine[0], &y = mine[1];
    EXPECT_EQ((std::vector<uint32_t>{1, 2, 5, 5, 6, 5}),
              (std::vector<uint32_t>{x.word0, x.word1, x.streamNumber, y.word0, y.word1, y.streamNumber}));
    EXPECT_EQ("ac", x.text + y.text);
    EXPECT_EQ(4u, CEventLists::Read(list).size()) << "the received list is only read";
    for (size_t i = 0; i < 5; ++i)
        EXPECT_TRUE(Peek::Same(others[i], out[i + 2])) << i;
}

// Blocks too short for the record their type names, and blocks of types the brick does not
// take, are dropped unread; nothing else changes.
TEST_F(SoundPlugin, ShortBlocksAreDroppedUnread)
{
    Configure();
    Run({{TimeRange(5000, kMax), "TimR"},
         {Chunk(5000), "^Chun"},
         {Tag(kCodeTagS, 600), "TagS:600"},
         {Video(kWhole, 40, 4), ""},
         {Fragment(kFirst, Pattern(5, 1)), ""},
         {RawBlock(kCodeSnd3, {0x00, 0x40, kStream}), ""},
         {RawBlock(FourCC("Xyz1"), Pattern(40, 3)), ""},
         {cSoundBlock(4, kCodeSCDA), ""},
         {cDataBlock(4, kCodeDat3), ""},
         {RawBlock(kCodeVid3, {0, 0, 0xC0, 0, 0x10, 0x00, 4}), ""},
         {RawBlock(kCodeTag, Bytes(31, 0x46)), ""},
         {RawBlock(kCodeHdr3, Bytes(3631, 0)), ""},
         {Shrunk(Chunk(5000), 11), ""},
         {Shrunk(Play(0), 8), ""},
         {Shrunk(TimeRange(0, 0), 19), ""},
         {Shrunk(Reset(1, 2, 3, 4), 24), ""},
         {Shrunk(Events({{0, 0, 5, "e"}}), 7), ""},
         {Shrunk(Notice(FourCC("Zzzz")), 3), ""},      // not even passed on
         {Fragment(kLast, Pattern(6, 2)), "SCDA:640"}, // the open record and the frame offset intact
         {Tag(kCodeTagF, 1), "TagF:1"},
         {Whole(), ""}, // no count raised
         {Chunk(5000), "SCDA:640 ^Chun"},
         {Play(0), "^Play"},
         {Chunk(4999), "TagS:5000 TagF:7970"}}); // forward, range intact
    const std::unique_ptr<CBrick> alone(plugin.CreateBrick(Config("5")));
    EXPECT_FALSE(alone->onData(RawBlock(kCodeVid3, {0, 0, 0xC0}))) << "video is never taken, however short";
}

TEST_F(SoundPlugin, LibraryUnloadsOnceItsLastBrickIsGone)
{
    Configure();
    Run({{Chunk(5000), "^Chun"},
         {Fragment(kFirst, Pattern(9, 1)), ""},
         {Fragment(kLast, Pattern(9, 2)), "SCDA:0"},
         {Tag(kCodeTagS, 7), "TagS:7"},
         {Events({{0, 0, kStream, "kept"}}), "Evt "}});
    chain->Send(Whole()); // stays queued in the brick
    chain.reset();
    ASSERT_EQ(0, plugin.Close());
    void* again = dlopen(VRN3_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(nullptr, again) << "the library stayed loaded";
    if (again != nullptr)
        dlclose(again);
}

} // namespace
