// CCaptureRecorder: records what crosses one brick's boundary into a pcapng file.
//
// The file is plain pcapng, as Wireshark and tshark read it: a section header, one interface of
// link type kLinkType (LINKTYPE_USER0, "private use") with nanosecond time stamps, and one
// enhanced packet a record: the brick's configuration first, then every block delivered to the
// brick and every block it sends, in the order they cross. A packet's time stamp is a monotonic
// clock's (steady_clock, nanoseconds since an arbitrary start), so it only orders and spaces
// packets. Its data is a TCapturePacket header followed by the block's data as CBlockWire
// carries it. Close ends the file with an end record (an interface statistics block counting the
// packets), so that a capture cut short (a killed host, a full disk, a run that failed) can be
// told from a whole one: a recorder destroyed without Close ends the file without it;
// CCaptureReader, beside this file, reads captures back; PcapngBlocks.h lays out the blocks both
// use. vrn3-capture.lua, beside them, decodes the packets in Wireshark.
//
// A host of its own calls the recorder at its delivery points, as the stand-in host's CPipeline
// does when asked (CPipeline::Tap):
//     CCaptureRecorder recorder("run.pcapng");
//     recorder.Configured(config);              // what the brick's Create got
//     recorder.Delivered(block, isControlPath); // before each handler call
//     recorder.Sent(block, viaSendCmd);         // in the brick's SendData / SendCmd
//     if (!recorder.Close()) report(recorder.Error());
// Recording only reads the block, through the caller's handle; it never throws and never changes
// what the brick sees or sends. A write that fails (disk full) stops the recording; the failure is
// kept for Close and Error. Thread rules: every call may come from any thread; packets are
// numbered and written whole under the recorder's own lock.
#pragma once

#include "../host/CBrickTap.h"
#include "CaptureApi.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

// The recorder's header at the start of every packet's data, little-endian.
#pragma pack(push, 1)
struct TCapturePacket {
    uint32_t sequence; // 1, 2, ... in the order the blocks crossed
    uint32_t type;     // the block's type code; 0 for the configuration
    uint32_t length;   // bytes of block data that follow this header
    uint8_t path;      // ECapturePath
    uint8_t direction; // ECaptureDirection
    uint8_t form;      // CBlockWire::EForm
    uint8_t reserved;  // 0
};
#pragma pack(pop)
static_assert(sizeof(TCapturePacket) == 16, "the capture header is 16 bytes");

enum ECapturePath : uint8_t { kPathData = 0, kPathControl = 1, kPathNotify = 2, kPathConfig = 3 };
enum ECaptureDirection : uint8_t { kDirectionIn = 0, kDirectionOut = 1 };

class VRN3_CAPTURE_API CCaptureRecorder : public CBrickTap {
public:
    // LINKTYPE_USER0: the link type the packets are marked with.
    static constexpr uint16_t kLinkType = 147;

    // Creates (or empties) the file at `path` and writes the section and interface headers.
    // On failure Ok() is false and Error() tells why; the calls then record nothing.
    explicit CCaptureRecorder(const std::string& path);
    ~CCaptureRecorder() override;

    CCaptureRecorder(const CCaptureRecorder&) = delete;
    CCaptureRecorder& operator=(const CCaptureRecorder&) = delete;

    void Configured(const TBrickConfig& config) override;
    void Delivered(const cMemBlock& block, bool control) override;
    void Sent(const cMemBlock& block, bool command) override;

    // Writes the end record, flushes and closes the file; true when everything was written. Later
    // calls record nothing.
    bool Close();
    bool Ok() const;
    std::string Error() const;
    // Packets written so far.
    uint32_t Packets() const;

private:
    void Record(uint32_t type, uint8_t path, uint8_t direction, uint8_t form, const uint8_t* data, uint32_t size);
    void Record(const cMemBlock& block, uint8_t path, uint8_t direction);
    bool Write(const void* bytes, size_t size);
    void Fail(const std::string& why);

    mutable std::mutex mLock; // guards every member below
    std::FILE* mFile;
    std::string mPath;
    std::string mError;
    uint32_t mPackets = 0;
    std::vector<uint8_t> mData; // the block being recorded, flattened; kept to spare allocations
};
