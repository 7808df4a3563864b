// The sound brick as the host sees it: the built plug-in, loaded with dlopen, one brick of it
// in a pipeline between a recording source and sink. Every case reads only what leaves the
// brick (downstream blocks, upstream commands), so it pins the plug-in's observable behaviour.
#include "BrickHarness.h"

#include "stream/CVRN3Stream.h"

#include <algorithm>
#include <cstdint>

using namespace harness;

namespace {

constexpr uint64_t kMaxTime = UINT64_MAX;

// The two tags of an edge sequence, field by field.
void ExpectEdgePair(const std::vector<cMemBlock>& out, uint64_t start, uint32_t startKind, uint32_t stream)
{
    ASSERT_EQ(2u, out.size());
    const TStreamTag& s = RecordOf<cTagBlock>(out[0]);
    const TStreamTag& f = RecordOf<cTagBlock>(out[1]);
    const uint8_t zero[8] = {};
    EXPECT_EQ(32u, out[0].GetSize());
    EXPECT_EQ(32u, out[1].GetSize());
    EXPECT_EQ(kCodeTagS, s.code);
    EXPECT_EQ(start, s.time);
    EXPECT_EQ(startKind, s.kind);
    EXPECT_EQ(stream, s.streamNumber);
    EXPECT_EQ(kCodeTagF, f.code);
    EXPECT_EQ(start + 2970, f.time);
    EXPECT_EQ(2u, f.kind);
    EXPECT_EQ(0u, f.streamNumber);
    for (const TStreamTag* t : {&s, &f}) {
        EXPECT_EQ(0u, t->reserved28);
        EXPECT_EQ(0, std::memcmp(zero, t->reserved8, 8));
    }
}

std::string Pair(uint64_t start)
{
    return "TagS:" + std::to_string(start) + " TagF:" + std::to_string(start + 2970);
}

using SoundPlugin = PluginTest;

// ---- Factory and exports --------------------------------------------------------------------

TEST_F(SoundPlugin, FactoryRefusesForeignDescriptorsAndBuildsIndependentBricks)
{
    const TBrickConfig refused[] = {
        Config("5", kCodeIma1, kCodeSCDA, kCodeSnd3, kCodeDat3), // in and out swapped
        Config("5", kCodeSnd3, kCodeVid3Record),                 // "snd3" carried as "Vid3"
        Config("5", kCodeVid3), Config("5", kCodeSnd3, kCodeSnd3),
        Config("5", kCodeSnd3, kCodeDat3, kCodeSCDA), Config("5", kCodeSnd3, kCodeDat3, kCodeIma1, kCodeIma1),
    };
    for (const TBrickConfig& c : refused)
        EXPECT_EQ(nullptr, mCreate(c));
    CBrick* a = mCreate(Config("5"));
    CBrick* b = mCreate(Config("5"));
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_NE(a, b);
    EXPECT_NE(a->GetSignature(), b->GetSignature());
    EXPECT_TRUE(a->IsKnownInput(TContentDescriptor{kCodeSnd3, kCodeDat3})) << "Create stored the configuration";
    delete a;
    delete b;
}

TEST_F(SoundPlugin, ExportsOnlyTheFourEntryPoints)
{
    using DllMainFn = int (*)(void*, unsigned long, void*);
    const auto dllMain = reinterpret_cast<DllMainFn>(dlsym(mLibrary, "DllMain"));
    ASSERT_NE(nullptr, dllMain);
    EXPECT_EQ(1, dllMain(nullptr, 1, nullptr));
    EXPECT_EQ(1, dllMain(this, 7, &mLibrary));
    EXPECT_NE(nullptr, dlsym(mLibrary, "init"));
    EXPECT_NE(nullptr, dlsym(mLibrary, "fini"));
    for (const char* hidden : {"_ZN16CVrn3StreamSound6onDataERK9cMemBlock", "_ZN11CVRN3Stream11DelayedSendEv",
                               "_ZTV16CVrn3StreamSound", "_ZN12cStructBlockI10TSoundDataLj1094992723EE4node6mChainE"})
        EXPECT_EQ(nullptr, dlsym(mLibrary, hidden)) << hidden;
}

// ---- Header -> "SCfg" -----------------------------------------------------------------------

TEST_F(SoundPlugin, HeaderAnnouncesItsOwnStreamAtOnce)
{
    Build();
    Send(Header({{4, "xxxx", "-rate=1 -bits=64"}, {kStream, "ima1+adpcm", "-x=1 -rate=8000 -bits=16 -y=2"}}));
    const std::vector<cMemBlock> out = Take();
    ASSERT_EQ(1u, out.size()) << "sent at once, with no chunk request outstanding";
    ASSERT_EQ(kCodeNtfy, out[0].GetType());
    ASSERT_EQ(36u, out[0].GetSize());
    const TSoundStreamCfg& cfg = RecordOf<cSoundCfgBlock>(out[0]);
    EXPECT_EQ(kCodeSCfg, cfg.notifyCode);
    EXPECT_EQ(kCodeSCfg, cfg.cfgCode);
    EXPECT_EQ(kCodeIma1, cfg.codec);
    EXPECT_EQ(kCodeSCDA, cfg.dataType);
    EXPECT_EQ(3000u, cfg.chunkLength);
    EXPECT_EQ(8000, cfg.sampleRate);
    EXPECT_EQ(2, cfg.bytesPerSample);
    EXPECT_EQ(1, cfg.channels);
}

TEST_F(SoundPlugin, EveryHeaderAnnouncesItsParametersAnew)
{
    const struct {
        const char* codec;
        const char* params;
        uint32_t codecValue;
        int32_t rate, bytes;
    } cases[] = {
        {"ima1", "-rate=8000 -bits=16", kCodeIma1, 8000, 2},
        {"ima1", "-rate=8000 -bits=16", kCodeIma1, 8000, 2}, // unchanged header: sent again
        {"ab", "-rate=44100 -bits=4", 0x6261u, 44100, 0},
        {"", "-bits=12", 0u, 0, 1},                          // no rate: 0, still announced
        {"pcm", "-rate=11025abc -bits=-8", 0x6D6370u, 11025, -1},
        {"ima1", "--rate=22050\t-bits=8", kCodeIma1, 22050, 1}, // key inside an item; tab is no blank
        {"ima1", "-rate=99999999999 -bits=x", kCodeIma1, INT32_MAX, 0},
        {"ima1", "-rate=-99999999999 -bits=-9", kCodeIma1, INT32_MIN, -2},
        {"ima1", "", kCodeIma1, 0, 0},
    };
    Build();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.params);
        Send(Header({{kStream, c.codec, c.params}}));
        const std::vector<cMemBlock> out = Take();
        ASSERT_EQ(1u, out.size());
        const TSoundStreamCfg& cfg = RecordOf<cSoundCfgBlock>(out[0]);
        EXPECT_EQ(c.codecValue, cfg.codec);
        EXPECT_EQ(c.rate, cfg.sampleRate);
        EXPECT_EQ(c.bytes, cfg.bytesPerSample);
    }
    // The brick keeps the latest header's values for its sound blocks.
    Send(Header({{kStream, "ima1", "-rate=16000 -bits=24"}}));
    Open();
    Send(Whole());
    const std::vector<cMemBlock> out = Take();
    ASSERT_EQ("SCfg SCDA:0", Trace(out));
    EXPECT_EQ(16000, RecordOf<cSoundBlock>(out[1]).sampleRate);
    EXPECT_EQ(3, RecordOf<cSoundBlock>(out[1]).bytesPerSample);
}

