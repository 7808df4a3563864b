// Fuzz target: a sound brick made by CreateBrick, driven through the stand-in host.
//
// The input is read as a program of operations on a pipeline source -> sound brick -> sink:
// data blocks (headers with hostile parameter texts, sound and video fragments of any kind and
// stream, tags, blocks of any type code and size), control blocks (chunk requests at any time
// and mode, play commands, "GTmR", anything else), notifications (time ranges, resets, event
// lists, anything else), repeated deliveries of a block already sent, and runs of the pipeline
// at any point; the pipeline, with whatever is still queued, is destroyed at the end.
//
// Blocks are built as real bricks build them: data blocks as structure-block nodes, control
// blocks and notifications as command-block nodes, with byte records of many sizes for the
// unknown and malformed ones. A byte record never carries the event list code: that record
// holds a container, which only a real event list can fill.
//
// Besides ASan and UBSan (and the brick's own assertions, kept on), the sink checks what leaves
// the brick: only sound data and tags on the data path, each at least one record long, tags of
// the brick's kinds, every byte readable; and the request count is never negative.
#include "tests/support/Chain.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>

extern "C" CBrick* CreateBrick(const TBrickConfig& config);

using namespace kit;

namespace {

// A record of N opaque bytes, for command blocks of any size.
template <size_t N>
struct TBytes {
    uint8_t b[N];
};

[[noreturn]] void Finding(const char* what)
{
    std::fprintf(stderr, "fuzz_brick: %s\n", what);
    std::abort();
}

// A command-block node of any type code whose record is `bytes`, padded or cut to N.
template <size_t N>
class RawCommand : public cCommandBlock<TBytes<N>, kCodeNtfy> {
public:
    RawCommand(uint32_t type, const std::vector<uint8_t>& bytes)
    {
        this->mNode->mType = type;
        std::memset(this->Record().b, 0, N);
        if (!bytes.empty())
            std::memcpy(this->Record().b, bytes.data(), bytes.size() < N ? bytes.size() : N);
    }
};

cMemBlock MakeRawCommand(uint32_t type, size_t sizeChoice, const std::vector<uint8_t>& bytes)
{
    switch (sizeChoice % 14) {
    case 0: return RawCommand<1>(type, bytes);
    case 1: return RawCommand<3>(type, bytes);
    case 2: return RawCommand<4>(type, bytes);
    case 3: return RawCommand<7>(type, bytes);
    case 4: return RawCommand<8>(type, bytes);
    case 5: return RawCommand<9>(type, bytes);
    case 6: return RawCommand<11>(type, bytes);
    case 7: return RawCommand<12>(type, bytes);
    case 8: return RawCommand<16>(type, bytes);
    case 9: return RawCommand<19>(type, bytes);
    case 10: return RawCommand<20>(type, bytes);
    case 11: return RawCommand<24>(type, bytes);
    case 12: return RawCommand<25>(type, bytes);
    default: return RawCommand<40>(type, bytes);
    }
}

// Raw bytes never spell the event list code at the start: that record holds a container, which
// only a real event list can fill (any other sender's list is trusted as the host trusts it).
void NoEventListCode(std::vector<uint8_t>& bytes)
{
    uint32_t code = 0;
    if (bytes.size() >= sizeof code)
        std::memcpy(&code, bytes.data(), sizeof code);
    if (code == kCodeEvt) {
        code = kCodeGist;
        std::memcpy(bytes.data(), &code, sizeof code);
    }
}

// Reads every byte of a block in one checked copy, so that ASan sees any block whose size lies
// about its storage.
uint32_t Touch(const cMemBlock& block)
{
    static std::vector<uint8_t> scratch;
    scratch.resize(block.GetSize() + 1);
    std::memcpy(scratch.data(), block.GetData(), block.GetSize());
    return scratch[block.GetSize() / 2];
}

// The end of the chain: checks what the brick sends.
class CSink : public CBrick {
public:
    bool onData(const cMemBlock& block) override
    {
        const uint32_t type = block.GetType();
        if (type == kCodeSCDA) {
            if (block.GetSize() < sizeof(TSoundData))
                Finding("sound block shorter than its record");
            const cSoundBlock sound(block);
            mSum += Touch(sound) + sound.GetExtraSize();
        } else if (type == kCodeTag) {
            if (block.GetSize() < sizeof(TStreamTag))
                Finding("tag shorter than its record");
            const cTagBlock tag(block);
            const uint32_t kind = tag.Record().kind;
            if (kind != CVrn3StreamSound::kSoundTagKind && kind != kEndOfStreamTagKind)
                Finding("tag of a foreign kind");
            mSum += Touch(tag);
        } else {
            Finding("a data block of a type the brick never sends");
        }
        return true;
    }
    bool onNotify(const cMemBlock& block) override
    {
        if (block.GetSize() >= sizeof(TNotifyBase)) {
            const cNotifyBlock note(block);
            const uint32_t code = note.Record().notifyCode;
            if (code == kCodeEvt) {
                const cEventListBlock list(block);
                for (const TEventListEntry& entry : list.Record().entries)
                    mSum += entry.streamNumber + static_cast<uint32_t>(entry.text.size());
            } else {
                mSum += Touch(cSoundCfgBlock(block)); // a command node: its record is mData
            }
        }
        return true;
    }
    uint32_t mSum = 0;
};

constexpr uint32_t kDataTypes[] = {kCodeHdr3, kCodeSnd3, kCodeVid3, kCodeTag, kCodeSCDA, kCodeDat3, kCodeNtfy, 0};
constexpr uint32_t kCtrlTypes[] = {kCodeChun, kCodePlay, kCodeGTmR, kCodeNtfy, kCodeTag, 0};
constexpr uint32_t kNotifyCodes[] = {kCodeTimR, kCodeRset, kCodeGist, kCodeSCfg, kCodeNMsg, kCodeRdy, 0};

uint32_t PickCode(FuzzedDataProvider& in, const uint32_t* known, size_t count)
{
    if (in.ConsumeBool())
        return known[in.ConsumeIntegralInRange<size_t>(0, count - 1)];
    return in.ConsumeIntegral<uint32_t>();
}

uint64_t PickTime(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return in.ConsumeIntegralInRange<uint64_t>(0, 20000);
    case 1: return UINT64_MAX - in.ConsumeIntegralInRange<uint64_t>(0, 6000);
    case 2: return in.ConsumeIntegralInRange<uint64_t>(0, 4) * 3000;
    default: return in.ConsumeIntegral<uint64_t>();
    }
}

