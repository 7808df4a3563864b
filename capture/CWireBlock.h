// CWireBlock: a block made again from its captured data, as its sender made it.
//
// The inverse of CBlockWire::Flatten, beside it and read through the same FlatLayout: the data
// path's records become structure blocks of their record type ("Hdr3" with its strings, "snd3",
// "vid3", "Tag ", "SCDA"; a data block of another type is made as a fragment block of that
// type), the control and notification records command blocks ("Evt " with its list, "NMsg" with
// its texts, every other record as its bytes). Each call returns a new block the caller holds
// alone, of the captured type and size. Data that does not fit its type's form (a flattened
// header whose texts run past the data, an event list cut short, an event list or message carried
// as plain bytes, whose pointers would be the recording process's) throws std::runtime_error
// saying what is wrong; allocation throws std::bad_alloc. Built into the reader's static library,
// so that the recorder's shared library keeps its interface.
#pragma once

#include "../blocks/cMemBlock.h"

#include <cstdint>
#include <vector>

class CWireBlock {
public:
    // Command and notification records are made in a record of this many bytes at most.
    static constexpr uint32_t kLargestCommand = 256;

    static cMemBlock Rebuild(uint32_t type, uint8_t form, const std::vector<uint8_t>& data);
};
