// Writing pcapng: the section header, the interface, and one enhanced packet block a record.
#include "CCaptureRecorder.h"

#include "CapturePaths.h"
#include "CBlockWire.h"
#include "PcapngBlocks.h"

#include "../blocks/cMemBlock.h"
#include "../records/HostRecords.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

namespace {

uint64_t Now()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

} // namespace

CCaptureRecorder::CCaptureRecorder(const std::string& path) : mFile(std::fopen(path.c_str(), "wb")), mPath(path)
{
    if (mFile == nullptr) {
        mError = path + ": " + std::strerror(errno);
        return;
    }
    const TSectionHeader section;
    TInterfaceHeader interface;
    interface.linkType = kLinkType;
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
    Record(block, CapturePathOf(block.GetType(), control), kDirectionIn);
}

void CCaptureRecorder::Sent(const cMemBlock& block, bool command)
{
    Record(block, CapturePathOf(block.GetType(), command), kDirectionOut);
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
    const uint32_t padding = PaddingOf(captured);
    const uint64_t now = Now();
    TPacketHeader packet;
    packet.head.length = static_cast<uint32_t>(sizeof packet + captured + padding + sizeof(TBlockTrailer));
    packet.timeHigh = static_cast<uint32_t>(now >> 32);
    packet.timeLow = static_cast<uint32_t>(now);
    packet.captured = packet.original = captured;
    const uint8_t zeros[kBlockAlignment] = {};
    const TBlockTrailer trailer = packet.head.length;
    if (Write(&packet, sizeof packet) && Write(&capture, sizeof capture) && Write(data, size) &&
        Write(zeros, padding) && Write(&trailer, sizeof trailer))
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
