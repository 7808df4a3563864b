// Records of the stream's data path: header, data and video fragments, tags, sound data and
// the sound configuration.
//
// They are exchanged by reference between separately built bricks, so each layout is fixed to
// the byte: packed, little-endian, with the offsets pinned below. A record's trailing data
// (payload) follows it directly in its block. HDR_T and STREAM_T hold std::string members of the
// old string ABI, one pointer each (4 bytes on i386, 8 on amd64: the offsets after them follow);
// they are built, copied and destroyed member by member. The field reserved3596 keeps its i386
// name; on amd64 it lies at 6672. Fields named reserved* are not read by this library.
#pragma once

#include "Codes.h"

#include <cstddef>
#include <cstdint>
#include <string>

#pragma pack(push, 1)

// Description of one elementary stream in the header.
struct STREAM_T {
    uint8_t reserved0;
    uint8_t kind;      // kRatedStreamKind: counted by the frame-rate arithmetic
    std::string codec; // its first four characters name the sound coding
    std::string reserved6;
    std::string params; // blank-separated items such as "-rate=8000 -bits=16"
};

// Number of stream entries in a header: one per stream number 0..255.
constexpr int kStreamCount = 256;
// The kind of a stream entry that takes a share of the base frame rate.
constexpr uint8_t kRatedStreamKind = 1;

// The stream header.
struct HDR_T {
    uint32_t reserved0;
    uint32_t reserved4;
    std::string reserved8;
    STREAM_T streams[kStreamCount];
    std::string reserved3596[9];
};

// One fragment of a data record; the payload follows.
struct DATA_T {
    uint16_t length; // payload bytes of a middle or last fragment
    uint8_t flags;   // bits 7-6 fragment kind; bits 4-0 passed on as source flags
    uint8_t streamNumber;
};

// Fragment kinds, bits 7-6 of a fragment's flags.
enum EFragmentKind : uint8_t { kFragmentMiddle = 0, kFragmentLast = 1, kFragmentFirst = 2, kFragmentWhole = 3 };
inline uint8_t FragmentKind(uint8_t flags)
{
    return static_cast<uint8_t>(flags >> 6);
}
// The flags of a fragment of kind `kind` whose low bits (5-0) are `lowFlags`.
inline uint8_t FragmentFlags(uint8_t kind, uint8_t lowFlags = 0)
{
    return static_cast<uint8_t>(kind << 6 | (lowFlags & 0x3F));
}
// The bits of a fragment's flags (4-0) that the sound made from it carries as its source flags.
constexpr uint8_t kSourceFlagsMask = 0x1F;

// One fragment of a video frame; the frame data follows (not read here).
struct DATA_T_VIDEO {
    uint8_t reserved0[2];
    uint8_t flags; // bits 7-6 fragment kind, as in DATA_T
    uint8_t reserved3;
    uint16_t frameTime; // offset of the frame from the start of its chunk
    uint8_t timeMode;   // 0..3: frameTime is reduced modulo the chunk length; 4+: as is
    uint8_t reserved7;
};

// A tag framing a stretch of archive.
struct TStreamTag {
    TStreamTag() : code(0), kind(0), reserved28(0) {}
    uint64_t time;
    uint8_t reserved8[8];
    uint32_t code; // kCodeTagS or kCodeTagF
    uint32_t kind; // kEndOfStreamTagKind on the "TagS" of the pair after the archive's end
    uint32_t streamNumber;
    uint32_t reserved28;
};

// Sound data; the sound payload follows.
struct TSoundData {
    uint64_t time;
    uint8_t reserved8[8];
    int32_t sampleRate;
    int32_t bytesPerSample;
    int32_t channels;
    uint32_t sourceFlags; // bits 4-0 of the fragment flags the sound came from
};

// Sound configuration, carried in an "ntfy" command block.
struct TSoundStreamCfg {
    TSoundStreamCfg()
        : notifyCode(kCodeSCfg), cfgCode(kCodeSCfg), codec(0), dataType(0), chunkLength(0), sampleRate(0),
          bytesPerSample(0), channels(0)
    {
    }
    uint32_t notifyCode;
    uint32_t cfgCode;
    uint32_t codec;    // first four characters of the stream's codec text
    uint32_t dataType; // kCodeSCDA
    uint64_t chunkLength;
    int32_t sampleRate;
    int32_t bytesPerSample;
    int32_t channels;
};

#pragma pack(pop)

// Length of one chunk of archive, in stream time units.
constexpr uint64_t kChunkLength = 3000;
// The "TagF" that closes a chunk lies this many units after its "TagS" (30 short of a chunk).
constexpr uint64_t kTagFAfterTagS = 2970;
// Tag kind of the "TagS" of the empty chunk that answers a request beyond the archive's end.
constexpr uint32_t kEndOfStreamTagKind = 3;

// A std::string of the host framework's ABI is one pointer: 4 bytes on i386, 8 on amd64.
static_assert(sizeof(std::string) == sizeof(void*), "build with -D_GLIBCXX_USE_CXX11_ABI=0");
static_assert(offsetof(STREAM_T, kind) == 1 && offsetof(STREAM_T, codec) == 2 && offsetof(HDR_T, reserved8) == 8,
              "STREAM_T and HDR_T offsets before the first string");
static_assert(sizeof(void*) != 4 ||
                  (sizeof(STREAM_T) == 14 && offsetof(STREAM_T, params) == 10 && sizeof(HDR_T) == 3632 &&
                   offsetof(HDR_T, streams) == 12 && offsetof(HDR_T, reserved3596) == 3596),
              "STREAM_T and HDR_T layout (i386)");
static_assert(sizeof(void*) != 8 ||
                  (sizeof(STREAM_T) == 26 && offsetof(STREAM_T, params) == 18 && sizeof(HDR_T) == 6744 &&
                   offsetof(HDR_T, streams) == 16 && offsetof(HDR_T, reserved3596) == 6672),
              "STREAM_T and HDR_T layout (amd64)");
static_assert(sizeof(DATA_T) == 4 && offsetof(DATA_T, flags) == 2 && offsetof(DATA_T, streamNumber) == 3,
              "DATA_T layout");
static_assert(sizeof(DATA_T_VIDEO) == 8 && offsetof(DATA_T_VIDEO, flags) == 2 &&
                  offsetof(DATA_T_VIDEO, frameTime) == 4 && offsetof(DATA_T_VIDEO, timeMode) == 6,
              "DATA_T_VIDEO layout");
static_assert(sizeof(TStreamTag) == 32 && offsetof(TStreamTag, code) == 16 && offsetof(TStreamTag, kind) == 20 &&
                  offsetof(TStreamTag, streamNumber) == 24 && offsetof(TStreamTag, reserved28) == 28,
              "TStreamTag layout");
static_assert(sizeof(TSoundData) == 32 && offsetof(TSoundData, sampleRate) == 16 &&
                  offsetof(TSoundData, bytesPerSample) == 20 && offsetof(TSoundData, channels) == 24 &&
                  offsetof(TSoundData, sourceFlags) == 28,
              "TSoundData layout");
static_assert(sizeof(TSoundStreamCfg) == 36 && offsetof(TSoundStreamCfg, cfgCode) == 4 &&
                  offsetof(TSoundStreamCfg, codec) == 8 && offsetof(TSoundStreamCfg, dataType) == 12 &&
                  offsetof(TSoundStreamCfg, chunkLength) == 16 && offsetof(TSoundStreamCfg, sampleRate) == 24 &&
                  offsetof(TSoundStreamCfg, bytesPerSample) == 28 && offsetof(TSoundStreamCfg, channels) == 32,
              "TSoundStreamCfg layout");