TEST_F(SoundPlugin, StreamsAtBothEndsOfTheTableAreSelectable)
{
    for (const char* number : {"0", "255"}) {
        Build(number);
        Send(Header({{0, "aaaa", "-rate=100"}, {255, "bbbb", "-rate=200"}}));
        const std::vector<cMemBlock> out = Take();
        ASSERT_EQ(1u, out.size());
        EXPECT_EQ(number[0] == '0' ? 100 : 200, RecordOf<cSoundCfgBlock>(out[0]).sampleRate);
    }
}

// A stream number with no table entry selects nothing: no "SCfg", sound and tags stay dropped,
// but the header still counts as received, so the brick answers edge requests.
TEST_F(SoundPlugin, StreamNumberOutsideTheTableIgnoresHeaders)
{
    const struct {
        const char* text;
        int32_t number;
    } cases[] = {{"-1", -1}, {"300", 300}, {"256", 256}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Build(c.text);
        Send(Header({{0, "ima1", kParams}, {44, "ima1", kParams}, {255, "ima1", kParams}}));
        Command(Play(false));
        Command(Chunk(0));
        ExpectEdgePair(Take(), 0, 2, static_cast<uint32_t>(c.number));
        Command(Chunk(5000));
        ASSERT_EQ(2u, TakeUpstream().size()) << "the play command and the request inside the archive";
        Send(Tag(kCodeTagS, 1));
        Send(Fragment(kWhole, Pattern(4, 1), static_cast<uint8_t>(c.number)));
        EXPECT_EQ("", TakeTrace());
    }
}

// ---- Fragments -> "SCDA" --------------------------------------------------------------------

