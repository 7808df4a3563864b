// Every four-character code of the stream, written once, as text (FourCC.h turns each into its
// value). The two the host framework reads itself, the notification block type "ntfy" and the
// event list's "Evt ", are in HostRecords.h.
#pragma once

#include "FourCC.h"

// Data blocks and records.
constexpr uint32_t kCodeHdr3 = FourCC("Hdr3");       // stream header, block type and record code
constexpr uint32_t kCodeDat3 = FourCC("Dat3");       // data fragment record code
constexpr uint32_t kCodeSnd3 = FourCC("snd3");       // block type of a sound data fragment
constexpr uint32_t kCodeVid3Record = FourCC("Vid3"); // video fragment record code
constexpr uint32_t kCodeVid3 = FourCC("vid3");       // block type of a video data fragment
constexpr uint32_t kCodeTag = FourCC("Tag ");        // stream tag, block type and record code
constexpr uint32_t kCodeTagS = FourCC("TagS");       // tag that opens a stretch of archive
constexpr uint32_t kCodeTagF = FourCC("TagF");       // tag that closes a stretch of archive
constexpr uint32_t kCodeSCDA = FourCC("SCDA");       // sound data, block type and record code
constexpr uint32_t kCodeIma1 = FourCC("ima1");       // coding of the sound that leaves the brick

// Control blocks.
constexpr uint32_t kCodeChun = FourCC("Chun"); // chunk request
constexpr uint32_t kCodePlay = FourCC("Play"); // play command
constexpr uint32_t kCodeGTmR = FourCC("GTmR"); // passed on unchanged

// Notifications: the codes in the records' first word (every notification is an "ntfy" block).
constexpr uint32_t kCodeSCfg = FourCC("SCfg");
constexpr uint32_t kCodeNMsg = FourCC("NMsg");
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
static_assert(kCodeIma1 == 0x31616D69u && kCodeSCfg == 0x67664353u, "codes");
static_assert(kCodeChun == 0x6E756843u && kCodePlay == 0x79616C50u && kCodeGTmR == 0x526D5447u, "codes");
static_assert(kCodeNMsg == 0x67734D4Eu && kCodeRdy == 0x20796452u, "codes");
static_assert(kCodeTimR == 0x526D6954u && kCodeGist == 0x74736947u && kCodeRset == 0x74657372u, "codes");
static_assert(kCodeWarn == 0x6E726157u && kCodeW002 == 0x32303057u, "codes");
