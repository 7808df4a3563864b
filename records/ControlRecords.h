// Records of control and notification blocks: chunk requests, play commands and the
// notifications that travel beside the data.
//
// A control block's type names its record ("Chun", "Play"); every notification is a block of
// type "ntfy" whose record begins with a notification code. The layouts are shared with the
// neighbouring bricks: packed, little-endian, offsets pinned below. Records that only arrive
// here are given a layout that keeps the offsets this library reads; fields named reserved*
// are not read.
#pragma once

#include "Codes.h"
#include "HostRecords.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#pragma pack(push, 1)

// "Chun": a request for the chunk of archive at `time`.
struct TCmdRequestChunk {
    uint64_t time;
    uint32_t mode; // kModeOneMoreStep, or any other value
};
// Request mode that moves the chunk answered beyond the archive's bound one more step away.
constexpr uint32_t kModeOneMoreStep = 2;

// "Play": sets the play direction.
struct TCmdPlay {
    uint8_t reserved0[8];
    bool forward;
    uint8_t reserved9[3];
};

// The direction a play command asks for: any byte but 0 means forward. The byte is read as a
// byte, since a sender may put any value there and a bool holding one other than 0 or 1 is no
// valid bool; every reader of the command goes through here.
inline bool PlaysForward(const TCmdPlay& play)
{
    uint8_t forward;
    std::memcpy(&forward, &play.forward, sizeof forward);
    return forward != 0;
}

// The common beginning of every notification record.
struct TNotifyBase {
    uint32_t notifyCode;
};

// "NMsg": a message for whoever shows them.
struct TNotifyMessage {
    TNotifyMessage() : notifyCode(kCodeNMsg), sender(0), category(0), messageCode(0), level(-1) {}
    uint32_t notifyCode;
    uint32_t sender;   // signature of the brick that sent it
    uint32_t category; // kCodeWarn for a warning
    uint32_t messageCode;
    int32_t level;
    std::string text;
    std::string details;
};

// "Rdy ": the answer to a reset, echoing its values.
struct TReadyNotification {
    TReadyNotification() : notifyCode(kCodeRdy), value1(0), value2(0), flag(1), value3(1) {}
    uint32_t notifyCode;
    uint32_t value1;
    uint32_t value2;
    uint8_t flag;
    uint32_t value3;
};

// "rset": resets the bricks it reaches.
struct TVRN3ResetNotify {
    uint32_t notifyCode;
    uint8_t reserved4[8];
    uint32_t value1;
    uint32_t value2;
    uint32_t value3;
    uint8_t flag;
};

// "TimR": the archive's time range.
struct TSrcTimeRange {
    uint32_t notifyCode;
    uint64_t begin;
    uint64_t end;
};

// "Gist": an activity summary, kept by the brick it reaches.
struct TActivityGist {
    uint32_t notifyCode;
};

#pragma pack(pop)

static_assert(sizeof(TCmdRequestChunk) == 12 && offsetof(TCmdRequestChunk, mode) == 8, "TCmdRequestChunk layout");
static_assert(sizeof(TCmdPlay) == 12 && offsetof(TCmdPlay, forward) == 8 && sizeof(bool) == 1, "TCmdPlay layout");
static_assert(offsetof(TNotifyMessage, sender) == 4 && offsetof(TNotifyMessage, category) == 8 &&
                  offsetof(TNotifyMessage, messageCode) == 12 && offsetof(TNotifyMessage, level) == 16 &&
                  offsetof(TNotifyMessage, text) == 20,
              "TNotifyMessage layout up to its first string");
// The two strings are one pointer each: 4 bytes on i386, 8 on amd64.
static_assert(sizeof(void*) != 4 || (sizeof(TNotifyMessage) == 28 && offsetof(TNotifyMessage, details) == 24),
              "TNotifyMessage layout (i386)");
static_assert(sizeof(void*) != 8 || (sizeof(TNotifyMessage) == 36 && offsetof(TNotifyMessage, details) == 28),
              "TNotifyMessage layout (amd64)");
static_assert(sizeof(TReadyNotification) == 17 && offsetof(TReadyNotification, flag) == 12 &&
                  offsetof(TReadyNotification, value3) == 13,
              "TReadyNotification layout");
static_assert(sizeof(TVRN3ResetNotify) == 25 && offsetof(TVRN3ResetNotify, value1) == 12 &&
                  offsetof(TVRN3ResetNotify, value2) == 16 && offsetof(TVRN3ResetNotify, value3) == 20 &&
                  offsetof(TVRN3ResetNotify, flag) == 24,
              "TVRN3ResetNotify layout");
static_assert(sizeof(TSrcTimeRange) == 20 && offsetof(TSrcTimeRange, begin) == 4 && offsetof(TSrcTimeRange, end) == 12,
              "TSrcTimeRange layout");