TEST_F(SoundPlugin, WholeRecordBecomesOneSoundBlock)
{
    Configure();
    Open();
    const Bytes payload = Pattern(10, 1);
    const cMemBlock in = Fragment(kWhole | 0x20 | 0x15, payload, kStream, 3);
    Send(in);
    const std::vector<cMemBlock> out = Take();
    ASSERT_EQ(1u, out.size());
    ASSERT_EQ(kCodeSCDA, out[0].GetType());
    EXPECT_EQ(42u, out[0].GetSize());
    const TSoundData& d = RecordOf<cSoundBlock>(out[0]);
    const uint8_t zero[8] = {};
    EXPECT_EQ(0u, d.time) << "no tag and no video yet: both parts of the time start at 0";
    EXPECT_EQ(0, std::memcmp(zero, d.reserved8, 8));
    EXPECT_EQ(8000, d.sampleRate);
    EXPECT_EQ(2, d.bytesPerSample);
    EXPECT_EQ(1, d.channels);
    EXPECT_EQ(0x15u, d.sourceFlags) << "bits 4-0 only";
    EXPECT_EQ(payload, Payload(out[0])) << "a whole fragment gives its entire payload, whatever its length says";
    EXPECT_EQ(kCodeSnd3, in.GetType());

    // An empty payload still makes a block; the flags' kind bits never reach sourceFlags.
    for (uint8_t flags : {uint8_t(0xFF), uint8_t(0xC0)}) {
        Send(Fragment(flags, Bytes()));
        const std::vector<cMemBlock> empty = Take();
        ASSERT_EQ(1u, empty.size());
        EXPECT_EQ(32u, empty[0].GetSize());
        EXPECT_EQ(flags & 0x1Fu, RecordOf<cSoundBlock>(empty[0]).sourceFlags);
    }
}

TEST_F(SoundPlugin, FragmentsJoinIntoOneRecord)
{
    Configure();
    Open();
    const Bytes a = Pattern(100, 1), b = Pattern(10, 2), c = Pattern(20, 3);
    Send(Fragment(kFirst | 0x03, a, kStream, 7));
    Send(Fragment(kMiddle | 0x1F, b));
    EXPECT_EQ("", TakeTrace());
    Send(Fragment(kLast | 0x10, c));
    std::vector<cMemBlock> out = Take();
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(Join({a, b, c}), Payload(out[0]));
    EXPECT_EQ(3u, RecordOf<cSoundBlock>(out[0]).sourceFlags) << "the first fragment's flags";

    // Lengths beyond the payload are clipped; a shorter length takes only that many bytes; a
    // last fragment of length 0 completes the record as it stands.
    const Bytes d = Pattern(4, 4), e = Pattern(5, 5), f = Pattern(6, 6);
    Send(Fragment(kFirst, d));
    Send(Fragment(kMiddle, e, kStream, 50));
    Send(Fragment(kLast, f, kStream, 2));
    Send(Fragment(kFirst, f));
    Send(Fragment(kLast, e, kStream, 0));
    out = Take();
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(Join({d, e, Bytes(f.begin(), f.begin() + 2)}), Payload(out[0]));
    EXPECT_EQ(f, Payload(out[1]));
}

TEST_F(SoundPlugin, LostFragmentsNeverMixRecords)
{
    Build();
    Open();
    const Bytes a = Pattern(3, 1), b = Pattern(4, 2), c = Pattern(5, 3), w = Pattern(6, 4);
    Send(Fragment(kFirst, a)); // before the header: dropped
    Send(Header({{kStream, "ima1", kParams}}));
    ASSERT_EQ("SCfg", TakeTrace());
    Send(Fragment(kMiddle, b));
    Send(Fragment(kLast, c));
    EXPECT_EQ("", TakeTrace()) << "a continuation whose first fragment was lost is dropped";

    Send(Fragment(kWhole, w));
    Send(Fragment(kLast, c));   // after a whole record: no open record
    Send(Fragment(kFirst, a));
    Send(Fragment(kLast, b));
    Send(Fragment(kMiddle, c)); // after a last fragment: no open record
    Send(Fragment(kLast, c));
    Send(Fragment(kFirst, a));  // its last fragment is lost...
    Send(Fragment(kFirst, b));  // ...so this one discards it
    Send(Fragment(kLast, c));
    Send(Fragment(kFirst, a));  // open record replaced by a whole one
    Send(Fragment(kWhole, w));
    Send(Fragment(kLast, b));
    const std::vector<cMemBlock> out = Take();
    ASSERT_EQ(4u, out.size());
    EXPECT_EQ(w, Payload(out[0]));
    EXPECT_EQ(Join({a, b}), Payload(out[1]));
    EXPECT_EQ(Join({b, c}), Payload(out[2]));
    EXPECT_EQ(w, Payload(out[3]));
}

