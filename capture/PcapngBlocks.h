// The pcapng blocks a capture file is made of, as structs shared by the recorder that writes them
// and the reader that reads them back (both in this folder), so that both speak of one format.
//
// Every block starts with its type and length and ends with its length again, its body padded
// to whole words. A capture is a section header, one interface of the recorder's link type, one
// enhanced packet a record and the end record. The structs lay out the fixed fields of each block
// little-endian and packed, with the values the recorder writes; a reader takes the fixed fields
// from the start of a block it has read whole, and the fields it checks lie where the structs say.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr uint32_t kInterfaceBlock = 1;
constexpr uint32_t kInterfaceStatisticsBlock = 5;
constexpr uint32_t kEnhancedPacketBlock = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint32_t kSwappedByteOrderMagic = 0x4D3C2B1A; // the mark as a big-endian writer leaves it
constexpr uint16_t kPcapngMajor = 1;
constexpr uint32_t kBlockAlignment = 4; // a block's body is padded to whole 32-bit words

// The recorder ends a capture with an interface statistics block whose isb_ifrecv option counts
// the packets written: Wireshark shows it among the statistics and skips it in the packet list,
// and a reader tells a whole capture from a cut one by it.
constexpr uint16_t kOptionEnd = 0;
constexpr uint16_t kOptionPacketsReceived = 4; // isb_ifrecv, a 64-bit count
constexpr uint16_t kOptionTimeResolution = 9;  // if_tsresol
constexpr uint8_t kNanoseconds = 9;            // if_tsresol: 10^-9 s a unit

#pragma pack(push, 1)
// What every block starts with.
struct TBlockHead {
    uint32_t type;
    uint32_t length; // of the whole block, both lengths included
};
using TBlockTrailer = uint32_t; // the block's length again, after its body

struct TSectionHeader {
    TBlockHead head{kSectionHeaderBlock, sizeof(TSectionHeader)};
    uint32_t magic = kByteOrderMagic;
    uint16_t major = kPcapngMajor;
    uint16_t minor = 0;
    int64_t sectionLength = -1; // not given
    TBlockTrailer trailingLength = sizeof(TSectionHeader);
};

// Options follow the fixed fields from `resolutionCode` on; the recorder writes only if_tsresol.
struct TInterfaceHeader {
    TBlockHead head{kInterfaceBlock, sizeof(TInterfaceHeader)};
    uint16_t linkType = 0;
    uint16_t reserved = 0;
    uint32_t snapLength = 0; // no limit
    uint16_t resolutionCode = kOptionTimeResolution;
    uint16_t resolutionLength = 1;
    uint8_t resolution[4] = {kNanoseconds, 0, 0, 0};
    uint32_t endOfOptions = 0;
    TBlockTrailer trailingLength = sizeof(TInterfaceHeader);
};

// The end record: the packets written, on an interface; the count is its first option.
struct TEndRecord {
    TBlockHead head{kInterfaceStatisticsBlock, sizeof(TEndRecord)};
    uint32_t interface = 0;
    uint32_t timeHigh = 0;
    uint32_t timeLow = 0;
    uint16_t countCode = kOptionPacketsReceived;
    uint16_t countLength = sizeof(uint64_t);
    uint64_t count = 0;
    uint16_t endCode = kOptionEnd;
    uint16_t endLength = 0;
    TBlockTrailer trailingLength = sizeof(TEndRecord);
};

// An enhanced packet's fixed fields; the packet's bytes, padding and the trailer follow.
struct TPacketHeader {
    TBlockHead head{kEnhancedPacketBlock, 0};
    uint32_t interface = 0;
    uint32_t timeHigh = 0;
    uint32_t timeLow = 0;
    uint32_t captured = 0;
    uint32_t original = 0;
};
#pragma pack(pop)
static_assert(sizeof(TSectionHeader) == 28 && sizeof(TInterfaceHeader) == 32 && sizeof(TPacketHeader) == 28 &&
                  sizeof(TEndRecord) == 40,
              "pcapng block layouts");

// The fixed fields of the blocks as a reader needs them: what precedes the options or the data.
constexpr size_t kSectionFields = offsetof(TSectionHeader, trailingLength);
constexpr size_t kInterfaceFields = offsetof(TInterfaceHeader, resolutionCode);
constexpr size_t kEndRecordFields = offsetof(TEndRecord, endCode);
// The smallest block: its head and trailer around an empty body.
constexpr uint32_t kSmallestBlock = sizeof(TBlockHead) + sizeof(TBlockTrailer);

// Bytes of padding after `size` bytes of a block's body.
constexpr uint32_t PaddingOf(uint32_t size)
{
    return (kBlockAlignment - size % kBlockAlignment) % kBlockAlignment;
}
