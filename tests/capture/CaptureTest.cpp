// The capture recorder and reader: every kind of block the brick takes and sends survives the
// trip through a capture file, and damaged captures end in one message naming the packet.
#include "../kit/Chain.h"

#include "../../capture/CBlockWire.h"
#include "../../capture/CCaptureReader.h"
#include "../../capture/CCaptureRecorder.h"
#include "../../capture/CWireBlock.h"
#include "../../capture/FlatLayout.h"
#include "../../host/CEventLists.h"
#include "../../records/Codes.h"
#include "../../records/DataPathBlocks.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
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

// A stream holding `bytes`, read from its start: an unnamed file of the test's own, so that no
// device or other file is opened; the test fails here, saying why, if it cannot be made.
using Stream = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
Stream StreamOf(const std::string& bytes)
{
    Stream in(std::tmpfile(), std::fclose);
    if (!in || std::fwrite(bytes.data(), 1, bytes.size(), in.get()) != bytes.size() ||
        std::fseek(in.get(), 0, SEEK_SET) != 0)
        throw std::runtime_error(std::string("cannot make the capture's stream: ") + std::strerror(errno));
    return in;
}

// Reads a capture through, checking that each block made again from its packet flattens to the
// same bytes; returns the reader's message, empty when the capture was read whole.
std::string ReadAll(const std::string& bytes, std::vector<std::string>* kinds = nullptr)
{
    const Stream in = StreamOf(bytes);
    CCaptureReader reader(in.get(), "cap");
    CapturePacket packet;
    std::string error;
    try {
        while (reader.Next(packet)) {
            if (kinds != nullptr)
                kinds->push_back(std::to_string(packet.header.direction) + CodeText(packet.header.type) +
                                 CodeText(FlatLayout::NotifyCode(packet.data)));
            if (packet.header.path == kPathConfig)
                continue;
            std::vector<uint8_t> again;
            CBlockWire::Flatten(CWireBlock::Rebuild(packet.header.type, packet.header.form, packet.data), again);
            EXPECT_EQ(again, packet.data) << "packet " << packet.number;
        }
    } catch (const CaptureError& e) {
        error = e.what();
    }
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

// A capture written by hand, little-endian, as the pcapng format and the packet header lay it out.
void Put(std::string& out, uint64_t value, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i)
        out += static_cast<char>(value >> (8 * i));
}

std::string U32(uint32_t value)
{
    std::string out;
    Put(out, value, 4);
    return out;
}

// A pcapng block: type, length, the body padded to 4 bytes, the length again.
std::string Block(uint32_t type, std::string body)
{
    body.resize((body.size() + 3) / 4 * 4, '\0');
    const uint32_t length = static_cast<uint32_t>(body.size()) + 12;
    return U32(type) + U32(length) + body + U32(length);
}

std::string Section(uint32_t magic = 0x1A2B3C4D, uint16_t major = 1)
{
    std::string body = U32(magic);
    Put(body, major, 2);
    Put(body, 0, 2);            // minor
    Put(body, ~uint64_t{0}, 8); // section length: not given
    return Block(0x0A0D0D0A, body);
}

// An interface of `linkType` whose time stamps are nanoseconds (option if_tsresol 9).
std::string Interface(uint16_t linkType = 147)
{
    std::string body;
    Put(body, linkType, 2);
    Put(body, 0, 2);
    Put(body, 0, 4);                                   // no snap length
    Put(body, 9, 2), Put(body, 1, 2), Put(body, 9, 4); // if_tsresol: 10^-9
    Put(body, 0, 4);                                   // end of options
    return Block(1, body);
}

// Where the time stamp lies in a packet block and in the end record: the recorder's clock, which
// the comparison leaves out.
constexpr size_t kTimeAt = 12;

struct Packet {
    uint32_t sequence, type;
    uint8_t path, direction, form;
    std::string data;
    uint32_t interface = 0;
};