TEST_F(SoundPlugin, OtherStreamsAndForeignBlocksLeaveTheRecordAlone)
{
    Configure();
    Open();
    const Bytes a = Pattern(7, 1), b = Pattern(9, 2);
    Send(Fragment(kFirst, a));
    Send(Fragment(kWhole, b, 4));
    Send(Fragment(kFirst, b, 6));
    Send(Fragment(kMiddle, b, 4));
    Send(RawBlock(FourCC("Xyz1"), Pattern(40, 3)));
    Send(Fragment(kWhole, b)); // replaces the open record
    Send(Fragment(kFirst, a));
    Send(cSoundBlock(4, kCodeSCDA));                  // a sound block coming in is not passed on
    Send(cDataBlock(4, kCodeDat3));
    Send(Fragment(kLast, b));
    const std::vector<cMemBlock> out = Take();
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ(b, Payload(out[0]));
    EXPECT_EQ(Join({a, b}), Payload(out[1]));
}

// The open record may grow to kMaxRecordPayload bytes and no further; past it the record is
// discarded and the rest of its fragments find nothing to join.
TEST_F(SoundPlugin, RecordUnderReassemblyIsBounded)
{
    constexpr uint32_t kBound = CVRN3Stream::kMaxRecordPayload;
    static_assert(kBound == 64 * 65535u + 64, "64 full middles and 64 bytes reach the bound");
    Configure();
    Open();
    const cMemBlock middle = Fragment(kMiddle, Bytes(65535, 0x33));
    for (size_t head : {64u, 65u}) {
        Send(Fragment(kFirst, Bytes(head, 0x11)));
        for (int i = 0; i < 64; ++i)
            Send(middle);
        Send(Fragment(kLast, Bytes(), kStream, 0));
    }
    Send(Fragment(kWhole, Pattern(3, 3)));
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
    Open();
    Command(Play(false));
    TakeUpstream();
    Send(Whole(Pattern(16, 1)));
    Command(Chunk(0));
    std::vector<const void*> storage;
    {
        std::vector<cMemBlock> out = Take();
        ASSERT_EQ("SCDA:0 " + Pair(0), Trace(out));
        cSoundBlock sound(out[0]);
        cTagBlock s(out[1]), f(out[2]);
        out.clear(); // the views hold the nodes alone: writes go in place
        for (cMemBlock* b : {static_cast<cMemBlock*>(&sound), static_cast<cMemBlock*>(&s), static_cast<cMemBlock*>(&f)})
            storage.push_back(static_cast<const cMemBlock*>(b)->GetData());
        std::memset(sound.Record().reserved8, 0xAB, 8);
        for (cTagBlock* t : {&s, &f}) {
            std::memset(t->Record().reserved8, 0xAB, 8);
            t->Record().streamNumber = 0xDEAD;
            t->Record().reserved28 = 0xBEEF;
        }
        ASSERT_EQ(storage[0], static_cast<const cMemBlock&>(sound).GetData()) << "written in place";
    }
    Send(Whole(Pattern(16, 2)));
    Command(Chunk(0));
    const std::vector<cMemBlock> out = Take();
    ASSERT_EQ(3u, out.size());
    for (size_t i = 0; i < 3; ++i)
        ASSERT_NE(storage.end(), std::find(storage.begin(), storage.end(), out[i].GetData())) << "reused node " << i;
    const uint8_t zero[8] = {};
    EXPECT_EQ(0, std::memcmp(zero, RecordOf<cSoundBlock>(out[0]).reserved8, 8));
    ExpectEdgePair({out[1], out[2]}, 0, 2, kStream);
}

// ---- Time of sound blocks -------------------------------------------------------------------

