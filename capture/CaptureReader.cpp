// Reading pcapng block by block, with every length checked before it is used.
#include "CaptureReader.h"

#include "PcapngBlocks.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr uint32_t kSwappedMagic = 0x4D3C2B1A;
// Larger than any block a brick exchanges (a record of 64 KiB, a header with its texts): a
// length beyond it is damage, and is refused before anything is allocated for it.
constexpr uint32_t kLargestBlock = 16u << 20;
constexpr size_t kReadStep = 64 << 10; // bytes of a block read at a time
constexpr uint32_t kPacketFields = 20; // interface, time (two words), captured and original length

uint32_t U32(const std::vector<uint8_t>& bytes, size_t at)
{
    uint32_t value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

} // namespace

CaptureReader::CaptureReader(std::FILE* in, const std::string& name, bool partial)
    : mIn(in), mName(name), mTakePartial(partial)
{
    if (mIn == nullptr)
        throw CaptureError(mName + ": nothing to read: the file was not opened");
}

bool CaptureReader::Next(CapturePacket& packet)
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
                Fail("a packet after the capture's end record");
            EnhancedPacket(packet);
            return true;
        }
    }
    return false;
}

// A capture that ends before its end record: partial when that was asked for, else refused.
bool CaptureReader::Cut(const std::string& what)
{
    if (!mTakePartial)
        throw CaptureError(mName + ": cut short after packet " + std::to_string(mPackets) +
                           " (the last whole one): " + what);
    mPartial = true;
    return false;
}

// The recorder's end record: statistics of a LINKTYPE_USER0 interface counting its packets.
void CaptureReader::EndRecord()
{
    constexpr size_t kCountAt = 16; // after interface and time: the first option, its code and length
    const bool ours = mBody.size() >= kCountAt + 8 && U32(mBody, 0) < mLinkTypes.size() &&
                      mLinkTypes[U32(mBody, 0)] == CCaptureRecorder::kLinkType;
    if (!ours || (U32(mBody, 12) & 0xFFFF) != kOptionPacketsReceived)
        return; // another tool's statistics
    uint64_t count;
    std::memcpy(&count, mBody.data() + kCountAt, sizeof count);
    if (count != mPackets)
        Fail("the end record counts " + std::to_string(count) + " packets, the capture holds " +
             std::to_string(mPackets));
    mEnded = true;
}

// Reads one block's type and body into mBody (the trailing length checked and dropped); false at
// a clean end of the file.
bool CaptureReader::ReadBlock(uint32_t& type)
{
    uint32_t head[2];
    const size_t got = std::fread(head, 1, sizeof head, mIn);
    if (got == 0 && !std::ferror(mIn)) {
        if (!mSection)
            Fail("the file is empty: no capture");
        return mEnded ? false : Cut("no end record; the recording did not finish");
    }
    if (std::ferror(mIn))
        Fail(std::string("cannot read: ") + std::strerror(errno));
    if (got < sizeof head)
        return Cut("a block's header is cut short");
    type = head[0];
    if (!mSection && type != kSectionHeaderBlock)
        Fail("not a pcapng capture (no section header at its start)");
    const uint32_t length = head[1];
    if (length < 12 || length % 4 != 0 || length > kLargestBlock)
        Fail("a block of " + std::to_string(length) + " bytes: not a pcapng block length");
    if (!ReadBody(length))
        return false;
    if (U32(mBody, mBody.size() - 4) != length)
        Fail("a block whose two lengths disagree (" + std::to_string(length) + ", " +
             std::to_string(U32(mBody, mBody.size() - 4)) + ")");
    mBody.resize(mBody.size() - 4);
    return true;
}

// The body grows as its bytes arrive, so a damaged length costs no more memory than the file has.
// False when the file ends in it (a partial capture).
bool CaptureReader::ReadBody(uint32_t length)
{
    mBody.clear();
    while (mBody.size() < length - 8) {
        const size_t at = mBody.size();
        const size_t step = std::min<size_t>(length - 8 - at, kReadStep);
        mBody.resize(at + step);
        const size_t read = std::fread(mBody.data() + at, 1, step, mIn);
        if (read < step && std::ferror(mIn))
            Fail(std::string("cannot read: ") + std::strerror(errno));
        if (read < step)
            return Cut("a block of " + std::to_string(length) + " bytes, " + std::to_string(at + read + 8) +
                       " of them there");
    }
    return true;
}

void CaptureReader::SectionHeader()
{
    const uint32_t magic = mBody.size() >= 4 ? U32(mBody, 0) : 0;
    if (magic == kSwappedMagic)
        Fail("a big-endian capture; this reader takes the little-endian ones the recorder writes");
    if (magic != kByteOrderMagic || mBody.size() < 12 || (U32(mBody, 4) & 0xFFFF) != 1)
        Fail("not a pcapng capture of version 1 (its section header is damaged)");
    mSection = true;
    mLinkTypes.clear();
}

void CaptureReader::InterfaceHeader()
{
    if (mBody.size() < 8)
        Fail("an interface description of " + std::to_string(mBody.size() + 12) + " bytes, too short");
    mLinkTypes.push_back(static_cast<uint16_t>(U32(mBody, 0)));
}

void CaptureReader::EnhancedPacket(CapturePacket& packet)
{
    if (mBody.size() < kPacketFields)
        Fail("a packet block too short for its fields");
    const uint32_t interface = U32(mBody, 0);
    const uint32_t captured = U32(mBody, 12);
    if (captured > mBody.size() - kPacketFields)
        Fail("a packet of " + std::to_string(captured) + " bytes in a block with room for " +
             std::to_string(mBody.size() - kPacketFields));
    packet.time = (static_cast<uint64_t>(U32(mBody, 4)) << 32) | U32(mBody, 8);
    CheckPacket(packet, interface, captured);
}

// The packet's link type and its capture header, then its data.
void CaptureReader::CheckPacket(CapturePacket& packet, uint32_t interface, uint32_t captured)
{
    if (interface >= mLinkTypes.size())
        Fail("a packet of interface " + std::to_string(interface) + ", which no interface description names");
    if (mLinkTypes[interface] != CCaptureRecorder::kLinkType)
        Fail("a packet of link type " + std::to_string(mLinkTypes[interface]) + ", not VRN3 blocks (" +
             std::to_string(CCaptureRecorder::kLinkType) + ", LINKTYPE_USER0)");
    if (captured < sizeof(TCapturePacket))
        Fail("a packet of " + std::to_string(captured) + " bytes, too short for the 16-byte capture header");
    std::memcpy(&packet.header, mBody.data() + kPacketFields, sizeof packet.header);
    const uint32_t room = captured - static_cast<uint32_t>(sizeof(TCapturePacket));
    if (packet.header.length != room)
        Fail("a block of " + std::to_string(packet.header.length) + " bytes in a packet with " + std::to_string(room) +
             " bytes after its header");
    if (packet.header.path > kPathConfig || packet.header.direction > kDirectionOut || packet.header.form > 1)
        Fail("unknown path " + std::to_string(packet.header.path) + ", direction " +
             std::to_string(packet.header.direction) + " or form " + std::to_string(packet.header.form));
    const uint8_t* data = mBody.data() + kPacketFields + sizeof(TCapturePacket);
    packet.data.assign(data, data + room);
    packet.number = ++mPackets;
}

void CaptureReader::Fail(const std::string& what) const
{
    throw CaptureError(mName + ": packet " + std::to_string(mPackets + 1) + ": " + what);
}
