// Reading pcapng block by block, with every length checked before it is used.
#include "CCaptureReader.h"

#include "CBlockWire.h"
#include "PcapngBlocks.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Larger than any block a brick exchanges (a record of 64 KiB, a header with its texts): a
// length beyond it is damage, and is refused before anything is allocated for it.
constexpr uint32_t kLargestBlock = 16u << 20;
constexpr size_t kReadStep = 64 << 10; // bytes of a block read at a time

} // namespace

// The fixed fields of block T from the start of the current block; the caller checks first that
// the block holds those it reads.
template <class T>
T CCaptureReader::Fields() const
{
    T fields;
    std::memcpy(&fields, mBlock.data(), std::min(sizeof fields, mBlock.size()));
    return fields;
}

CCaptureReader::CCaptureReader(std::FILE* in, const std::string& name, bool partial)
    : mIn(in), mName(name), mTakePartial(partial)
{
    if (mIn == nullptr)
        throw CaptureError(mName + ": nothing to read: the file was not opened");
}

bool CCaptureReader::Next(CapturePacket& packet)
{
    uint32_t type;
    while (ReadBlock(type)) {
        if (type == kSectionHeaderBlock)
            SectionHeader();
        else if (type == kInterfaceBlock)
            InterfaceHeader();
        else if (type == kInterfaceStatisticsBlock)
            EndRecord();
        else if (type == kEnhancedPacketBlock) {
            if (mEnded)
                Refuse("a packet after the capture's end record");
            EnhancedPacket(packet);
            return true;
        }
    }
    return false;
}

// A capture that ends before its end record: partial when that was asked for, else refused.
bool CCaptureReader::Cut(const std::string& what)
{
    if (!mTakePartial)
        throw CaptureError(mName + ": cut short after packet " + std::to_string(mPackets) +
                           " (the last whole one): " + what);
    mPartial = true;
    return false;
}

// The recorder's end record: statistics of a LINKTYPE_USER0 interface counting its packets.
void CCaptureReader::EndRecord()
{
    const TEndRecord end = Fields<TEndRecord>();
    const bool ours = mBlock.size() >= kEndRecordFields && end.interface < mLinkTypes.size() &&
                      mLinkTypes[end.interface] == CCaptureRecorder::kLinkType;
    if (!ours || end.countCode != kOptionPacketsReceived)
        return; // another tool's statistics
    if (end.count != mPackets)
        Refuse("the end record counts " + std::to_string(end.count) + " packets, the capture holds " +
               std::to_string(mPackets));
    mEnded = true;
}

// Reads one block into mBlock (the trailing length checked and dropped); false at a clean end of
// the file.
bool CCaptureReader::ReadBlock(uint32_t& type)
{
    TBlockHead head;
    const size_t got = std::fread(&head, 1, sizeof head, mIn);
    if (got == 0 && !std::ferror(mIn)) {
        if (!mSection)
            Refuse("the file is empty: no capture");
        return mEnded ? false : Cut("no end record; the recording did not finish");
    }
    if (std::ferror(mIn))
        Refuse(std::string("cannot read: ") + std::strerror(errno));
    if (got < sizeof head)
        return Cut("a block's header is cut short");
    type = head.type;
    if (!mSection && type != kSectionHeaderBlock)
        Refuse("not a pcapng capture (no section header at its start)");
    const uint32_t length = head.length;
    if (length < kSmallestBlock || length % kBlockAlignment != 0 || length > kLargestBlock)
        Refuse("a block of " + std::to_string(length) + " bytes: not a pcapng block length");
    mBlock.resize(sizeof head);
    std::memcpy(mBlock.data(), &head, sizeof head);
    if (!ReadBody(length))
        return false;
    TBlockTrailer trailer;
    mBlock.resize(mBlock.size() - sizeof trailer);
    std::memcpy(&trailer, mBlock.data() + mBlock.size(), sizeof trailer);
    if (trailer != length)
        Refuse("a block whose two lengths disagree (" + std::to_string(length) + ", " + std::to_string(trailer) + ")");
    return true;
}

