// Every four-character code of the stream, written once, as text.
//
// A code is a 32-bit value whose little-endian bytes spell the text in memory order, so "Hdr3"
// is 0x33726448; codes compare as whole 32-bit values. The compiler turns each text into its
// value here. Never write a multi-character literal such as 'Dat3' instead: GCC gives it the
// big-endian value, which no block carries.
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
        text += c >= 0x20 && c < 0x7F ? c : '.';
    }
    return text;
}

// Data blocks and records.
constexpr uint32_t kCodeHdr3 = FourCC("Hdr3"); // stream header, block type and record code
constexpr uint32_t kCodeDat3 = FourCC("Dat3"); // data fragment record code
constexpr uint32_t kCodeSnd3 = FourCC("snd3"); // block type of a sound data fragment
constexpr uint32_t kCodeVid3Record = FourCC("Vid3"); // video fragment record code
constexpr uint32_t kCodeVid3 = FourCC("vid3"); // block type of a video data fragment
constexpr uint32_t kCodeTag = FourCC("Tag "); // stream tag, block type and record code
constexpr uint32_t kCodeTagS = FourCC("TagS"); // tag that opens a stretch of archive
constexpr uint32_t kCodeTagF = FourCC("TagF"); // tag that closes a stretch of archive
constexpr uint32_t kCodeSCDA = FourCC("SCDA"); // sound data, block type and record code
constexpr uint32_t kCodeIma1 = FourCC("ima1"); // coding of the sound that leaves the brick

// Control blocks.
constexpr uint32_t kCodeChun = FourCC("Chun"); // chunk request
constexpr uint32_t kCodePlay = FourCC("Play"); // play command
constexpr uint32_t kCodeGTmR = FourCC("GTmR"); // passed on unchanged

// Notifications: the block type, then the codes in the records' first word.
constexpr uint32_t kCodeNtfy = FourCC("ntfy");
constexpr uint32_t kCodeSCfg = FourCC("SCfg");
constexpr uint32_t kCodeNMsg = FourCC("NMsg");
constexpr uint32_t kCodeEvt = FourCC("Evt ");
constexpr uint32_t kCodeRdy = FourCC("Rdy ");
constexpr uint32_t kCodeTimR = FourCC("TimR");
constexpr uint32_t kCodeGist = FourCC("Gist");
constexpr uint32_t kCodeRset = FourCC("rset");

// Category and message code of the warning about a time outside the archive.
constexpr uint32_t kCodeWarn = FourCC("Warn");
constexpr uint32_t kCodeW002 = FourCC("W002");

static_assert(kCodeHdr3 == 0x33726448u && kCodeDat3 == 0x33746144u && kCodeSnd3 == 0x33646E73u, "codes");
static_assert(kCodeVid3Record == 0x33646956u && kCodeVid3 == 0x33646976u && kCodeTag == 0x20676154u, "codes");
static_assert(kCodeTagS == 0x53676154u && kCodeTagF == 0x46676154u && kCodeSCDA == 0x41444353u, "codes");
static_assert(kCodeIma1 == 0x31616D69u && kCodeNtfy == 0x7966746Eu && kCodeSCfg == 0x67664353u, "codes");
static_assert(kCodeChun == 0x6E756843u && kCodePlay == 0x79616C50u && kCodeGTmR == 0x526D5447u, "codes");
static_assert(kCodeNMsg == 0x67734D4Eu && kCodeEvt == 0x20747645u && kCodeRdy == 0x20796452u, "codes");
static_assert(kCodeTimR == 0x526D6954u && kCodeGist == 0x74736947u && kCodeRset == 0x74657372u, "codes");
static_assert(kCodeWarn == 0x6E726157u && kCodeW002 == 0x32303057u, "codes");
