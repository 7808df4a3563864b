// WireText: a captured block in one readable line, its record's fields by name.
//
// Used where a person compares blocks: the replay's report of the first difference. Reads the
// data as CBlockWire carries it and never beyond it: a record cut short shows its size only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class WireText {
public:
    static std::string Describe(uint32_t type, const std::vector<uint8_t>& data);
};
