// Makers of the blocks a host puts on a brick's data path.
//
// A brick dispatches data blocks on their block type: "Hdr3", "snd3", "vid3", "Tag ". The views of
// BlockTypes.h default to their record code as the type, which for fragments is no data-path
// type: a cDataBlock(n) is a "Dat3" block and a cVideoBlock(n) a "Vid3" block, and a brick drops
// both unseen. Make data-path blocks with these functions instead. Each returns a new block that
// the caller holds alone, every record field set (reserved ones to 0), the payload bytes copied
// in. They throw std::bad_alloc.
#pragma once

#include "BlockTypes.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// A header ("Hdr3") with every stream entry empty; fill in the entries the brick reads.
inline cHeaderBlock MakeHeaderBlock()
{
    cHeaderBlock block(0, kCodeHdr3);
    HDR_T& header = block.SoleRecord(); // made here, not yet shared
    header.reserved0 = header.reserved4 = 0;
    for (STREAM_T& stream : header.streams)
        stream.reserved0 = stream.kind = 0;
    return block;
}

// A fragment ("snd3") of one sound record of stream `streamNumber`: `kind` tells whether it is
// the whole record or its first, a middle or the last part. The length field names the size of a
// middle or last fragment, which is therefore at most 65535 bytes; a whole or first fragment's
// payload is its block's, whatever its length field (the size's low 16 bits) says.
inline cDataBlock MakeSoundFragment(uint8_t streamNumber, EFragmentKind kind, const void* payload, uint32_t size)
{
    assert((kind == kFragmentWhole || kind == kFragmentFirst || size <= UINT16_MAX) &&
           "a continuation's length field names its size");
    cDataBlock block(size, kCodeSnd3, payload);
    DATA_T& fragment = block.SoleRecord(); // made here, not yet shared
    fragment.length = static_cast<uint16_t>(size);
    fragment.flags = FragmentFlags(kind);
    fragment.streamNumber = streamNumber;
    return block;
}

// One sound record of `size` bytes of stream `streamNumber` cut into fragments of `step` bytes
// (the last one shorter), in order: a single whole fragment when `step` is 0 or not smaller than
// the record. A middle or last fragment holds at most 65535 bytes, so a record that is cut needs a
// `step` no larger.
inline std::vector<cDataBlock> CutSoundRecord(uint8_t streamNumber, const uint8_t* record, size_t size, size_t step)
{
    if (step == 0 || step >= size)
        step = size;
    std::vector<cDataBlock> fragments;
    for (size_t at = 0; at < size; at += step) {
        const size_t n = std::min(step, size - at);
        const bool first = at == 0;
        const bool last = at + n == size;
        const EFragmentKind kind = first && last ? kFragmentWhole
                                   : first       ? kFragmentFirst
                                   : last        ? kFragmentLast
                                                 : kFragmentMiddle;
        fragments.push_back(MakeSoundFragment(streamNumber, kind, record + at, static_cast<uint32_t>(n)));
    }
    return fragments;
}

// A fragment ("vid3") of a video frame whose time lies `frameTime` units after its chunk's start.
inline cVideoBlock MakeVideoFragment(EFragmentKind kind, uint16_t frameTime, const void* frame, uint32_t size)
{
    cVideoBlock block(size, kCodeVid3, frame);
    DATA_T_VIDEO& fragment = block.SoleRecord(); // made here, not yet shared
    fragment = DATA_T_VIDEO{};
    fragment.flags = FragmentFlags(kind);
    fragment.frameTime = frameTime;
    return block;
}

// A tag ("Tag ") of kind `code` (kCodeTagS or kCodeTagF) at `time`, for stream `streamNumber`.
inline cTagBlock MakeTagBlock(uint32_t code, uint64_t time, uint32_t streamNumber)
{
    cTagBlock block(0, kCodeTag);
    TStreamTag& tag = block.SoleRecord(); // made here, not yet shared
    tag.time = time;
    std::memset(tag.reserved8, 0, sizeof tag.reserved8);
    tag.code = code;
    tag.kind = 0;
    tag.streamNumber = streamNumber;
    tag.reserved28 = 0;
    return block;
}
