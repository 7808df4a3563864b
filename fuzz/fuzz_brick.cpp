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
#include "../tests/kit/Chain.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdio>

extern "C" CBrick* CreateBrick(const TBrickConfig& config);

using namespace kit;

namespace {

[[noreturn]] void Finding(const char* what)
{
    std::fprintf(stderr, "fuzz_brick: %s\n", what);
    std::abort();
}

// A command-block node of type code `type` whose record is N bytes: `bytes`, padded or cut.
template <size_t N>
cMemBlock RawCommand(uint32_t type, Bytes bytes)
{
    cCommandBlock<std::array<uint8_t, N>, kCodeNtfy> block;
    Peek::Node(block)->mType = type;
    bytes.resize(N);
    std::memcpy(block.Record().data(), bytes.data(), N);
    return block;
}
constexpr cMemBlock (*kRawCommands[])(uint32_t, Bytes) = {
    RawCommand<1>,  RawCommand<3>,  RawCommand<4>,  RawCommand<7>,  RawCommand<8>,  RawCommand<9>,  RawCommand<11>,
    RawCommand<12>, RawCommand<16>, RawCommand<19>, RawCommand<20>, RawCommand<24>, RawCommand<25>, RawCommand<40>};

// Such a node of one of many record sizes. Its bytes never start with the event list code: that
// record holds a container, which only a real event list can fill.
cMemBlock AnyCommand(FuzzedDataProvider& in, uint32_t type, Bytes bytes)
{
    if (bytes.size() >= 4 && std::memcmp(bytes.data(), &kCodeEvt, 4) == 0)
        std::memcpy(bytes.data(), &kCodeGist, 4);
    return in.PickValueInArray(kRawCommands)(type, std::move(bytes));
}

// Reads every byte of a block in one checked copy, so that ASan sees any block whose size lies
// about its storage.
uint32_t Touch(const cMemBlock& block)
{
    static Bytes scratch;
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
        if (type != kCodeSCDA && type != kCodeTag)
            Finding("a data block of a type the brick never sends");
        if (block.GetSize() < (type == kCodeTag ? sizeof(TStreamTag) : sizeof(TSoundData)))
            Finding("a block shorter than its record");
        const uint32_t kind = type == kCodeTag ? RecordOf<cTagBlock>(block).kind : kEndOfStreamTagKind;
        if (kind != CVrn3StreamSound::kSoundTagKind && kind != kEndOfStreamTagKind)
            Finding("tag of a foreign kind");
        sum += Touch(block) + (type == kCodeSCDA ? cSoundBlock(block).GetExtraSize() : 0);
        return true;
    }
    bool onNotify(const cMemBlock& block) override
    {
        const bool whole = block.GetSize() >= sizeof(TNotifyBase);
        if (whole && RecordOf<cNotifyBlock>(block).notifyCode == kCodeEvt)
            for (const TEventListEntry& entry : RecordOf<cEventListBlock>(block).entries)
                sum += entry.streamNumber + static_cast<uint32_t>(entry.text.size());
        else if (whole)
            sum += Touch(cSoundCfgBlock(block)); // a command node: its record is mData
        return true;
    }
    uint32_t sum = 0;
};

uint32_t PickCode(FuzzedDataProvider& in, std::initializer_list<const uint32_t> known)
{
    return in.ConsumeBool() ? in.PickValueInArray(known) : in.ConsumeIntegral<uint32_t>();
}

uint64_t PickTime(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        return in.ConsumeIntegralInRange<uint64_t>(0, 20000);
    case 1:
        return UINT64_MAX - in.ConsumeIntegralInRange<uint64_t>(0, 6000);
    case 2:
        return in.ConsumeIntegralInRange<uint64_t>(0, 4) * 3000;
    default:
        return in.ConsumeIntegral<uint64_t>();
    }
}

std::string HostileText(FuzzedDataProvider& in)
{
    static const char* const kPieces[] = {"-rate=",     "-bits=",       " ",  "8000",    "16",      "-",
                                          "2147483648", "-99999999999", "\t", "--rate=", "-rate= ", "x"};
    std::string text;
    for (int pieces = in.ConsumeIntegralInRange<int>(0, 6); pieces > 0; --pieces)
        text += in.ConsumeBool() ? std::string(in.PickValueInArray(kPieces)) : in.ConsumeRandomLengthString(24);
    return text; // may hold NULs
}

cMemBlock MakeHeader(FuzzedDataProvider& in, int stream)
{
    cHeaderBlock header(in.ConsumeIntegralInRange<uint32_t>(0, 3)); // sometimes extra bytes behind
    for (int entries = in.ConsumeIntegralInRange<int>(0, 3); entries > 0; --entries) {
        const bool own = in.ConsumeBool() && stream >= 0 && stream < kStreamCount;
        auto& entry = header.Record().streams[own ? stream : in.ConsumeIntegralInRange<int>(0, 255)];
        entry.kind = in.ConsumeIntegral<uint8_t>();
        entry.codec = in.ConsumeRandomLengthString(8);
        entry.params = HostileText(in);
    }
    return header;
}

cMemBlock MakeFragment(FuzzedDataProvider& in, int stream)
{
    const uint32_t payload = in.ConsumeIntegralInRange<uint32_t>(0, in.ConsumeBool() ? 16 : 600);
    const uint8_t flags = in.ConsumeIntegral<uint8_t>();
    return Fragment(FragmentKind(flags), Pattern(payload, static_cast<uint8_t>(payload)),
                    in.ConsumeIntegralInRange<int>(0, 3) != 0 ? static_cast<uint8_t>(stream)
                                                              : in.ConsumeIntegral<uint8_t>(),
                    in.ConsumeBool() ? static_cast<uint16_t>(in.ConsumeIntegralInRange<uint32_t>(0, payload))
                                     : in.ConsumeIntegral<uint16_t>(),
                    flags);
}

