// The pcapng block types, options and byte-order mark a capture file is made of, shared by the
// recorder that writes captures and the reader that reads them back (both in this folder), so
// that both speak of one format.
#pragma once

#include <cstdint>

constexpr uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr uint32_t kInterfaceBlock = 1;
constexpr uint32_t kInterfaceStatisticsBlock = 5;
constexpr uint32_t kEnhancedPacketBlock = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;

// The recorder ends a capture with an interface statistics block whose isb_ifrecv option counts
// the packets written: Wireshark shows it among the statistics and skips it in the packet list,
// and a reader tells a whole capture from a cut one by it.
constexpr uint16_t kOptionEnd = 0;
constexpr uint16_t kOptionPacketsReceived = 4; // isb_ifrecv, a 64-bit count