TEST_F(SoundPlugin, SoundTimeIsChunkStartPlusLatestFrameOffset)
{
    Configure();
    Open(3);
    const struct {
        cMemBlock block;
        std::string out;
    } steps[] = {
        {Tag(kCodeTagS, 90000), "TagS:90000"},
        {Whole(), "SCDA:90000"},
        {Whole(), "SCDA:90000"},                    // nothing new in between: same time
        {Video(kFirst, 1234, 0), ""},               // video is tracked, never passed on
        {Whole(), "SCDA:91234"},
        {Video(kMiddle, 500, 4), ""},               // only the opening fragment carries a time
        {Video(kLast, 600, 4), ""},
        {Whole(), "SCDA:91234"},
        {Video(kWhole, 3000, 0), ""},               // modes 0-3 reduce modulo 3000
        {Whole(), "SCDA:90000"},
        {Video(kWhole, 3000, 4), ""},               // mode 4 and above take it as it is
        {Whole(), "SCDA:93000"},
        {Video(kFirst, 65535, 3), ""},
        {Whole(), "SCDA:92535"},
        {Tag(kCodeTagF, 5), "TagF:5"},              // changes neither part
        {Tag(FourCC("TagX"), 6), "TagX:6"},
        {Whole(), "SCDA:92535"},
        {Tag(kCodeTagS, 120000), "TagS:120000"},    // a new chunk: offset back to 0
        {Whole(), "SCDA:120000"},
        {Tag(kCodeTagS, kMaxTime), "TagS:" + std::to_string(kMaxTime)},
        {Video(kWhole, 2, 4), ""},
        {Whole(), "SCDA:1"},                        // wraps modulo 2^64
    };
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
        Send(steps[i].block);
        EXPECT_EQ(steps[i].out, TakeTrace()) << "step " << i;
    }
}

TEST_F(SoundPlugin, VideoBeforeTheHeaderStillSetsTheOffset)
{
    Build();
    Send(Video(kWhole, 700, 4));
    Send(Header({{kStream, "ima1", kParams}}));
    Open();
    Send(Whole());
    EXPECT_EQ("SCfg SCDA:700", TakeTrace());
}

// ---- Tags -----------------------------------------------------------------------------------

TEST_F(SoundPlugin, TagsLeaveAsCopiesWithKindTwo)
{
    Configure();
    Open(2);
    const cTagBlock in = Tag(kCodeTagS, 42, 7, 9, 8); // another stream, 8 trailing bytes
    Send(in);
    const std::vector<cMemBlock> out = Take();
    ASSERT_EQ(1u, out.size());
    EXPECT_FALSE(Same(in, out[0])) << "a copy of the brick's own";
    ASSERT_EQ(40u, out[0].GetSize());
    const cTagBlock copy(out[0]);
    EXPECT_EQ(2u, copy.Record().kind);
    EXPECT_EQ(7u, in.Record().kind) << "the block that arrived is never modified";
    EXPECT_EQ(0, std::memcmp(&in.Record(), &copy.Record(), 20)) << "time, bytes 8-15 and code as they came";
    EXPECT_EQ(9u, copy.Record().streamNumber);
    EXPECT_EQ(0x12345678u, copy.Record().reserved28);
    EXPECT_EQ(0, std::memcmp(in.Extra(), copy.Extra(), 8));
}

TEST_F(SoundPlugin, TagsBeforeTheHeaderAreDroppedButRequestsCount)
{
    Build();
    Command(Chunk(5000)); // counted and passed on before the header
    EXPECT_EQ(1u, TakeUpstream().size());
    Send(Tag(kCodeTagS, 1));
    Send(Tag(kCodeTagF, 2));
    EXPECT_EQ("", TakeTrace());
    Send(Header({{kStream, "ima1", kParams}}));
    Send(Tag(kCodeTagF, 3)); // settles the request counted before the header
    Send(Whole());
    EXPECT_EQ("SCfg TagF:3", TakeTrace());
}

// ---- Delayed send queue ---------------------------------------------------------------------

TEST_F(SoundPlugin, EachRequestReleasesOneChunk)
{
    Configure();
    for (const cMemBlock& b : {Whole(), cMemBlock(Tag(kCodeTagS, 3000)), Whole(), cMemBlock(Tag(kCodeTagF, 5970)), Whole()})
        Send(b);
    EXPECT_EQ("", TakeTrace()) << "no request outstanding: everything waits";
    Command(Chunk(3000));
    EXPECT_EQ("SCDA:0 TagS:3000 SCDA:3000 TagF:5970", TakeTrace());
    EXPECT_TRUE(TakeUpstream().empty()) << "settled at once by the waiting TagF: not passed on";
    Command(Chunk(6000));
    EXPECT_EQ("SCDA:3000", TakeTrace());
    EXPECT_EQ(1u, TakeUpstream().size());

    // Two requests outstanding release two chunks, then the queue holds again.
    Open();
    for (const cMemBlock& b : {cMemBlock(Tag(kCodeTagF, 1)), Whole(), cMemBlock(Tag(kCodeTagF, 2)), Whole()})
        Send(b);
    EXPECT_EQ("TagF:1 SCDA:3000 TagF:2", TakeTrace());
}