std::string EnhancedPacket(const Packet& p)
{
    std::string header = U32(p.sequence) + U32(p.type) + U32(static_cast<uint32_t>(p.data.size()));
    header += std::string{static_cast<char>(p.path), static_cast<char>(p.direction), static_cast<char>(p.form), 0};
    const uint32_t captured = static_cast<uint32_t>(header.size() + p.data.size());
    return Block(6, U32(p.interface) + U32(0) + U32(0) + U32(captured) + U32(captured) + header + p.data);
}

// The recorder's end record: statistics of interface 0 whose isb_ifrecv counts `packets`.
std::string EndRecord(uint64_t packets)
{
    std::string body = U32(0) + U32(0) + U32(0);
    Put(body, 4, 2), Put(body, 8, 2), Put(body, packets, 8);
    Put(body, 0, 4); // end of options
    return Block(5, body);
}

std::string Text(const std::string& text)
{
    return U32(static_cast<uint32_t>(text.size()));
}

// Where two captures differ, word by word, with the time stamps of packets and end record left
// out: at most eight "offset: recorded, expected" lines, and the sizes when they differ.
std::string Differences(std::string recorded, std::string expected)
{
    for (std::string* bytes : {&recorded, &expected}) {
        for (size_t at = 28 + 32; at + 20 <= bytes->size();
             at += *reinterpret_cast<const uint32_t*>(&(*bytes)[at + 4])) {
            std::fill_n(&(*bytes)[at + kTimeAt], 8, '\0');
            if (*reinterpret_cast<const uint32_t*>(&(*bytes)[at + 4]) < 12)
                break;
        }
    }
    std::string differences = recorded.size() == expected.size() ? ""
                                                                 : "sizes " + std::to_string(recorded.size()) + ", " +
                                                                       std::to_string(expected.size()) + "\n";
    char line[64];
    for (size_t at = 0, shown = 0; at < std::min(recorded.size(), expected.size()) && shown < 8; at += 4) {
        uint32_t a = 0, b = 0;
        std::memcpy(&a, &recorded[at], std::min<size_t>(4, recorded.size() - at));
        std::memcpy(&b, &expected[at], std::min<size_t>(4, expected.size() - at));
        if (a != b && std::snprintf(line, sizeof line, "%zu: %08x, %08x\n", at, a, b) > 0) {
            differences += line;
            ++shown;
        }
    }
    return differences;
}

