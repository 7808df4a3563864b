// Four-character codes: a code is a 32-bit value whose little-endian bytes spell its text in
// memory order, so "Hdr3" is 0x33726448; codes compare as whole 32-bit values. The compiler turns
// each text into its value here. Never write a multi-character literal such as 'Dat3' instead:
// GCC gives it the big-endian value, which no block carries.
#pragma once

#include <cstdint>
#include <string>

constexpr uint32_t FourCC(const char (&text)[5])
{
    return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}

// The text a code spells, for messages and traces: up to four characters, ending at the first
// NUL (a codec named by fewer than four characters), with any byte that is not printable ASCII
// shown as '.'.
inline std::string CodeText(uint32_t code)
{
    std::string text;
    for (int i = 0; i < 4 && (code >> 8 * i & 0xFF) != 0; ++i) {
        const char c = static_cast<char>(code >> 8 * i & 0xFF);
        const char shown = c >= 0x20 && c < 0x7F ? c : '.';
        text += shown; // GCOVR_EXCL_BR_LINE: exception edge; gcov flags it only where run
    }
    return text;
}