TEST_F(SoundPlugin, OnlyTagFTagsSettleRequests)
{
    static_assert(kCodeTagF == 1181180244u, "a sample rate that spells \"TagF\" at the tag's code offset");
    Configure("-rate=1181180244 -bits=16");
    Open();
    Send(Whole());
    Send(Tag(kCodeTagS, 0));
    Send(Tag(FourCC("Tagf"), 0));
    Send(Whole());
    Send(Tag(kCodeTagF, 9));
    Send(Whole());
    EXPECT_EQ("SCDA:0 TagS:0 Tagf:0 SCDA:0 TagF:9", TakeTrace());
}

TEST_F(SoundPlugin, ResetDropsQueuedBlocksUnsent)
{
    Configure();
    Open();
    Send(Reset(1, 2, 3, 4));
    EXPECT_EQ("Rdy ", TakeTrace());
    Send(Whole()); // the count went with the reset
    Send(Tag(kCodeTagF, 1));
    EXPECT_EQ("", TakeTrace());
    Send(Reset(1, 2, 3, 4));
    EXPECT_EQ("Rdy ", TakeTrace()) << "the queued blocks are gone, not sent";
    Command(Chunk(5000));
    EXPECT_EQ("", TakeTrace());
    Send(Whole());
    EXPECT_EQ("SCDA:0", TakeTrace());
}

// ---- Chunk requests -------------------------------------------------------------------------

TEST_F(SoundPlugin, RequestsArePassedOnOnceAsTheSameBlock)
{
    Configure();
    const cMemBlock request = Chunk(5000);
    Command(request);
    Command(request);
    std::vector<cMemBlock> up = TakeUpstream();
    ASSERT_EQ(1u, up.size());
    EXPECT_TRUE(Same(request, up[0]));
    Send(Tag(kCodeTagF, 1));
    Send(Whole());
    EXPECT_EQ("TagF:1", TakeTrace()) << "the second delivery was not counted";

    const cMemBlock play = Play(false), edge = Chunk(0), gtmr = cCommandBlock<TNotifyBase, kCodeGTmR>();
    Command(play);
    Command(edge);
    Command(edge);
    EXPECT_EQ("SCDA:0 " + Pair(0), TakeTrace()) << "one edge sequence only";
    Command(gtmr);
    Command(cNotifyBlock());
    Command(cTagBlock());
    up = TakeUpstream();
    ASSERT_EQ(2u, up.size()) << "only the play command and GTmR go upstream";
    EXPECT_TRUE(Same(play, up[0]));
    EXPECT_TRUE(Same(gtmr, up[1]));
}

TEST_F(SoundPlugin, EdgeSequencesFollowTheWorkedValues)
{
    const struct {
        bool forward;
        uint64_t t;
        uint32_t mode;
        uint64_t start;
    } rows[] = {
        {false, 4000, 0, 4000}, {false, 4000, 2, 1000}, {false, 4500, 1, 7000}, {false, 10000, 7, 10000},
        {false, 10000, 2, 7000}, {true, 17500, 0, 16000}, {true, 17500, 2, 19000}, {true, 10000, 2, 13000},
        {true, 10000, 0xFFFFFFFF, 10000}, {true, 12999, 3, 10000},
    };
    Configure();
    Send(TimeRange(10000, 10000));
    EXPECT_EQ("TimR", TakeTrace());
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.t) + " mode " + std::to_string(r.mode));
        Command(Play(r.forward));
        Command(Chunk(r.t, r.mode));
        ExpectEdgePair(Take(), r.start, r.forward ? 3 : 2, kStream);
        EXPECT_EQ(1u, TakeUpstream().size()) << "only the play command";
    }
    Send(Whole());
    EXPECT_EQ("", TakeTrace()) << "each sequence settles the count it raised";
}

TEST_F(SoundPlugin, EdgeTimesWrapAroundTheU64Range)
{
    Configure();
    Command(Chunk(kMaxTime - 1)); // initial range: forward is answered only at the very end
    EXPECT_EQ(1u, TakeUpstream().size());
    Command(Chunk(kMaxTime));
    EXPECT_EQ("TagS:" + std::to_string(kMaxTime) + " TagF:2969", TakeTrace());
    Command(Play(false));
    Command(Chunk(1));            // ...and backward only at 0
    EXPECT_EQ(2u, TakeUpstream().size());
    Command(Chunk(0));
    EXPECT_EQ(Pair(0), TakeTrace());
    Send(TimeRange(1000, 5000));
    Take();
    Command(Chunk(0, 2));
    EXPECT_EQ("TagS:" + std::to_string(kMaxTime - 1999) + " TagF:970", TakeTrace());
    Command(Play(true));
    Command(Chunk(kMaxTime, 2));  // (2^64-1 - 5000) / 3000 + 1 steps past the end
    const uint64_t steps = (kMaxTime - 5000) / 3000 + 1;
    EXPECT_EQ(Pair(5000 + steps * 3000), TakeTrace());
}