std::string HostileText(FuzzedDataProvider& in)
{
    static const char* const kPieces[] = {"-rate=", "-bits=", " ", "8000", "16", "-", "2147483648",
                                          "-99999999999", "\t", "--rate=", "-rate= ", "x"};
    std::string text;
    const int pieces = in.ConsumeIntegralInRange<int>(0, 6);
    for (int i = 0; i < pieces; ++i) {
        if (in.ConsumeBool())
            text += kPieces[in.ConsumeIntegralInRange<size_t>(0, sizeof kPieces / sizeof *kPieces - 1)];
        else
            text += in.ConsumeRandomLengthString(24); // may hold NULs
    }
    return text;
}

cMemBlock MakeHeader(FuzzedDataProvider& in, int stream)
{
    cHeaderBlock header(in.ConsumeIntegralInRange<uint32_t>(0, 3)); // sometimes extra bytes behind
    HDR_T& record = header.Record();
    const int entries = in.ConsumeIntegralInRange<int>(0, 3);
    for (int i = 0; i < entries; ++i) {
        const int at = in.ConsumeBool() && stream >= 0 && stream < kStreamCount ? stream
                                                                                : in.ConsumeIntegralInRange<int>(0, 255);
        record.streams[at].kind = in.ConsumeIntegral<uint8_t>();
        record.streams[at].codec = in.ConsumeRandomLengthString(8);
        record.streams[at].params = HostileText(in);
    }
    return header;
}

cMemBlock MakeFragment(FuzzedDataProvider& in, int stream)
{
    const uint32_t payload = in.ConsumeIntegralInRange<uint32_t>(0, in.ConsumeBool() ? 16 : 600);
    const uint8_t flags = in.ConsumeIntegral<uint8_t>();
    const uint8_t number = in.ConsumeIntegralInRange<int>(0, 3) != 0 ? static_cast<uint8_t>(stream) : in.ConsumeIntegral<uint8_t>();
    const uint16_t length = in.ConsumeBool() ? static_cast<uint16_t>(in.ConsumeIntegralInRange<uint32_t>(0, payload))
                                             : in.ConsumeIntegral<uint16_t>();
    return Fragment(FragmentKind(flags), Bytes(payload, static_cast<uint8_t>(payload)), number, length, flags);
}

cMemBlock MakeVideo(FuzzedDataProvider& in)
{
    in.ConsumeIntegralInRange<uint32_t>(0, 8); // trailing bytes, which no video reader looks at
    const uint8_t kind = FragmentKind(in.ConsumeIntegral<uint8_t>());
    const uint16_t frameTime = in.ConsumeIntegral<uint16_t>();
    return Video(kind, frameTime, in.ConsumeIntegralInRange<uint8_t>(0, 6));
}

cMemBlock MakeTag(FuzzedDataProvider& in)
{
    const uint32_t extra = in.ConsumeIntegralInRange<uint32_t>(0, 4);
    const uint64_t time = PickTime(in);
    const uint32_t codes[] = {kCodeTagS, kCodeTagF, 0};
    const uint32_t code = PickCode(in, codes, 3);
    const uint32_t kind = in.ConsumeIntegral<uint32_t>();
    return Tag(code, time, kind, in.ConsumeIntegral<uint32_t>(), extra);
}

cMemBlock MakeEventList(FuzzedDataProvider& in, int stream)
{
    cEventListBlock list;
    const int entries = in.ConsumeIntegralInRange<int>(0, 5);
    for (int i = 0; i < entries; ++i) {
        TEventListEntry entry;
        entry.word0 = in.ConsumeIntegral<uint32_t>();
        entry.word1 = 0;
        entry.streamNumber = in.ConsumeBool() ? static_cast<uint32_t>(stream) : in.ConsumeIntegral<uint32_t>();
        entry.text = in.ConsumeRandomLengthString(16);
        list.Record().entries.append(entry);
    }
    return list;
}

