// The capture recorder and reader: every kind of block the brick takes and sends survives the
// trip through a capture file, and damaged captures end in one message naming the packet.
#include "kit/Chain.h"

#include "capture/CaptureReader.h"
#include "WireBlock.h"
#include "capture/CBlockWire.h"
#include "capture/CCaptureRecorder.h"
#include "host/CEventLists.h"
#include "records/DataPathBlocks.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

namespace {

// Where the capture of every kind goes: the path the dissector's test reads, when its fixture
// names one in VRN3_EVERY_KIND_CAPTURE; else a file of this process's own, removed once read, so
// that tests run side by side never write or read each other's.
std::string EveryKindPath()
{
    const char* kept = std::getenv("VRN3_EVERY_KIND_CAPTURE");
    if (kept != nullptr)
        return kept;
    return ::testing::TempDir() + "capture_every_kind." + std::to_string(getpid()) + ".pcapng";
}

// A playback of one chunk with every record kind on every path, recorded; returns the capture's
// bytes.
std::string RecordEveryKind()
{
    const std::string path = EveryKindPath();
    {
        kit::Chain chain(kit::LinkedBrick("1"));
        CCaptureRecorder recorder(path.c_str());
        chain.pipeline.Tap(chain.brick, &recorder);
        cHeaderBlock header = MakeHeaderBlock();
        header.Record().streams[1].codec = "ima1";
        header.Record().streams[1].params = "-rate=8000 -bits=16";
        chain.Send(header);
        cTimeRangeBlock range;
        range.Record() = TSrcTimeRange{kCodeTimR, 0, 6000};
        chain.Send(range);
        chain.Send(CEventLists::Make({{1, 2, 1, "own"}, {3, 4, 7, "other"}}));
        cMessageBlock message;
        message.Record().text = "a message";
        chain.Send(message);
        chain.Send(MakeTagBlock(kCodeTagS, 0, 1));
        chain.Send(MakeVideoFragment(kFragmentWhole, 40, "v", 1));
        chain.Send(MakeSoundFragment(1, kFragmentWhole, "sound", 5));
        chain.Send(MakeTagBlock(kCodeTagF, 2970, 1));
        cChunkCmdBlock chunk;
        chunk.Record() = TCmdRequestChunk{0, 0};
        chain.Command(chunk);
        EXPECT_TRUE(recorder.Close()) << recorder.Error();
    }
    std::ifstream file(path, std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (std::getenv("VRN3_EVERY_KIND_CAPTURE") == nullptr)
        std::remove(path.c_str());
    return bytes;
}

std::string ReadAll(const std::string& bytes, std::vector<std::string>* kinds = nullptr)
{
    std::FILE* in = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
    if (bytes.empty())
        in = std::fopen("/dev/null", "rb");
    CaptureReader reader(in, "cap");
    CapturePacket packet;
    std::string error;
    try {
        while (reader.Next(packet)) {
            if (kinds != nullptr)
                kinds->push_back(std::to_string(packet.header.direction) + CodeText(packet.header.type) +
                                 CodeText(packet.data.size() >= 4 ? *reinterpret_cast<uint32_t*>(packet.data.data()) : 0));
            if (packet.header.path == kPathConfig)
                continue;
            std::vector<uint8_t> again;
            CBlockWire::Flatten(WireBlock::Rebuild(packet.header.type, packet.header.form, packet.data), again);
            EXPECT_EQ(again, packet.data) << "packet " << packet.number;
        }
    } catch (const CaptureError& e) {
        error = e.what();
    }
    std::fclose(in);
    return error;
}

TEST(Capture, EveryBlockKindIsMadeAgainAsRecorded)
{
    std::vector<std::string> kinds;
    EXPECT_EQ(ReadAll(RecordEveryKind(), &kinds), "");
    const std::set<std::string> seen(kinds.begin(), kinds.end());
    for (const char* kind : {"0Hdr3", "0ntfyTimR", "0ntfyEvt ", "0ntfyNMsg", "0Tag ", "0vid3", "0snd3", "0Chun",
                             "1ntfySCfg", "1ntfyTimR", "1ntfyEvt ", "1ntfyNMsg", "1SCDA", "1Tag "})
        EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [&](const std::string& s) { return s.rfind(kind, 0) == 0; }))
            << kind;
}

// Damage done to a good capture (section header 28 bytes, interface 32, then the packets, a
// packet's capture header 28 bytes into its block, and the end record, 40 bytes counting the
// packets at its byte 24), and the message it must end in.
TEST(Capture, DamagedCapturesNameThePacket)
{
    const std::string good = RecordEveryKind();
    const std::string interface = good.substr(28, 32), packet = good.substr(60, *reinterpret_cast<const uint32_t*>(&good[64]));
    const size_t end = good.size() - 40;
    std::string otherLink = good.substr(0, end) + interface + packet + good.substr(end);
    otherLink[end + 8] = 1;                // the second interface: Ethernet
    otherLink[end + 32 + 8] = 1;           // the added packet is of that interface
    std::string miscounted = good;
    miscounted[end + 24] ^= 1;
    struct Case {
        const char* name;
        std::string bytes;
        std::string message;
    } cases[] = {
        {"empty", "", "cap: packet 1: the file is empty"},
        {"garbage", "RIFF....WAVEfmt garbage, not a capture", "cap: packet 1: not a pcapng capture"},
        {"cut short", good.substr(0, good.size() - 10), "cap: cut short after packet 17 (the last whole one): a block of 40"},
        {"no end record", good.substr(0, end), "cap: cut short after packet 17 (the last whole one): no end record"},
        {"packet after the end", good + packet, "cap: packet 18: a packet after the capture's end record"},
        {"end record miscounts", miscounted, "the end record counts 16 packets, the capture holds 17"},
        {"wrong link type", good.substr(0, 36) + '\x01' + good.substr(37), "cap: packet 1: a packet of link type 1,"},
        {"block longer than its packet", good.substr(0, 96) + '\xff' + good.substr(97), "cap: packet 1: a block of 767 bytes in a packet with 512"},
        {"packet of another link type", otherLink, "a packet of link type 1, not VRN3 blocks"},
        {"lengths disagree", good.substr(0, 60 + packet.size() - 4) + "\x01\x02\x03\x04" + good.substr(60 + packet.size()),
         "cap: packet 1: a block whose two lengths disagree"},
    };
    for (const Case& c : cases) {
        const std::string error = ReadAll(c.bytes);
        EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
    }
}

// A record that holds pointers is only ever made from its flattened form, never from raw bytes.
TEST(Capture, ListsAndTextsAreNeverMadeFromPlainBytes)
{
    for (uint32_t code : {kCodeEvt, kCodeNMsg}) {
        std::vector<uint8_t> bytes(sizeof(TNotifyMessage), 0x0d);
        std::memcpy(bytes.data(), &code, sizeof code);
        EXPECT_THROW(WireBlock::Rebuild(kCodeNtfy, CBlockWire::kFormBytes, bytes), std::runtime_error) << CodeText(code);
    }
}

} // namespace