TEST_F(SoundPlugin, PlayDirectionDecidesWhichEdgeAnswers)
{
    Configure();
    Send(TimeRange(10000, 20000));
    Take();
    Command(Chunk(10000)); // forward, at the beginning: fetched
    Command(Chunk(20000));
    EXPECT_EQ(Pair(20000), TakeTrace());
    Command(Play(false));
    Command(Chunk(20000)); // backward, at the end: fetched
    Command(Chunk(10000));
    EXPECT_EQ(Pair(10000), TakeTrace());
    Send(Reset(0, 0, 0, 0)); // keeps the direction and the range
    EXPECT_EQ("Rdy ", TakeTrace());
    Command(Chunk(9999));
    EXPECT_EQ(Pair(10000), TakeTrace());
    Command(Play(true));
    Command(Chunk(23001));
    EXPECT_EQ(Pair(23000), TakeTrace());
    EXPECT_EQ(4u, TakeUpstream().size()) << "two requests and two play commands";
}

// Before the header the pair could not leave, so the request is not counted either: a count
// without its TagF would let later data out one chunk early.
TEST_F(SoundPlugin, EdgeSequenceBeforeTheHeaderDoesNothing)
{
    Build();
    Command(Play(false));
    Command(Chunk(0));
    EXPECT_EQ(1u, TakeUpstream().size()) << "the play command only";
    Send(Header({{kStream, "ima1", kParams}}));
    Send(Whole());
    EXPECT_EQ("SCfg", TakeTrace());
    Command(Chunk(0)); // the pair queues behind the waiting block and settles its own count
    EXPECT_EQ("SCDA:0 " + Pair(0), TakeTrace());
    Send(Whole());
    EXPECT_EQ("", TakeTrace());
}

// ---- Notifications --------------------------------------------------------------------------

TEST_F(SoundPlugin, TimeRangeIsStoredAsReceivedAndPassedOn)
{
    Configure();
    const cMemBlock range = TimeRange(5000, 1000); // begin after end: stored unchanged
    Send(range);
    std::vector<cMemBlock> out = Take();
    ASSERT_EQ(1u, out.size());
    EXPECT_TRUE(Same(range, out[0]));
    Command(Chunk(999));
    EXPECT_EQ(1u, TakeUpstream().size());
    Command(Chunk(1000));
    EXPECT_EQ(Pair(1000), TakeTrace());
    Command(Play(false));
    Command(Chunk(5000));
    EXPECT_EQ(Pair(5000), TakeTrace());
}

TEST_F(SoundPlugin, ResetIsAnsweredByOneReadyEchoingItsValues)
{
    Configure();
    const cMemBlock reset = Reset(0x11223344, 0x55667788, 0x99AABBCC, 0xDD);
    Send(reset);
    const std::vector<cMemBlock> out = Take();
    ASSERT_EQ(1u, out.size());
    EXPECT_FALSE(Same(reset, out[0]));
    ASSERT_EQ(17u, out[0].GetSize());
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&RecordOf<cReadyBlock>(out[0]));
    const uint8_t expected[17] = {'R', 'd', 'y', ' ', 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55,
                                  0xDD, 0xCC, 0xBB, 0xAA, 0x99};
    EXPECT_EQ(0, std::memcmp(expected, bytes, 17)) << "value3 unaligned at 13";
}

TEST_F(SoundPlugin, EventListsAreNarrowedToTheOwnStream)
{
    Configure();
    const cMemBlock list = Events({{1, 2, 5, "a"}, {3, 4, 3, "b"}, {5, 6, 5, "c"}, {7, 8, 0x105, "d"}});
    Send(list);
    std::vector<cMemBlock> out = Take();
    ASSERT_EQ(1u, out.size());
    EXPECT_FALSE(Same(list, out[0]));
    EXPECT_EQ(8u, out[0].GetSize());
    EXPECT_EQ(kCodeEvt, RecordOf<cNotifyBlock>(out[0]).notifyCode);
    const std::vector<TEventListEntry> mine = CEventLists::Read(out[0]); // the host reads it back
    ASSERT_EQ(2u, mine.size());
    EXPECT_EQ((std::vector<uint32_t>{1, 2, 5, 5, 6, 5}),
              (std::vector<uint32_t>{mine[0].word0, mine[0].word1, mine[0].streamNumber, mine[1].word0,
                                     mine[1].word1, mine[1].streamNumber}));
    EXPECT_EQ("a", mine[0].text);
    EXPECT_EQ("c", mine[1].text);
    EXPECT_EQ(4u, CEventLists::Read(list).size()) << "the received list is only read";

    Send(Events({{1, 2, 4, "x"}}));
    Send(Events({}));
    EXPECT_EQ("", TakeTrace()) << "nothing for this stream: nothing sent, nothing passed on";
}

