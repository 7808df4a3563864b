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
    uint32_t streamNumber; // the stream the event belongs to
    std::string text;
};

// "Evt ": a list of events, in order.
struct TEventList {
    TEventList() : notifyCode(kCodeEvt) {}
    uint32_t notifyCode;
    QList<TEventListEntry> entries;
};

#pragma pack(pop)

using cEventListBlock = cCommandBlock<TEventList, kCodeNtfy>;

static_assert(kCodeNtfy == 0x7966746Eu && kCodeEvt == 0x20747645u, "codes");
static_assert(offsetof(TEventListEntry, streamNumber) == 8 && offsetof(TEventListEntry, text) == 12 &&
                  offsetof(TEventList, entries) == 4,
              "event list offsets, the same with 4- and 8-byte pointers");
// i386: a std::string and a QList are one 4-byte pointer each.
static_assert(sizeof(void*) != 4 || (sizeof(TEventListEntry) == 16 && sizeof(TEventList) == 8),
              "event list sizes (i386)");
// amd64: they are one 8-byte pointer each.
static_assert(sizeof(void*) != 8 || (sizeof(TEventListEntry) == 20 && sizeof(TEventList) == 12),
              "event list sizes (amd64)");