// One data, control or notification block, and the path it takes.
struct Step {
    cMemBlock block;
    bool control = false;
};

Step NextBlock(FuzzedDataProvider& in, int stream)
{
    Step step;
    // Headers are rare: making and dropping one builds and destroys hundreds of strings.
    const int choice = in.ConsumeIntegralInRange<int>(0, 62);
    switch (choice < 48 ? choice / 4 + 1 : choice - 48) {
    case 0: step.block = MakeHeader(in, stream); break;
    case 1: case 2: case 3: step.block = MakeFragment(in, stream); break;
    case 4: step.block = MakeVideo(in); break;
    case 5: step.block = MakeTag(in); break;
    case 6: { // chunk request
        const uint64_t time = PickTime(in);
        step.block = Chunk(time, in.ConsumeBool() ? kModeOneMoreStep : in.ConsumeIntegral<uint32_t>());
        step.control = true;
        break;
    }
    case 7: // play command
        step.block = Play(in.ConsumeBool());
        step.control = true;
        break;
    case 8: { // time range
        const uint64_t begin = PickTime(in);
        step.block = TimeRange(begin, PickTime(in));
        break;
    }
    case 9: { // reset
        const uint32_t value1 = in.ConsumeIntegral<uint32_t>();
        step.block = Reset(value1, 0, 0, in.ConsumeIntegral<uint8_t>());
        break;
    }
    case 10: step.block = MakeEventList(in, stream); break;
    case 11: { // data block of any type and size
        const uint32_t type = PickCode(in, kDataTypes, sizeof kDataTypes / sizeof *kDataTypes);
        if (type == kCodeNtfy || type == kCodeHdr3) { // only command nodes, only real headers
            std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 40));
            NoEventListCode(bytes);
            step.block = MakeRawCommand(kCodeNtfy, in.ConsumeIntegral<uint8_t>(), bytes);
            break;
        }
        step.block = RawBlock(type, in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 64)));
        break;
    }
    case 12: { // notification of any code and size
        uint32_t code = PickCode(in, kNotifyCodes, sizeof kNotifyCodes / sizeof *kNotifyCodes);
        if (code == kCodeEvt)
            code = kCodeGist;
        std::vector<uint8_t> bytes(4);
        std::memcpy(bytes.data(), &code, 4);
        const std::vector<uint8_t> rest = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 40));
        bytes.insert(bytes.end(), rest.begin(), rest.end());
        step.block = MakeRawCommand(kCodeNtfy, in.ConsumeIntegral<uint8_t>(), bytes);
        break;
    }
    default: { // control block of any type and size
        const uint32_t type = PickCode(in, kCtrlTypes, sizeof kCtrlTypes / sizeof *kCtrlTypes);
        step.block = MakeRawCommand(type, in.ConsumeIntegral<uint8_t>(),
                                    in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 40)));
        step.control = true;
        break;
    }
    }
    return step;
}

TBrickConfig MakeConfig(FuzzedDataProvider& in, int& stream)
{
    stream = in.ConsumeIntegralInRange<int>(0, 3);
    TBrickConfig config = Config(std::to_string(stream).c_str());
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
        const std::string text = HostileText(in);
        std::memcpy(config.streamNumber, text.data(), std::min(text.size(), sizeof config.streamNumber));
        stream = -1;
    }
    return config;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    int stream = 0;
    const TBrickConfig config = MakeConfig(in, stream);
    CBrick* made = CreateBrick(config);
    if (made == nullptr)
        Finding("an accepted configuration was refused");
    CVrn3StreamSound* brick = static_cast<CVrn3StreamSound*>(made);
    std::vector<Step> sent; // earlier blocks, for repeated deliveries
    {
        CPipeline pipeline;
        pipeline.Add(new SourceBrick);
        pipeline.Add(brick);
        pipeline.Add(new CSink);
        while (in.remaining_bytes() > 0) {
            const int op = in.ConsumeIntegralInRange<int>(0, 15);
            if (op == 0) {
                pipeline.RunUntilIdle();
            } else if (op == 1 && !sent.empty()) { // the same block once more
                const Step& again = sent[in.ConsumeIntegralInRange<size_t>(0, sent.size() - 1)];
                if (again.control)
                    brick->enqueueControl(again.block);
                else
                    brick->enqueueData(again.block);
            } else {
                Step step = NextBlock(in, stream);
                if (step.control)
                    brick->enqueueControl(step.block);
                else
                    brick->enqueueData(step.block);
                if (sent.size() < 8)
                    sent.push_back(step);
                if (in.ConsumeIntegralInRange<int>(0, 3) != 0)
                    pipeline.RunUntilIdle();
            }
            if (brick->ChunkRequestCount() < 0)
                Finding("the request count went below zero");
        }
        // The pipeline goes with whatever its queues and the brick's queue still hold.
    }
    return 0;
}