Bytes SomeBytes(FuzzedDataProvider& in, size_t most)
{
    return in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, most));
}

// One data, control or notification block, and the path it takes.
struct Step {
    cMemBlock block;
    bool control = false;
};

Step NextBlock(FuzzedDataProvider& in, int stream)
{
    // Headers are rare: making and dropping one builds and destroys hundreds of strings. The
    // arguments of one call are read from the input in whatever order the compiler picks: that
    // order is fixed for a build, which is all a fuzzer needs.
    const int choice = in.ConsumeIntegralInRange<int>(0, 62);
    switch (choice < 48 ? choice / 4 + 1 : choice - 48) {
    case 0:
        return {MakeHeader(in, stream)};
    case 1:
    case 2:
    case 3:
        return {MakeFragment(in, stream)};
    case 4:
        return {Video(FragmentKind(in.ConsumeIntegral<uint8_t>()), in.ConsumeIntegral<uint16_t>(),
                      in.ConsumeIntegralInRange<uint8_t>(0, 6))};
    case 5:
        return {Tag(PickCode(in, {kCodeTagS, kCodeTagF, 0}), PickTime(in), in.ConsumeIntegral<uint32_t>(),
                    in.ConsumeIntegral<uint32_t>(), in.ConsumeIntegralInRange<uint32_t>(0, 4))};
    case 6:
        return {Chunk(PickTime(in), in.ConsumeBool() ? kModeOneMoreStep : in.ConsumeIntegral<uint32_t>()), true};
    case 7:
        return {Play(in.ConsumeBool()), true};
    case 8:
        return {TimeRange(PickTime(in), PickTime(in))};
    case 9:
        return {Reset(in.ConsumeIntegral<uint32_t>(), 0, 0, in.ConsumeIntegral<uint8_t>())};
    case 10: {
        cEventListBlock list;
        for (int entries = in.ConsumeIntegralInRange<int>(0, 5); entries > 0; --entries)
            list.Record().entries.append(
                TEventListEntry{in.ConsumeIntegral<uint32_t>(), 0,
                                in.ConsumeBool() ? static_cast<uint32_t>(stream) : in.ConsumeIntegral<uint32_t>(),
                                in.ConsumeRandomLengthString(16)});
        return {list};
    }
    case 11: { // a data block of any type and size: only command nodes for notifications, only real headers
        const uint32_t type =
            PickCode(in, {kCodeHdr3, kCodeSnd3, kCodeVid3, kCodeTag, kCodeSCDA, kCodeDat3, kCodeNtfy, 0});
        return {type == kCodeNtfy || type == kCodeHdr3 ? AnyCommand(in, kCodeNtfy, SomeBytes(in, 40))
                                                       : RawBlock(type, SomeBytes(in, 64))};
    }
    case 12: { // a notification of any code and size
        const uint32_t code = PickCode(in, {kCodeTimR, kCodeRset, kCodeGist, kCodeSCfg, kCodeNMsg, kCodeRdy, 0});
        Bytes bytes = SomeBytes(in, 40);
        bytes.insert(bytes.begin(), reinterpret_cast<const uint8_t*>(&code),
                     reinterpret_cast<const uint8_t*>(&code + 1));
        return {AnyCommand(in, kCodeNtfy, bytes)};
    }
    default: { // a control block of any type and size
        const uint32_t type = PickCode(in, {kCodeChun, kCodePlay, kCodeGTmR, kCodeNtfy, kCodeTag, 0});
        return {AnyCommand(in, type, SomeBytes(in, 40)), true};
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    int stream = in.ConsumeIntegralInRange<int>(0, 3);
    TBrickConfig config = Config(std::to_string(stream).c_str());
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
        const std::string text = HostileText(in);
        std::memcpy(config.streamNumber, text.data(), std::min(text.size(), sizeof config.streamNumber));
        stream = -1;
    }
    CBrick* brick = CreateBrick(config);
    if (brick == nullptr)
        Finding("an accepted configuration was refused");
    std::vector<Step> sent; // earlier blocks, for repeated deliveries
    CPipeline pipeline;     // goes with whatever its queues and the brick's queue still hold
    pipeline.Add(new SourceBrick);
    pipeline.Add(brick);
    pipeline.Add(new CSink);
    while (in.remaining_bytes() > 0) {
        const int op = in.ConsumeIntegralInRange<int>(0, 15);
        if (op == 0) {
            pipeline.RunUntilIdle();
        } else {
            const bool again = op == 1 && !sent.empty(); // the same block once more
            const Step step =
                again ? sent[in.ConsumeIntegralInRange<size_t>(0, sent.size() - 1)] : NextBlock(in, stream);
            step.control ? brick->enqueueControl(step.block) : brick->enqueueData(step.block);
            if (!again && sent.size() < 8)
                sent.push_back(step);
            if (!again && in.ConsumeIntegralInRange<int>(0, 3) != 0)
                pipeline.RunUntilIdle();
        }
        if (static_cast<CVrn3StreamSound*>(brick)->ChunkRequestCount() < 0)
            Finding("the request count went below zero");
    }
    return 0;
}
