// The pcapng block types and byte-order mark a capture file is made of, shared by the recorder
// that writes captures and the reader that reads them back, so that both speak of one format.
#pragma once

#include <cstdint>

constexpr uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr uint32_t kInterfaceBlock = 1;
constexpr uint32_t kEnhancedPacketBlock = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