// Each kind of record on each path and in both directions, recorded, against the bytes the format
// gives them: the configuration as it is, plain records and a block of a type no record has as
// their bytes, the header, an event list and a message flattened with their texts after the
// fields, and the end record counting them.
TEST(Capture, RecordsEveryPacketFieldByField)
{
    const std::string path = ::testing::TempDir() + "capture_fields." + std::to_string(getpid()) + ".pcapng";
    const TBrickConfig config = kit::Config("1");
    cHeaderBlock header = MakeHeaderBlock();
    header.Record().reserved0 = 0x01020304;
    header.Record().reserved4 = 5;
    header.Record().reserved8 = "r8";
    header.Record().streams[1].reserved0 = 6;
    header.Record().streams[1].kind = kRatedStreamKind;
    header.Record().streams[1].codec = "ima1";
    header.Record().streams[1].params = "-rate=8000";
    header.Record().reserved3596[8] = "last";
    cTagBlock tag = MakeTagBlock(kCodeTagF, 2970, 1);
    tag.Record().kind = 3;
    cChunkCmdBlock chunk;
    chunk.Record() = TCmdRequestChunk{6000, 2};
    cMessageBlock message;
    message.Record().sender = 11;
    message.Record().category = kCodeWarn;
    message.Record().messageCode = 12;
    message.Record().level = 2;
    message.Record().text = "a message";
    message.Record().details = "d";
    {
        CCaptureRecorder recorder(path);
        recorder.Configured(config);
        recorder.Delivered(header, false);
        recorder.Sent(tag, false);
        recorder.Sent(chunk, true);
        recorder.Delivered(CEventLists::Make({{1, 2, 7, "own"}, {3, 4, 9, "other"}}), false);
        recorder.Sent(message, false);
        recorder.Delivered(kit::RawBlock(FourCC("Xyz1"), {1, 2, 3}), false);
        EXPECT_TRUE(recorder.Close()) << recorder.Error();
        EXPECT_EQ(recorder.Packets(), 7u);
    }
    std::ifstream file(path, std::ios::binary);
    const std::string recorded{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::remove(path.c_str());

    std::string flatHeader = U32(0x01020304) + U32(5) + Text("r8");
    for (int i = 0; i < kStreamCount; ++i)
        flatHeader += i == 1 ? std::string{6, 1} + Text("ima1") + Text("") + Text("-rate=8000")
                             : std::string(2, '\0') + Text("") + Text("") + Text("");
    for (int i = 0; i < 9; ++i)
        flatHeader += Text(i == 8 ? "last" : "");
    flatHeader += "r8ima1-rate=8000last";
    std::string tagBytes;
    Put(tagBytes, 2970, 8);
    tagBytes += std::string(8, '\0') + U32(kCodeTagF) + U32(3) + U32(1) + U32(0);
    std::string chunkBytes;
    Put(chunkBytes, 6000, 8);
    chunkBytes += U32(2);
    const std::string events = U32(kCodeEvt) + U32(2) + U32(1) + U32(2) + U32(7) + Text("own") + "own" + U32(3) +
                               U32(4) + U32(9) + Text("other") + "other";
    const std::string messageBytes =
        U32(kCodeNMsg) + U32(11) + U32(kCodeWarn) + U32(12) + U32(2) + Text("a message") + Text("d") + "a messaged";
    const std::string expected = Section() + Interface() +
                                 EnhancedPacket({1, 0, kPathConfig, kDirectionIn, 0,
                                                 std::string(reinterpret_cast<const char*>(&config), sizeof config)}) +
                                 EnhancedPacket({2, kCodeHdr3, kPathData, kDirectionIn, 1, flatHeader}) +
                                 EnhancedPacket({3, kCodeTag, kPathData, kDirectionOut, 0, tagBytes}) +
                                 EnhancedPacket({4, kCodeChun, kPathControl, kDirectionOut, 0, chunkBytes}) +
                                 EnhancedPacket({5, kCodeNtfy, kPathNotify, kDirectionIn, 1, events}) +
                                 EnhancedPacket({6, kCodeNtfy, kPathNotify, kDirectionOut, 1, messageBytes}) +
                                 EnhancedPacket({7, FourCC("Xyz1"), kPathData, kDirectionIn, 0, "\x01\x02\x03"}) +
                                 EndRecord(7);
    EXPECT_EQ(Differences(recorded, expected), "");
}

// What the reader makes of `bytes`: each packet's number and type, then "whole", or "partial" for
// a cut capture taken with `partial`; or its message.
std::string Read(const std::string& bytes, bool partial = false)
{
    const Stream in = StreamOf(bytes);
    CCaptureReader reader(in.get(), "cap", partial);
    CapturePacket packet;
    std::string outcome;
    try {
        while (reader.Next(packet))
            outcome += std::to_string(packet.number) + ":" + CodeText(packet.header.type) + " ";
        outcome += reader.Partial() ? "partial" : "whole";
    } catch (const CaptureError& e) {
        outcome = e.what();
    }
    return outcome;
}

// Damaged captures, each against the one message it ends in: which packet, and what is wrong.
TEST(Capture, DamagedCapturesNameThePacket)
{
    const std::string start = Section() + Interface();
    const std::string config = EnhancedPacket({1, 0, kPathConfig, kDirectionIn, 0, std::string(512, 'c')});
    const std::string tag = EnhancedPacket({2, kCodeTag, kPathData, kDirectionOut, 0, std::string(32, 't')});
    const std::string good = start + config + tag + EndRecord(2);
    const auto with = [](std::string bytes, size_t at, const std::string& put) {
        return bytes.replace(at, put.size(), put);
    };
    const size_t tagAt = start.size() + config.size(), endAt = good.size() - 40;
    const std::string tagLength = std::to_string(tag.size());
    // What a capture's tail may hold besides packets: blocks of kinds the reader does not know,
    // other tools' statistics (another option first, another link type's interface, too short to be ours), a
    // packet of a size not of words.
    const std::string optional = Block(0x00000BAD, "a custom block"), names = Block(4, "names");
    const std::string otherStatistics = Block(5, U32(0) + U32(0) + U32(0) + U32(2 | 8 << 16) + U32(0) + U32(0));
    const std::string odd = EnhancedPacket({2, kCodeTag, kPathData, kDirectionOut, 0, std::string(33, 't')});
    std::string otherInterface = EndRecord(2);
    otherInterface.replace(8, 4, U32(1));
    struct Case {
        const char* name;
        std::string bytes;
        std::string outcome;
    } cases[] = {
        {"whole", good, "1: 2:Tag  whole"},
        {"empty", "", "cap: packet 1: the file is empty: no capture"},
        {"no pcapng", "RIFF....WAVEfmt garbage, not a capture",
         "cap: packet 1: not a pcapng capture (no section header at its start)"},
        {"big-endian", Section(0x4D3C2B1A) + Interface(),
         "cap: packet 1: a big-endian capture; this reader takes the little-endian ones the recorder writes"},
        {"version 2", Section(0x1A2B3C4D, 2),
         "cap: packet 1: not a pcapng capture of version 1 (its section header is damaged)"},
        {"length not of words", with(good, 4, U32(30)),
         "cap: packet 1: a block of 30 bytes: not a pcapng block length"},
        {"length beyond any block", with(good, 4, U32((16u << 20) + 4)),
         "cap: packet 1: a block of 16777220 bytes: not a pcapng block length"},
        {"length below any block", with(good, 4, U32(8)),
         "cap: packet 1: a block of 8 bytes: not a pcapng block length"},
        {"section header without fields", Block(0x0A0D0D0A, ""),
         "cap: packet 1: not a pcapng capture of version 1 (its section header is damaged)"},
        {"section header without a version", Block(0x0A0D0D0A, U32(0x1A2B3C4D)),
         "cap: packet 1: not a pcapng capture of version 1 (its section header is damaged)"},
        {"lengths disagree", with(good, 24, U32(32)), "cap: packet 1: a block whose two lengths disagree (28, 32)"},
        {"interface too short", Section() + Block(1, "abcd"),
         "cap: packet 1: an interface description of 16 bytes, too short"},
        {"other link type", Section() + Interface(1) + config,
         "cap: packet 1: a packet of link type 1, not VRN3 blocks (147, LINKTYPE_USER0)"},
        {"no such interface", start + EnhancedPacket({1, 0, kPathConfig, kDirectionIn, 0, "c", 1}),
         "cap: packet 1: a packet of interface 1, which no interface description names"},
        {"packet without fields", start + Block(6, std::string(16, '\0')),
         "cap: packet 1: a packet block too short for its fields"},
        {"packet beyond its block", with(good, tagAt + 20, U32(1000)),
         "cap: packet 2: a packet of 1000 bytes in a block with room for 48"},
        {"packet shorter than its header", with(good, tagAt + 20, U32(8)),
         "cap: packet 2: a packet of 8 bytes, too short for the 16-byte capture header"},
        {"block longer than its packet", with(good, tagAt + 36, U32(33)),
         "cap: packet 2: a block of 33 bytes in a packet with 32 bytes after its header"},
        {"unknown path", with(good, tagAt + 40, "\x04"), "cap: packet 2: unknown path 4, direction 1 or form 0"},
        {"unknown direction", with(good, tagAt + 41, "\x02"), "cap: packet 2: unknown path 0, direction 2 or form 0"},
        {"unknown form", with(good, tagAt + 42, "\x02"), "cap: packet 2: unknown path 0, direction 1 or form 2"},
        {"end record miscounts", with(good, endAt + 24, U32(3)),
         "cap: packet 3: the end record counts 3 packets, the capture holds 2"},
        {"packet after the end", good + tag, "cap: packet 3: a packet after the capture's end record"},
        {"no end record", good.substr(0, endAt),
         "cap: cut short after packet 2 (the last whole one): no end record; the recording did not finish"},
        {"end record cut", good.substr(0, good.size() - 10),
         "cap: cut short after packet 2 (the last whole one): a block of 40 bytes, 30 of them there"},
        {"block header cut", good.substr(0, tagAt + 6),
         "cap: cut short after packet 1 (the last whole one): a block's header is cut short"},
        {"packet cut", good.substr(0, tagAt + 20),
         "cap: cut short after packet 1 (the last whole one): a block of " + tagLength + " bytes, 20 of them there"},
        {"optional blocks in the tail", start + config + names + tag + optional + EndRecord(2) + optional + names,
         "1: 2:Tag  whole"},
        {"other statistics before the end", start + config + tag + otherStatistics + EndRecord(2), "1: 2:Tag  whole"},
        {"only other statistics",
         start + Interface(1) + config + tag + otherStatistics + Block(5, U32(0)) + otherInterface,
         "cap: cut short after packet 2 (the last whole one): no end record; the recording did not finish"},
        {"odd-sized packet last", start + config + odd + EndRecord(2), "1: 2:Tag  whole"},
        {"odd-sized packet cut in its padding", start + config + odd.substr(0, odd.size() - 6),
         "cap: cut short after packet 1 (the last whole one): a block of 84 bytes, 78 of them there"},
        {"packet after optional blocks after the end", good + optional + tag,
         "cap: packet 3: a packet after the capture's end record"},
        {"a new section forgets the interfaces", start + config + Section() + tag,
         "cap: packet 2: a packet of interface 0, which no interface description names"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Read(c.bytes), c.outcome) << c.name;
    EXPECT_EQ(Read(good.substr(0, tagAt + 20), true), "1: partial");
    EXPECT_EQ(Read(good.substr(0, endAt), true), "1: 2:Tag  partial");
    // A file that could not be opened reaches the reader as no stream: refused, never read.
    try {
        CCaptureReader(nullptr, "gone.pcapng");
        ADD_FAILURE() << "a null stream was taken";
    } catch (const CaptureError& e) {
        EXPECT_STREQ(e.what(), "gone.pcapng: nothing to read: the file was not opened");
    }
}

// Blocks shorter than their record, empty, or of the record type a fragment's block carries, are
// made again as they were recorded: the same type, size and bytes reach the brick, which judges them.
TEST(Capture, ShortAndEmptyBlocksAreMadeAgainAsRecorded)
{
    const struct {
        uint32_t type;
        std::string bytes;
    } cases[] = {
        {kCodeHdr3, std::string(16, 'h')},
        {kCodeNtfy, U32(kCodeNMsg) + U32(1)},
        {kCodeVid3Record, std::string(12, 'v')},
        {kCodeSnd3, ""},
        {kCodeChun, ""},
        {kCodeTag, "tag"},
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> bytes(c.bytes.begin(), c.bytes.end());
        const cMemBlock block = CWireBlock::Rebuild(c.type, CBlockWire::kFormBytes, bytes);
        std::vector<uint8_t> again;
        EXPECT_EQ(CBlockWire::kFormBytes, CBlockWire::Flatten(block, again)) << CodeText(c.type);
        EXPECT_EQ(c.type, block.GetType());
        EXPECT_EQ(bytes, again) << CodeText(c.type);
    }
}

// A capture that cannot be made records nothing and says why at Close; a stream that cannot be
// read (a folder) is refused with the reason.
TEST(Capture, ACaptureThatCannotBeWrittenOrReadSaysWhy)
{
    const std::string path = ::testing::TempDir() + "no-such-folder." + std::to_string(getpid()) + "/c.pcapng";
    CCaptureRecorder recorder(path);
    recorder.Configured(kit::Config("1"));
    recorder.Sent(MakeTagBlock(kCodeTagS, 0, 1), false);
    EXPECT_FALSE(recorder.Close());
    EXPECT_EQ(path + ": No such file or directory", recorder.Error());
    EXPECT_EQ(0u, recorder.Packets());
    const Stream folder(std::fopen(::testing::TempDir().c_str(), "rb"), std::fclose);
    ASSERT_TRUE(folder) << std::strerror(errno);
    CCaptureReader reader(folder.get(), "folder");
    CapturePacket packet;
    try {
        reader.Next(packet);
        ADD_FAILURE() << "a folder was read";
    } catch (const CaptureError& e) {
        EXPECT_STREQ("folder: packet 1: cannot read: Is a directory", e.what());
    }
}

// A record that holds pointers is only ever made from its flattened form, never from raw bytes.
TEST(Capture, ListsAndTextsAreNeverMadeFromPlainBytes)
{
    for (uint32_t code : {kCodeEvt, kCodeNMsg}) {
        std::vector<uint8_t> bytes(sizeof(TNotifyMessage), 0x0d);
        std::memcpy(bytes.data(), &code, sizeof code);
        EXPECT_THROW(CWireBlock::Rebuild(kCodeNtfy, CBlockWire::kFormBytes, bytes), std::runtime_error)
            << CodeText(code);
    }
}

// Damaged flattened blocks, each refused with what is wrong: a replay names the packet it came in.
TEST(Capture, DamagedFlattenedBlocksAreRefusedSayingWhy)
{
    const std::string messageFields = U32(kCodeNMsg) + U32(11) + U32(kCodeWarn) + U32(12) + U32(2);
    const struct {
        uint32_t type;
        CBlockWire::EForm form;
        std::string bytes, why;
    } cases[] = {
        {kCodeNtfy, CBlockWire::kFormFlat, U32(kCodeEvt) + U32(2), "flattened record cut short at byte 8"},
        {kCodeNtfy, CBlockWire::kFormFlat, U32(kCodeEvt) + U32(1) + U32(1) + U32(2) + U32(3) + Text("x"),
         "a text of 1 bytes runs past the block's 24 bytes"},
        {kCodeNtfy, CBlockWire::kFormFlat, U32(kCodeEvt) + U32(0) + "xyz",
         "an event list with 3 bytes after its entries"},
        {kCodeNtfy, CBlockWire::kFormFlat, messageFields + Text("") + Text("") + "ab",
         "a message with 2 bytes after its texts"},
        {kCodeNtfy, CBlockWire::kFormFlat, U32(kCodeTimR) + std::string(16, '\0'),
         "a flattened ntfy block of code TimR, which no record flattens"},
        {kCodeChun, CBlockWire::kFormBytes, std::string(300, 'c'),
         "a Chun block of 300 bytes, more than a command record holds"},
        {kCodeTag, CBlockWire::kFormFlat, std::string(32, 't'), "a flattened Tag  block, which no record flattens"},
        {kCodeHdr3, CBlockWire::kFormBytes, std::string(sizeof(HDR_T), 'h'),
         "a header of " + std::to_string(sizeof(HDR_T)) + " bytes carried as plain bytes"},
    };
    for (const auto& c : cases) {
        try {
            CWireBlock::Rebuild(c.type, c.form, std::vector<uint8_t>(c.bytes.begin(), c.bytes.end()));
            ADD_FAILURE() << "made: " << c.why;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(e.what(), c.why);
        }
    }
}

} // namespace
