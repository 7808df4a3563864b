// Writing pcapng: the section header, the interface, and one enhanced packet block a record.
#include "CCaptureRecorder.h"

#include "CBlockWire.h"
#include "PcapngBlocks.h"

#include "blocks/cMemBlock.h"
#include "records/HostRecords.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

namespace {

constexpr uint16_t kOptionTimeResolution = 9;
constexpr uint8_t kNanoseconds = 9; // if_tsresol: 10^-9 s a unit

#pragma pack(push, 1)
struct TSectionHeader {
    uint32_t type = kSectionHeaderBlock;
    uint32_t length = sizeof(TSectionHeader);
    uint32_t magic = kByteOrderMagic;
    uint16_t major = 1;
    uint16_t minor = 0;
    int64_t sectionLength = -1; // not given
    uint32_t trailingLength = sizeof(TSectionHeader);
};

struct TInterfaceHeader {
    uint32_t type = kInterfaceBlock;
    uint32_t length = sizeof(TInterfaceHeader);
    uint16_t linkType = CCaptureRecorder::kLinkType;
    uint16_t reserved = 0;
    uint32_t snapLength = 0; // no limit
    uint16_t resolutionCode = kOptionTimeResolution;
    uint16_t resolutionLength = 1;
    uint8_t resolution[4] = {kNanoseconds, 0, 0, 0};
    uint32_t endOfOptions = 0;
    uint32_t trailingLength = sizeof(TInterfaceHeader);
};

// The end record: the packets written, on interface 0.
struct TEndRecord {
    uint32_t type = kInterfaceStatisticsBlock;
    uint32_t length = sizeof(TEndRecord);
    uint32_t interface = 0;
    uint32_t timeHigh;
    uint32_t timeLow;
    uint16_t countCode = kOptionPacketsReceived;
    uint16_t countLength = 8;
    uint64_t count;
    uint16_t endCode = kOptionEnd;
    uint16_t endLength = 0;
    uint32_t trailingLength = sizeof(TEndRecord);
};

struct TPacketHeader {
    uint32_t type = kEnhancedPacketBlock;
    uint32_t length;
    uint32_t interface = 0;
    uint32_t timeHigh;
    uint32_t timeLow;
    uint32_t captured;
    uint32_t original;
};
#pragma pack(pop)
static_assert(sizeof(TSectionHeader) == 28 && sizeof(TInterfaceHeader) == 32 && sizeof(TPacketHeader) == 28 &&
                  sizeof(TEndRecord) == 40,
              "pcapng block layouts");

uint64_t Now()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

ECapturePath DataPath(const cMemBlock& block)
{
    return block.GetType() == kCodeNtfy ? kPathNotify : kPathData;
}

} // namespace

CCaptureRecorder::CCaptureRecorder(const std::string& path) : mFile(std::fopen(path.c_str(), "wb")), mPath(path)
{
    if (mFile == nullptr) {
        mError = path + ": " + std::strerror(errno);
        return;
    }
    const TSectionHeader section;
    const TInterfaceHeader interface;
    std::lock_guard<std::mutex> lock(mLock);
    if (Write(&section, sizeof section))
        Write(&interface, sizeof interface);
}

// A recorder that goes without Close leaves no end record: its host did not see the recording
// through, and a reader must take the capture for one cut short.
CCaptureRecorder::~CCaptureRecorder()
{
    if (mFile != nullptr)
        std::fclose(mFile);
}

void CCaptureRecorder::Configured(const TBrickConfig& config)
{
    std::lock_guard<std::mutex> lock(mLock);
    Record(0, kPathConfig, kDirectionIn, CBlockWire::kFormBytes, reinterpret_cast<const uint8_t*>(&config),
           sizeof config);
}

void CCaptureRecorder::Delivered(const cMemBlock& block, bool control)
{
    Record(block, control ? kPathControl : DataPath(block), kDirectionIn);
}

void CCaptureRecorder::Sent(const cMemBlock& block, bool command)
{
    Record(block, command ? kPathControl : DataPath(block), kDirectionOut);
}

void CCaptureRecorder::Record(const cMemBlock& block, uint8_t path, uint8_t direction)
{
    std::lock_guard<std::mutex> lock(mLock);
    if (mFile == nullptr)
        return;
    try {
        const CBlockWire::EForm form = CBlockWire::Flatten(block, mData);
        Record(block.GetType(), path, direction, form, mData.data(), static_cast<uint32_t>(mData.size()));
    } catch (const std::bad_alloc&) {
        Fail("out of memory");
    }
}

// One enhanced packet block: its header, the capture header, the data, padding to 4 bytes and
// the block's length again. Called with the lock held.
void CCaptureRecorder::Record(uint32_t type, uint8_t path, uint8_t direction, uint8_t form, const uint8_t* data,
                              uint32_t size)
{
    if (mFile == nullptr)
        return;
    const TCapturePacket capture{mPackets + 1, type, size, path, direction, form, 0};
    const uint32_t captured = static_cast<uint32_t>(sizeof capture) + size;
    const uint32_t padding = (4 - captured % 4) % 4;
    const uint64_t now = Now();
    TPacketHeader packet;
    packet.length = static_cast<uint32_t>(sizeof packet) + captured + padding + 4;
    packet.timeHigh = static_cast<uint32_t>(now >> 32);
    packet.timeLow = static_cast<uint32_t>(now);
    packet.captured = packet.original = captured;
    const uint8_t zeros[4] = {};
    if (Write(&packet, sizeof packet) && Write(&capture, sizeof capture) && Write(data, size) &&
        Write(zeros, padding) && Write(&packet.length, sizeof packet.length))
        ++mPackets;
}

// Called with the lock held.
bool CCaptureRecorder::Write(const void* bytes, size_t size)
{
    if (size == 0 || std::fwrite(bytes, 1, size, mFile) == size)
        return true;
    Fail(std::strerror(errno));
    return false;
}

// Stops the recording for good, keeping the first failure. Called with the lock held.
void CCaptureRecorder::Fail(const std::string& why)
{
    if (mError.empty())
        mError = mPath + ": " + why;
    if (mFile != nullptr)
        std::fclose(mFile);
    mFile = nullptr;
}

// The end record goes only into a capture whose every packet was written: a reader takes a
// capture without it for one cut short.
bool CCaptureRecorder::Close()
{
    std::lock_guard<std::mutex> lock(mLock);
    TEndRecord end;
    const uint64_t now = Now();
    end.timeHigh = static_cast<uint32_t>(now >> 32);
    end.timeLow = static_cast<uint32_t>(now);
    end.count = mPackets;
    if (mFile != nullptr)
        Write(&end, sizeof end);
    if (mFile != nullptr && std::fclose(mFile) != 0 && mError.empty())
        mError = mPath + ": " + std::strerror(errno);
    mFile = nullptr;
    return mError.empty();
}

bool CCaptureRecorder::Ok() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mError.empty();
}

std::string CCaptureRecorder::Error() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mError;
}

uint32_t CCaptureRecorder::Packets() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mPackets;
}
