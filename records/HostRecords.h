// The records a host framework itself reads and makes, shared by hosts and plug-ins alike: the
// block type every notification travels in, and the event list ("Evt ") a host's sources
// report events with and read back. The host library needs no other record of the stream.
//
// The list inside an event list is a QList, made and read by Qt code: a plug-in must be built
// on the Qt its host runs. Layouts are packed and pinned below, as every record of the stream.
#pragma once

#include "../blocks/cCommandBlock.h"
#include "FourCC.h"

#include <QList>

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint32_t kCodeNtfy = FourCC("ntfy"); // block type of every notification
constexpr uint32_t kCodeEvt = FourCC("Evt ");  // notification code of an event list

#pragma pack(push, 1)

// One event of an event list.
struct TEventListEntry {
    uint32_t word0;
    uint32_t word1;
    uint32_t streamNumber;   // the stream the event belongs to
    std::string text;
};

// "Evt ": a list of events, in order.
struct TEventList {
    TEventList() : notifyCode(kCodeEvt) {}
    uint32_t notifyCode;
    QList<TEventListEntry> entries;
};

#pragma pack(pop)

using cEventListBlock = cCommandBlock<TEventList, kCodeNtfy, CBrick*, 10>;

static_assert(kCodeNtfy == 0x7966746Eu && kCodeEvt == 0x20747645u, "codes");
static_assert(sizeof(TEventListEntry) == 16 && offsetof(TEventListEntry, streamNumber) == 8 &&
                  offsetof(TEventListEntry, text) == 12,
              "TEventListEntry layout");
static_assert(sizeof(TEventList) == 8 && offsetof(TEventList, entries) == 4, "TEventList layout");