TEST_F(SoundPlugin, GistIsKeptOtherNotificationsPassOnUnchanged)
{
    Configure();
    Send(Notice(kCodeGist));
    EXPECT_EQ("", TakeTrace());
    const cMemBlock others[] = {cMessageBlock(), cSoundCfgBlock(), Notice(kCodeRdy), Notice(FourCC("Zzzz"))};
    for (const cMemBlock& n : others)
        Send(n);
    const std::vector<cMemBlock> out = Take();
    ASSERT_EQ(4u, out.size());
    for (size_t i = 0; i < 4; ++i)
        EXPECT_TRUE(Same(others[i], out[i])) << i;
}

// ---- Malformed input: dropped unread, nothing else changes -----------------------------------

TEST_F(SoundPlugin, ShortDataBlocksAreDroppedUnread)
{
    Configure();
    Open(2);
    Send(Tag(kCodeTagS, 600));
    Send(Video(kWhole, 40, 4));
    const Bytes a = Pattern(5, 1), b = Pattern(6, 2);
    Send(Fragment(kFirst, a));
    Send(RawBlock(kCodeSnd3, {0x00, kLast, kStream}));
    Send(RawBlock(kCodeVid3, {0, 0, kWhole, 0, 0x10, 0x00, 4}));
    Send(RawBlock(kCodeTag, Bytes(31, 0x46)));
    Send(RawBlock(kCodeHdr3, Bytes(3631, 0)));
    Send(Fragment(kLast, b));
    const std::vector<cMemBlock> out = Take();
    ASSERT_EQ("TagS:600 SCDA:640", Trace(out)) << "no SCfg, no tag, the open record and the frame offset intact";
    EXPECT_EQ(Join({a, b}), Payload(out[1]));
    const std::unique_ptr<CBrick> alone(mCreate(Config("5")));
    EXPECT_FALSE(alone->onData(RawBlock(kCodeVid3, {0, 0, kWhole}))) << "video is never taken, however short";
}

TEST_F(SoundPlugin, ShortHeaderLeavesTheBrickUnconfigured)
{
    Build();
    Send(RawBlock(kCodeHdr3, Bytes(3631, 0)));
    Command(Play(false));
    Command(Chunk(0)); // no header received: no edge sequence, no count
    Send(Tag(kCodeTagS, 1));
    EXPECT_EQ("", TakeTrace());
    Send(Header({{kStream, "ima1", kParams}}));
    Send(Whole());
    EXPECT_EQ("SCfg", TakeTrace());
}

TEST_F(SoundPlugin, ShortControlBlocksAndNotificationsAreDroppedUnread)
{
    Configure();
    Send(TimeRange(5000, kMaxTime));
    Take();
    Command(Shrunk(Chunk(5000), 11));
    Command(Shrunk(Play(false), 8));
    EXPECT_TRUE(TakeUpstream().empty());
    Send(Whole());
    Send(Shrunk(TimeRange(0, 0), 19));
    Send(Shrunk(Reset(1, 2, 3, 4), 24));
    Send(Shrunk(Events({{0, 0, 5, "e"}}), 7));
    Send(Shrunk(Notice(FourCC("Zzzz")), 3));
    EXPECT_EQ("", TakeTrace()) << "no count raised, no Rdy, no event list, nothing passed on";
    Command(Chunk(5000)); // forward still, range and queue intact: the waiting block leaves
    EXPECT_EQ(1u, TakeUpstream().size());
    EXPECT_EQ("SCDA:0", TakeTrace());
    Command(Play(false));
    Command(Chunk(4999));
    EXPECT_EQ(Pair(5000), TakeTrace());
}

// ---- Unloading ------------------------------------------------------------------------------

TEST_F(SoundPlugin, LibraryUnloadsOnceItsLastBrickIsGone)
{
    Configure();
    Open();
    Send(Fragment(kFirst, Pattern(9, 1)));
    Send(Fragment(kLast, Pattern(9, 2)));
    Send(Tag(kCodeTagS, 7));
    Send(Whole()); // stays queued in the brick
    Send(Events({{0, 0, kStream, "kept"}}));
    Command(Play(false));
    Command(Chunk(0));
    Take();
    mPipeline.reset();
    ASSERT_EQ(0, dlclose(mLibrary));
    mLibrary = nullptr;
    void* again = dlopen(VRN3_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(nullptr, again) << "the library stayed loaded";
    if (again != nullptr)
        dlclose(again);
}

} // namespace
