// BlockText: a block of the stream protocol in one readable line, its record's fields by name.
//
// The one describer of blocks for people: vrn3-play's trace and vrn3-replay's report of a
// difference both use it. It reads the data as CBlockWire carries it (a capture's packet, or a
// live block flattened) and never beyond it: a record cut short shows its type and size only.
// Every layout and code it names comes from records/.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class cMemBlock;

class BlockText {
public:
    // "<type> size <bytes> <fields>" of a block whose wire data is `data`.
    static std::string Describe(uint32_t type, const std::vector<uint8_t>& data);
    // The same of a live block, flattened first.
    static std::string Describe(const cMemBlock& block);
};