// The body grows as its bytes arrive, so a damaged length costs no more memory than the file has.
// False when the file ends in it (a partial capture).
bool CCaptureReader::ReadBody(uint32_t length)
{
    while (mBlock.size() < length) {
        const size_t at = mBlock.size();
        const size_t step = std::min<size_t>(length - at, kReadStep);
        mBlock.resize(at + step);
        const size_t read = std::fread(mBlock.data() + at, 1, step, mIn);
        if (read < step && std::ferror(mIn))
            Refuse(std::string("cannot read: ") + std::strerror(errno));
        if (read < step)
            return Cut("a block of " + std::to_string(length) + " bytes, " + std::to_string(at + read) +
                       " of them there");
    }
    return true;
}

void CCaptureReader::SectionHeader()
{
    const TSectionHeader section = Fields<TSectionHeader>();
    const uint32_t magic = mBlock.size() >= offsetof(TSectionHeader, major) ? section.magic : 0;
    if (magic == kSwappedByteOrderMagic)
        Refuse("a big-endian capture; this reader takes the little-endian ones the recorder writes");
    if (magic != kByteOrderMagic || mBlock.size() < kSectionFields || section.major != kPcapngMajor)
        Refuse("not a pcapng capture of version 1 (its section header is damaged)");
    mSection = true;
    mLinkTypes.clear();
}

void CCaptureReader::InterfaceHeader()
{
    if (mBlock.size() < kInterfaceFields)
        Refuse("an interface description of " + std::to_string(mBlock.size() + sizeof(TBlockTrailer)) +
               " bytes, too short");
    mLinkTypes.push_back(Fields<TInterfaceHeader>().linkType);
}

void CCaptureReader::EnhancedPacket(CapturePacket& packet)
{
    if (mBlock.size() < sizeof(TPacketHeader))
        Refuse("a packet block too short for its fields");
    const TPacketHeader fields = Fields<TPacketHeader>();
    const size_t room = mBlock.size() - sizeof(TPacketHeader);
    if (fields.captured > room)
        Refuse("a packet of " + std::to_string(fields.captured) + " bytes in a block with room for " +
               std::to_string(room));
    packet.time = (static_cast<uint64_t>(fields.timeHigh) << 32) | fields.timeLow;
    CheckPacket(packet, fields.interface, fields.captured);
}

// The packet's link type and its capture header, then its data.
void CCaptureReader::CheckPacket(CapturePacket& packet, uint32_t interface, uint32_t captured)
{
    if (interface >= mLinkTypes.size())
        Refuse("a packet of interface " + std::to_string(interface) + ", which no interface description names");
    if (mLinkTypes[interface] != CCaptureRecorder::kLinkType)
        Refuse("a packet of link type " + std::to_string(mLinkTypes[interface]) + ", not VRN3 blocks (" +
               std::to_string(CCaptureRecorder::kLinkType) + ", LINKTYPE_USER0)");
    if (captured < sizeof(TCapturePacket))
        Refuse("a packet of " + std::to_string(captured) + " bytes, too short for the " +
               std::to_string(sizeof(TCapturePacket)) + "-byte capture header");
    std::memcpy(&packet.header, mBlock.data() + sizeof(TPacketHeader), sizeof packet.header);
    const uint32_t room = captured - static_cast<uint32_t>(sizeof(TCapturePacket));
    if (packet.header.length != room)
        Refuse("a block of " + std::to_string(packet.header.length) + " bytes in a packet with " +
               std::to_string(room) + " bytes after its header");
    if (packet.header.path > kPathConfig || packet.header.direction > kDirectionOut ||
        packet.header.form > CBlockWire::kFormFlat)
        Refuse("unknown path " + std::to_string(packet.header.path) + ", direction " +
               std::to_string(packet.header.direction) + " or form " + std::to_string(packet.header.form));
    const uint8_t* data = mBlock.data() + sizeof(TPacketHeader) + sizeof(TCapturePacket);
    packet.data.assign(data, data + room);
    packet.number = ++mPackets;
}

void CCaptureReader::Refuse(const std::string& what) const
{
    throw CaptureError(mName + ": packet " + std::to_string(mPackets + 1) + ": " + what);
}
